#include <gtest/gtest.h>

#include <string>

#include "link/engine_session.h"
#include "link/inner_frame.h"
#include "support/bbs_on_engine.h"

namespace orn {
namespace {

using test::BbsOnEngine;

const char* const kOnePort = "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\n";

std::string Kinds(const std::vector<ApiFrame>& frames) {
  std::string k;
  for (const ApiFrame& f : frames) k += f.kind;
  return k;
}

TEST(PortListTest, ValidEntriesKeepTheirEngineNumbers) {
  struct Case {
    const char* text;
    std::vector<std::pair<int, std::string>> ports;
  } cases[] = {
      {"2;VHF 1200;UHF 9600;", {{0, "VHF 1200"}, {1, "UHF 9600"}}},
      {"1;Port1 first soundcard mono;Port2 INVALID CHANNEL;Port3 INVALID CHANNEL;Port4 INVALID CHANNEL;"
       "Port5 INVALID CHANNEL;Port6 INVALID CHANNEL;",
       {{0, "first soundcard mono"}}},
      // A second sound card leaves gaps.
      {"2;Port1 first soundcard mono;Port2 INVALID CHANNEL;Port3 second soundcard mono;",
       {{0, "first soundcard mono"}, {2, "second soundcard mono"}}},
      {"0;", {}},
      {"", {}},
      {"garbage without separator", {}},
  };
  for (const Case& c : cases) {
    const auto ports = ParsePortList(c.text);
    ASSERT_EQ(ports.size(), c.ports.size()) << c.text;
    for (size_t i = 0; i < ports.size(); ++i) {
      EXPECT_EQ(ports[i].number, c.ports[i].first) << c.text;
      EXPECT_EQ(ports[i].description, c.ports[i].second) << c.text;
    }
  }
}

TEST(InnerFrameTest, ConnectThroughTwoDigipeatersCarriesA22ByteRequest) {
  std::string data(1, 'V');
  data += PrepareViaList("XX1DIG,XX2DIG-3");
  const std::string frame = BuildOutFrame({'S', 0, "XX9ORN-1", "XX5DST", data});
  ASSERT_EQ(frame.size(), 24u + 22 + 1);
  EXPECT_EQ(frame[0], 'S');
  EXPECT_EQ(frame.substr(2, 9), std::string("XX9ORN-1\0", 9));
  EXPECT_EQ(ReadLe16(&frame[22]), 22);
  EXPECT_EQ(frame.substr(24, 2), std::string("V\x02"));
  EXPECT_EQ(frame.substr(26, 10), std::string("XX1DIG\0\0\0\0", 10));
  EXPECT_EQ(frame.substr(36, 10), std::string("XX2DIG-3\0\0", 10));
  EXPECT_EQ(frame.back(), '\0');

  EXPECT_EQ(ParseViaList(PrepareViaList(" A, B  C,,")), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(PrepareViaList(""), std::string(1, '\0'));
}

class LinkTest : public BbsOnEngine {};

TEST_F(LinkTest, SetUpRegistersMyCallOnTheEnginePortsInUse) {
  engine_.portList = "3;Port1 vhf;Port2 INVALID CHANNEL;Port3 uhf;Port4 hf;";
  StartWith("[RADIO]\nPORTS=3\n[PORT1]\nPORTNUM=2\n[PORT2]\nENABLED=0\nPORTNUM=3\n");
  const auto sent = engine_.Take();
  EXPECT_EQ(Kinds(sent), "mRGXX");
  EXPECT_EQ(sent[3].port, 0);
  EXPECT_EQ(sent[4].port, 2);
  EXPECT_EQ(sent[4].callFrom, "XX9ORN-1");
  EXPECT_EQ(Client().BBSOK, 1u);
  EXPECT_TRUE(view_.boxes.empty());
  EXPECT_EQ(bbs_->cfg().maxport, 3);
  EXPECT_EQ(bbs_->cfg().Ports[1].port, "uhf");
  EXPECT_EQ(bbs_->cfg().Ports[1].engineport, 2);
  EXPECT_EQ(Client().numberchildren, 3);  // the monitor and one channel per enabled port
}

TEST_F(LinkTest, EachFailedSetUpStepLeavesTheBbsIdle) {
  struct Case {
    bool reachable, answersVersion;
    int refused;
    const char* box;
  } cases[] = {
      {false, true, -1, "No packet engine answers at 127.0.0.1:8000 "},
      {true, false, -1, "does not answer as a packet engine."},
      {true, true, 0, "refused to register XX9ORN-1."},
  };
  for (const Case& c : cases) {
    bbs_.reset();
    view_.boxes.clear();
    engine_.reachable = c.reachable;
    engine_.answersVersion = c.answersVersion;
    engine_.refusedPorts = {c.refused};
    StartWith(kOnePort);
    ASSERT_EQ(view_.boxes.size(), 1u) << c.box;
    EXPECT_NE(view_.boxes[0].find(c.box), std::string::npos) << view_.boxes[0];
    EXPECT_EQ(Client().BBSOK, 0u);
    EXPECT_EQ(view_.status, "BBS OFF:No RadioPorts");
    EXPECT_EQ(Client().numberchildren, 3);  // the channels exist all the same
    bbs_->Shutdown();
  }
}

class ConnectedLinkTest : public BbsOnEngine {
 protected:
  void SetUp() override {
    StartWith(kOnePort);
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    engine_.Take();
  }
};

TEST_F(ConnectedLinkTest, OutputIsPackedIntoFullFramesAndTheRestHeld) {
  const std::string first(300, 'a');
  Link().SendPacket(Ch(1), 0, "XX1ABC", first.data(), 300, 'D');
  auto sent = engine_.Take();
  ASSERT_EQ(sent.size(), 2u);
  for (const ApiFrame& f : sent) {
    EXPECT_EQ(f.kind, 'D');
    EXPECT_EQ(f.pid, 0xF0);
    EXPECT_EQ(f.callFrom, "XX9ORN-1");
    EXPECT_EQ(f.callTo, "XX1ABC");
    EXPECT_EQ(f.data.size(), 128u);
  }
  EXPECT_TRUE(Ch(1).transparent);
  EXPECT_EQ(Ch(1).transcount, 44);

  // More before the deadline: the held bytes go first.
  const std::string more(100, 'b');
  Link().SendPacket(Ch(1), 0, "XX1ABC", more.data(), 100, 'D');
  sent = engine_.Take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].data, std::string(44, 'a') + std::string(84, 'b'));
  EXPECT_EQ(Ch(1).transcount, 16);

