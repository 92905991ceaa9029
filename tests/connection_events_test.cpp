#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/text.h"
#include "support/bbs_on_engine.h"

namespace orn {
namespace {

using test::BbsOnEngine;

// Two ports: engine port 0 with two channels, engine port 1 with one.
const char* const kTwoPorts =
    "[RADIO]\nPORTS=2\n[PORT0]\nCHANNELS=2\nBBSONLY=0\n[PORT1]\nCHANNELS=1\nPORTNUM=1\nBBSONLY=0\n";

class ConnectionEventsTest : public BbsOnEngine {
 protected:
  void SetUp() override {
    engine_.portList = "2;Port1 vhf;Port2 uhf;";
    StartWith(kTwoPorts);
    engine_.Take();
  }
};

TEST_F(ConnectionEventsTest, AStationGetsTheLowestIdleChannelOfItsPort) {
  EXPECT_EQ(Connects(0, "XX1ABC"), 1);
  EXPECT_TRUE(Ch(1).connected);
  EXPECT_TRUE(Ch(1).heconnected);
  EXPECT_EQ(view_.channel(1).caption, "XX1ABC on PC(1-1)");
  EXPECT_NE(view_.channel(1).text.find("*** CONNECTED To Station XX1ABC\n"), std::string::npos);
  EXPECT_EQ(view_.status, "BBS->Connection..");
  EXPECT_TRUE(view_.connectionIndicator);

  EXPECT_EQ(Connects(0, "XX2ABC-7"), 2);
  // The other port's channel is never used, even with port 0 full.
  EXPECT_EQ(Connects(0, "XX3ABC"), 0);
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX3ABC"});
  EXPECT_FALSE(Ch(3).connected);
  EXPECT_STREQ(Ch(3).UserCall, "NULL");

  EXPECT_EQ(Connects(1, "XX3ABC"), 3);
  EXPECT_EQ(view_.channel(3).caption, "XX3ABC on PC(2-1)");
  EXPECT_TRUE(Disconnects().empty());
}

TEST_F(ConnectionEventsTest, APortThatRefusesConnectionsDisconnectsTheCaller) {
  for (int conok : {0, 1}) {
    bbs_->cfg().Ports[0].conok = conok;
    bbs_->cfg().Ports[0].enabled = 1 - conok;  // refused either way
    EXPECT_EQ(Connects(0, "XX1ABC"), 0);
    EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
    EXPECT_FALSE(Ch(1).connected);
  }
}

TEST_F(ConnectionEventsTest, ChannelsInTerminalModeOrConnectingAreNotFree) {
  Ch(1).terminal = true;
  Ch(2).connectpend = true;
  EXPECT_EQ(Connects(0, "XX1ABC"), 0);
  Ch(2).connectpend = false;
  EXPECT_EQ(Connects(0, "XX1ABC"), 2);
}

TEST_F(ConnectionEventsTest, DisconnectEventsEndTheSessionOfTheirStation) {
  struct Case {
    const char* text;
  } cases[] = {
      {"*** DISCONNECTED From Station XX2ABC\r"},
      {"*** DISCONNECTED RETRYOUT With XX2ABC\r"},
      {"*** DISCONNECTED From Station XX2ABC"},  // without the carriage return
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    ASSERT_EQ(Connects(0, "XX2ABC"), 2);
    Ch(2).Service = 7;
    Ch(2).rcvwait = true;
    engine_.Event(0, c.text);
    EXPECT_FALSE(Ch(2).connected) << c.text;
    EXPECT_EQ(Ch(2).Service, 0);
    EXPECT_FALSE(Ch(2).rcvwait);
    EXPECT_STREQ(Ch(2).UserCall, "NULL");
    EXPECT_EQ(view_.channel(2).caption, "PC(1-2) - Idle");
    EXPECT_TRUE(Ch(1).connected) << c.text;
    EXPECT_EQ(view_.status, "BBS->Disconnection..");
    engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
    EXPECT_EQ(view_.status, "BBS->Idle Mode");
    EXPECT_FALSE(view_.connectionIndicator);
  }
  // An event for a station no channel holds is only shown in the monitor.
  engine_.Event(0, "*** DISCONNECTED RETRYOUT With XX7ZZZ\r");
  EXPECT_NE(view_.channel(0).text.find("RETRYOUT With XX7ZZZ"), std::string::npos);
}

TEST_F(ConnectionEventsTest, ARepeatedConnectOfTheSameStationKeepsItsSession) {
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  EXPECT_EQ(Connects(0, "XX1ABC"), 1);
  EXPECT_FALSE(Ch(2).connected);
  EXPECT_TRUE(Disconnects().empty());
}

TEST_F(ConnectionEventsTest, OurOwnConnectBecomesASessionWhenAnswered) {
  Ch(1).ToggleTerminal();
  ASSERT_TRUE(Ch(1).CanConnect());
  Ch(1).ConnectTo(" xx5dst, xx1dig ");
  const auto sent = engine_.Take("v");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].callTo, "XX5DST");
  EXPECT_EQ(sent[0].data[0], 1);
  EXPECT_TRUE(Ch(1).connectpend);
  EXPECT_EQ(view_.channel(1).labels["Action:"], "Connecting XX5DST");
  // A station calling in meanwhile does not take the connecting channel.
  EXPECT_EQ(Connects(0, "XX1ABC"), 2);

  engine_.Event(0, "*** CONNECTED With Station XX5DST\r");
  EXPECT_TRUE(Ch(1).connected);
  EXPECT_FALSE(Ch(1).connectpend);
  EXPECT_FALSE(Ch(1).heconnected);
  EXPECT_EQ(view_.channel(1).caption, "XX5DST on PC(1-1)");