  // Short output waits for the hold time, then leaves as one frame.
  Link().SendPacket(Ch(1), 0, "XX1ABC", "cd", 2, 'D');
  timers_.Fire(bbs_->serviceTimers()->servicetimer_id);
  EXPECT_TRUE(engine_.Take().empty());
  clock_.Advance(3);
  timers_.Fire(bbs_->serviceTimers()->servicetimer_id);
  sent = engine_.Take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].data, std::string(16, 'b') + "cd");
  EXPECT_FALSE(Ch(1).transparent);
}

TEST_F(ConnectedLinkTest, UnprotoTextIsCutIntoPacketLengths) {
  bbs_->cfg().Ports[0].unprotoaddress = "MAIL";
  Link().SendUnprotoData(0, std::string(300, 'u'));
  const auto sent = engine_.Take();
  ASSERT_EQ(sent.size(), 3u);
  const size_t sizes[] = {128, 128, 44};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sent[i].kind, 'M');
    EXPECT_EQ(sent[i].callFrom, "XX9ORN-1");
    EXPECT_EQ(sent[i].callTo, "MAIL");
    EXPECT_EQ(sent[i].data.size(), sizes[i]);
  }
}

TEST_F(ConnectedLinkTest, RequestsMapToTheEngineKinds) {
  struct Case {
    std::function<void()> request;
    char kind;
    const char* from;
    const char* to;
    std::string data;
  } cases[] = {
      {[&] { Link().Connect(0, "xx5dst-0", ""); }, 'C', "XX9ORN-1", "XX5DST", ""},
      {[&] { Link().Connect(0, "XX5DST", "XX1DIG,XX2DIG"); }, 'v', "XX9ORN-1", "XX5DST",
       std::string("\x02XX1DIG\0\0\0\0XX2DIG\0\0\0\0", 21)},
      {[&] { Link().DisConnect(0, "XX1ABC"); }, 'd', "XX9ORN-1", "XX1ABC", ""},
      {[&] { Link().AskMaxFrame(0, "XX1ABC"); }, 'y', "", "", ""},
      {[&] { Link().AskMaxFrameWithCall(0, "XX1ABC"); }, 'Y', "XX9ORN-1", "XX1ABC", ""},
      {[&] { Link().Heard(0, "XX1ABC"); }, 'H', "", "", ""},
  };
  for (const Case& c : cases) {
    c.request();
    const auto sent = engine_.Take();
    ASSERT_EQ(sent.size(), 1u) << c.kind;
    EXPECT_EQ(sent[0].kind, c.kind);
    EXPECT_EQ(sent[0].callFrom, c.from) << c.kind;
    EXPECT_EQ(sent[0].callTo, c.to) << c.kind;
    EXPECT_EQ(sent[0].data, c.data) << c.kind;
  }
  EXPECT_TRUE(Ch(1).disconnectpend);
  // Raw frames are not sent at all.
  Link().SendPacketFrame(0, "XX1ABC", "x", 1, 'K');
  EXPECT_TRUE(engine_.Take().empty());
}

TEST_F(ConnectedLinkTest, QueueAnswersUpdateThePolledChannel) {
  ApiFrame y;
  y.kind = 'y';
  y.data = std::string("\x03\0\0\0", 4);
  engine_.Push(y);
  EXPECT_EQ(view_.channel(1).caption, "P:1 - C:1 - Q:(3)");
  EXPECT_EQ(Ch(1).framequeue, 3);
  EXPECT_EQ(Link().pollmaxframe, 2);
  EXPECT_TRUE(Link().oktopoll);

  ApiFrame Y;
  Y.kind = 'Y';
  Y.callFrom = "XX9ORN-1";
  Y.callTo = "XX1ABC";
  Y.data = std::string("\x05\0\0\0", 4);
  Link().pollmaxframe = 1;
  engine_.Push(Y);
  EXPECT_EQ(view_.channel(1).caption, "XX1ABC on PC(1-1) - Q:(5)");
  EXPECT_EQ(Ch(1).framequeue, 5);
}

TEST_F(ConnectedLinkTest, MonitorFramesFollowTheFilter) {
  const std::string text = " 1:Fm XX1ABC To XX9ORN-1 <I S0 R0 pid=0xF0 Len=4 P=0 >[01:05:26]\rmon\r\r";
  for (int filter : {60, 0, 4}) {
    bbs_->cfg().Monitor = filter;
    view_.channel(0).text.clear();
    for (char kind : {'I', 'S', 'U', 'T'}) {
      ApiFrame f;
      f.kind = kind;
      f.data = text + std::string(1, '\0');
      engine_.Push(f);
    }
    const std::string& shown = view_.channel(0).text;
    size_t count = 0;
    for (size_t at = shown.find("Fm XX1ABC"); at != std::string::npos; at = shown.find("Fm XX1ABC", at + 1)) ++count;
    EXPECT_EQ(count, filter == 60 ? 4u : filter == 4 ? 1u : 0u) << filter;
  }
  ApiFrame odd;
  odd.kind = 'g';
  engine_.Push(odd);
  EXPECT_NE(view_.channel(0).text.find("ERROR RECEIVED\n"), std::string::npos);
}

TEST_F(ConnectedLinkTest, ALongDataFrameReachesTheChannelWhole) {
  std::string data;
  for (int i = 0; i < 2048; ++i) data += static_cast<char>('A' + i % 26);
  engine_.Data(0, "XX1ABC", data);
  EXPECT_NE(view_.channel(1).text.find(data), std::string::npos);
}

TEST_F(ConnectedLinkTest, ABrokenStreamIsTheLossOfTheEngine) {
  ApiFrame f;
  f.kind = 'D';
  std::string bytes = EncodeApiFrame(f);
  WriteLe32(&bytes[28], 5000);
  engine_.PushBytes(bytes);
  EXPECT_EQ(Client().BBSOK, 0u);
  EXPECT_FALSE(engine_.IsOpen());
  EXPECT_FALSE(Ch(1).connected);
  EXPECT_EQ(view_.status, "Idle Mode! No Server Connection !");
}

}  // namespace
}  // namespace orn