  // The connect button asks only on an idle channel.
  EXPECT_FALSE(Ch(1).CanConnect());
  EXPECT_TRUE(Ch(3).CanConnect());
}

TEST_F(ConnectionEventsTest, AConnectWithoutTerminalModeTurnsItOnAndAFailureClearsTheAction) {
  ASSERT_FALSE(Ch(1).terminal);
  Ch(1).ConnectTo("xx5dst");
  ASSERT_EQ(engine_.Take("Cv").size(), 1u);
  EXPECT_TRUE(Ch(1).terminal);
  EXPECT_EQ(view_.channel(1).labels["Action:"], "Connecting XX5DST");
  engine_.Event(0, "*** DISCONNECTED RETRYOUT With XX5DST\r");
  EXPECT_STREQ(Ch(1).UserCall, "NULL");
  EXPECT_EQ(view_.channel(1).labels["Action:"], "");
  // A connect that comes up clears it as well.
  Ch(1).ConnectTo("xx5dst");
  EXPECT_EQ(view_.channel(1).labels["Action:"], "Connecting XX5DST");
  engine_.Event(0, "*** CONNECTED With Station XX5DST\r");
  EXPECT_STREQ(Ch(1).UserCall, "XX5DST");
  EXPECT_EQ(view_.channel(1).labels["Action:"], "");
}

TEST_F(ConnectionEventsTest, ConnectingToAStationAlreadyOnThePortIsRefused) {
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  Ch(2).ToggleTerminal();
  Ch(2).ConnectTo("xx1abc");
  EXPECT_TRUE(engine_.Take("Cv").empty());
  EXPECT_NE(view_.channel(2).text.find("Station Already Connected..\n"), std::string::npos);
  EXPECT_STREQ(Ch(2).UserCall, "NULL");
  for (const char* answer : {"", "  ", "null"}) {
    Ch(2).ConnectTo(answer);
    EXPECT_TRUE(engine_.Take("Cv").empty()) << answer;
  }
}

TEST_F(ConnectionEventsTest, DataFromAStationWithoutAChannelDisconnectsIt) {
  engine_.Data(0, "XX1ABC", "hello\r");
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
  // The channel of the same call on another port does not count.
  ASSERT_EQ(Connects(1, "XX1ABC"), 3);
  engine_.Data(0, "XX1ABC", "hello\r");
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
  EXPECT_TRUE(Ch(3).connected);
}

TEST_F(ConnectionEventsTest, StationTextIsShownAsLinesAndKeptInCmd) {
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  view_.channel(1).text.clear();
  engine_.Data(0, "XX1ABC", "one\rtwo\r\nthree\x84\r");  // 0x84 is a-umlaut in code page 437
  // What the station sent comes first; the BBS's answer follows.
  EXPECT_EQ(view_.channel(1).text.rfind("one\ntwo\nthree\xC3\xA4\n", 0), 0u) << view_.channel(1).text;
  // Each line is read in its turn: the last one is in cmd.
  EXPECT_STREQ(Ch(1).cmd, "three\x84\r");

  // The sysop holds the channel: the text is only shown.
  Ch(1).terminal = true;
  engine_.Data(0, "XX1ABC", "for the sysop\r");
  EXPECT_STREQ(Ch(1).cmd, "three\x84\r");
  EXPECT_NE(view_.channel(1).text.find("for the sysop\n"), std::string::npos);
}

TEST_F(ConnectionEventsTest, PanesShowAtMost2048BytesAndClearAt400Lines) {
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  TChannel& ch = Ch(1);
  view_.channel(1).text.clear();
  const std::string big(3000, 'x');
  Client().ShowToChannel(ch, big.data(), static_cast<int>(big.size()));
  EXPECT_EQ(view_.channel(1).text, std::string(2048, 'x'));

  const int before = view_.channel(1).clears;
  for (int i = ch.inputLines; i < 400; ++i) Client().ShowToChannel(ch, "line\r", 5);
  EXPECT_EQ(view_.channel(1).clears, before);
  Client().ShowToChannel(ch, "one more\r", 9);
  EXPECT_EQ(view_.channel(1).clears, before + 1);
  EXPECT_EQ(view_.channel(1).text, "one more\n");
}

TEST_F(ConnectionEventsTest, TheSysopTakesAChannelOverAndGivesItBack) {
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  Sent();
  TChannel& ch = Ch(1);
  CopyField(ch.prompt, "XX9ORN-1>\r");
  CopyField(ch.lang.sysopanswer, "Sysop here, $U.\r");
  CopyField(ch.lang.backinbbs, "Back in the BBS.\r");
  ch.ToggleTerminal();
  EXPECT_TRUE(ch.terminal);
  ch.TypedLine("Hallo \xC3\xA4");  // UTF-8 from the typing pane
  // Typed text goes out in code page 437.
  EXPECT_EQ(Sent(), "Sysop here, XX1ABC.\rHallo \x84\r");
  // What the station says meanwhile is for the sysop only.
  engine_.Data(0, "XX1ABC", "X\r");
  EXPECT_EQ(Sent(), "");

  ch.ToggleTerminal();
  EXPECT_FALSE(ch.terminal);
  EXPECT_EQ(Sent(), "Back in the BBS.\rXX9ORN-1>\r");

  ch.DisconnectButton();
  EXPECT_EQ(view_.channel(1).labels["Action:"], "Disconnecting XX1ABC");
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
  EXPECT_TRUE(ch.disconnectpend);
}

TEST_F(ConnectionEventsTest, HeldOutputDoesNotOutliveItsSession) {
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  Ch(1).SendTx("farewell-1\r", 11, 0);
  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  ASSERT_EQ(Connects(0, "XX2ABC"), 1);
  EXPECT_EQ(Sent().find("farewell-1"), std::string::npos);
}

}  // namespace
}  // namespace orn
