#include <gtest/gtest.h>

#include <string>

#include "bbs/bbs_cmd.h"
#include "context/prompts.h"
#include "platform/file_names.h"
#include "store/mail_beacon_list.h"
#include "store/msg_text.h"
#include "store/store.h"
#include "support/mailbox_session.h"

namespace orn {
namespace {

using test::MailboxSession;
using test::Marked;
using test::StoredMsg;

class ReadingTest : public MailboxSession {
 protected:
  // The header block that opens every message: titles and listing line.
  std::string Header(long position) {
    std::string line = FormatMsgHeader(Record(position));
    line.pop_back();
    return Marked("msgheader") + line;
  }
  UpdatemsgBeacon& Beacon() { return *bbs_->store()->MsgBeacon(); }
  long Pending(const std::string& call) { return Beacon().InList(call) ? Beacon().mails.howmany : 0; }
};

const char* const kRouted =
    "R:970507/1530z @:XX9ORN [XX9ORN ORNMBX(v)7.00]\n"
    "R:970506/1200z @:XX5ABC [Athens]\n"
    "\n"
    "From:XX2BBB\n"
    "body line\n";

TEST_F(ReadingTest, RoutingLinesAreFoldedIntoOnePathLineUnlessVerbose) {
  AddStation("XX1ABC");
  AddMsg({.text = kRouted});
  StartAndConnect({"XX1ABC"});
  EXPECT_EQ(RunToPrompt(Says("R 1001")),
            Header(1) + "Path:XX9ORN!XX5ABC!\r\rFrom:XX2BBB\rbody line\r" + "\r" + kFullPrompt);
  EXPECT_EQ(RunToPrompt(Says("RV 1001")),
            Header(1) +
                "R:970507/1530z @:XX9ORN [XX9ORN ORNMBX(v)7.00]\rR:970506/1200z @:XX5ABC [Athens]\r\r"
                "From:XX2BBB\rbody line\r\r" +
                kFullPrompt);
}

TEST_F(ReadingTest, ALongPathIsBrokenIntoLinesAndLongRoutingLinesStayWhole) {
  std::string text;
  for (int i = 0; i < 12; ++i) text += "R:970507/1530z @:XX" + std::to_string(i % 10) + "ABC.#ATH.GRC.EU [x]\n";
  // Longer than one read of the file: its tail must not show as text.
  text += "R:970507/1530z @:XX9ORN " + std::string(100, 'x') + "\n";
  text += "R:970507/1530z @:XX9LST\n";
  text += "Hello\n";
  AddStation("XX1ABC");
  AddMsg({.text = text.c_str()});
  StartAndConnect({"XX1ABC"});
  const std::string all = RunToPrompt(Says("R 1001"));
  std::string path = "Path:";
  std::string expected;
  for (int i = 0; i < 12; ++i) {
    path += "XX" + std::to_string(i % 10) + "ABC.#ATH.GRC.EU!";
    if (path.size() > 70) {
      expected += path + "\r";
      path.clear();
    }
  }
  expected += path + "XX9ORN!XX9LST!\rHello\r";
  EXPECT_EQ(all, Header(1) + expected + "\r" + kFullPrompt);
}

TEST_F(ReadingTest, ReturnBbsinLine) {
  TBBSCmd op(nullptr, 0L, kCmdRead);
  struct Case {
    const char* line;
    bool routing;
    const char* result;
  } cases[] = {
      {"R:970507/1530z @:XX9ORN [XX9ORN ORNMBX(v)7.00]\r", true, "XX9ORN!"},
      {"R:970507/1530z @XX5ABC.#ATH.GRC.EU\r", true, "XX5ABC.#ATH.GRC.EU!"},
      {"R:970507/1530z @:XX5ABC", true, "XX5ABC!"},
      {"R:970507/1530z no at\r", true, ""},
      {"R:@\r", true, "!"},
      {"From:XX2BBB\r", false, "From:XX2BBB\r"},
      {"r:970507 @:XX9ORN\r", false, "r:970507 @:XX9ORN\r"},
      {"R\r", false, "R\r"},
  };
  for (const Case& c : cases) {
    char line[kReadlnMax + 1];
    std::snprintf(line, sizeof line, "%s", c.line);
    EXPECT_EQ(op.ReturnBbsinLine(line), c.routing) << c.line;
    EXPECT_STREQ(line, c.result) << c.line;
  }
}

TEST_F(ReadingTest, ALongTextGoesOutInPortionsPacedByTheTimerAndTheQueue) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += std::string(49, 'a' + i % 26) + "\n";  // 5000 characters
  AddStation("XX1ABC");
  AddMsg({.text = text.c_str()});
  StartAndConnect({"XX1ABC"});
  std::string first = Says("R 1001");
  ASSERT_EQ(first.rfind(Header(1), 0), 0u);
  first.erase(0, Header(1).size());
  EXPECT_EQ(first.size(), 1800u);
  Ch(1).framequeue = 4;  // a full window
  EXPECT_EQ(Tick(), "");
  Ch(1).framequeue = 3;
  EXPECT_EQ(Tick().size(), 1800u);
  EXPECT_EQ(Tick().size(), 1400u);
  EXPECT_EQ(Tick(), std::string("\r") + kFullPrompt);
  EXPECT_EQ(Ch(1).Service, 0);
  EXPECT_FALSE(Ch(1).operation);
}

TEST_F(ReadingTest, ReadPermission) {
  AddStation("XX1ABC");
  const struct {
    StoredMsg msg;
    const char* reply;  // nullptr: the message is read
  } cases[] = {
      {{.type = "P", .to = "SYSOP"}, nullptr},
      {{.type = "P", .to = "XX7ZZ", .at = ""}, nullptr},
      {{.type = "P", .to = "XX7ZZ", .at = "XX9ORN.GRC.EU"}, nullptr},
      {{.type = "P", .to = "XX7ZZ", .at = "XX9ORN"}, "notauthortoread"},
      {{.type = "P", .to = "XX7ZZ.GRC.EU", .at = "XX9ORN"}, "notauthortoread"},
      {{.type = "P", .to = "XX1ABC.GRC.EU", .at = "XX9ORN"}, nullptr},
      {{.type = "P", .to = "XX7ZZ", .from = "XX1ABC.GRC.EU", .at = "XX9ORN"}, nullptr},
      {{.type = "B", .to = "XX7ZZ", .at = "XX9ORN"}, nullptr},
      {{.type = "B", .status = "K"}, "notauthortoread"},
  };
  for (const auto& c : cases) {
    StoredMsg m = c.msg;
    m.text = "hi\n";
    AddMsg(m);
  }
  StartAndConnect({"XX1ABC"});
  long number = 1001;
  for (const auto& c : cases) {
    const std::string n = std::to_string(number);
    const std::string header = Header(number - 1000);  // as it is before the read
    const std::string reply = RunToPrompt(Says("R " + n));
    EXPECT_EQ(reply, c.reply ? Marked(c.reply) + kFullPrompt : header + "hi\r\r" + kFullPrompt) << n;
    ++number;
  }
  const struct {
    const char* line;
    std::string reply;
  } errors[] = {
      {"R", Marked("notenoughparameters")}, {"R ", Marked("notenoughparameters")},
      {"RV", Marked("notenoughparameters")}, {"RX 1001", Marked("invalidparameters")},
      {"R 999", Marked("notfound")},         {"R 1100", Marked("notfound")},
      {"R abc", Marked("notfound")},
  };
  for (const auto& e : errors) EXPECT_EQ(Says(e.line), e.reply + kFullPrompt) << e.line;
}

TEST_F(ReadingTest, TheAddresseeReadingPrivateMailMarksItReadAndFreesTheBeaconCount) {
  AddStation("XX1ABC");
  AddStation("XX7ZZ");
  AddMsg({.type = "B", .to = "XX1ABC", .text = "bulletin\n"});                 // 1001
  AddMsg({.type = "P", .to = "XX1ABC.GRC.EU", .text = "private\n"});           // 1002
  AddMsg({.type = " ", .to = "XX1ABC", .text = "plain\n"});                    // 1003
  AddMsg({.type = "P", .to = "XX7ZZ", .at = "", .text = "for someone else\n"});  // 1004
  dir_.Write("BBS.LOG", "");
  StartAndConnect({"XX1ABC", "XX7ZZ"}, "[LOG]\nLOGOK=1\nLOGREAD=1\n");
  for (int i = 0; i < 3; ++i) Beacon().PutCallInList("XX1ABC");
  Beacon().PutCallInList("XX7ZZ");

  struct Case {
    const char* line;
    int channel;
    long position;
    const char* status;  // afterwards
    long pending;        // XX1ABC's count afterwards
  } cases[] = {
      {"R 1001", 1, 1, "N", 3},  // a bulletin keeps its status
      {"R 1002", 1, 2, "Y", 2},
      {"R 1002", 1, 2, "Y", 2},  // read again: counted out once only
      {"RV 1003", 1, 3, "Y", 1},
      {"R 1004", 1, 4, "N", 1},  // not the addressee
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    view_.msgRows.clear();
    RunToPrompt(Says(c.line, c.channel), "", c.channel);
    EXPECT_STREQ(Record(c.position).Status, c.status);
    EXPECT_EQ(Pending("XX1ABC"), c.pending);
    EXPECT_EQ(view_.msgRows, std::vector<long>{c.position});
  }
  EXPECT_EQ(Pending("XX7ZZ"), 1);
  const std::string log = dir_.Read("BBS.LOG");
  EXPECT_NE(log.find("-><Read> Msg#1002 from XX1ABC...\n"), std::string::npos) << log;
  EXPECT_NE(log.find("-><Read> Msg#1004 from XX1ABC...\n"), std::string::npos) << log;
}

TEST_F(ReadingTest, TheSysopsMailIndicatorGoesOffWhenTheLastOfItsMailIsRead) {
  AddStation("XX9ORN");
  AddMsg({.type = "P", .to = "XX9ORN", .text = "one\n"});
  AddMsg({.type = "P", .to = "XX9ORN", .text = "two\n"});
  StartAndConnect({"XX9ORN"});
  // Start-up found the sysop's unread mail.
  EXPECT_EQ(view_.mailIndicator, true);
  view_.mailIndicator.reset();
  Beacon().PutCallInList("XX9ORN");
  Beacon().PutCallInList("XX9ORN");
  RunToPrompt(Says("R 1001"));
  EXPECT_FALSE(view_.mailIndicator.has_value());
  RunToPrompt(Says("R 1002"));
  EXPECT_EQ(view_.mailIndicator, false);
}

TEST_F(ReadingTest, RMReadsTheStationsUnreadMailInTurn) {
  AddStation("XX1ABC");
  AddMsg({.type = "P", .to = "XX1ABC", .text = "first\n"});                   // 1001
  AddMsg({.type = "P", .status = "Y", .to = "XX1ABC", .text = "old\n"});      // 1002
  AddMsg({.type = "B", .to = "ALL", .text = "bulletin\n"});                   // 1003
  AddMsg({.type = "B", .to = "XX1ABC.GRC.EU", .text = "for me\n"});           // 1004
  AddMsg({.type = "P", .to = "XX1ABC", .text = ""});                          // 1005
  AddMsg({.type = "P", .to = "XX1ABC", .text = "last\n"});                    // 1006
  StartAndConnect({"XX1ABC"});
  // Each message follows the previous one without waiting.
  std::string expected = Header(1) + "first\r";
  std::string all = Says("RM");
  EXPECT_EQ(all, expected);
  expected = Header(4) + "for me\r";
  EXPECT_EQ(Tick(), expected);
  expected = Header(5) + Header(6) + "last\r";
  EXPECT_EQ(Tick(), expected);
  EXPECT_EQ(Tick(), std::string("\r") + kFullPrompt);
  EXPECT_STREQ(Record(1).Status, "Y");
  EXPECT_STREQ(Record(4).Status, "N");
  EXPECT_STREQ(Record(5).Status, "Y");
  EXPECT_STREQ(Record(6).Status, "Y");
  // Nothing left but the bulletin, which stays unread.
  EXPECT_EQ(RunToPrompt(Says("RM")), Header(4) + "for me\r\r" + kFullPrompt);
}

TEST_F(ReadingTest, AMessageWithoutItsTextEndsTheRead) {
  AddStation("XX1ABC");
  AddMsg({.type = "P", .to = "XX1ABC"});
  AddMsg({.type = "P", .to = "XX1ABC", .text = "x\n"});
  StartAndConnect({"XX1ABC"});
  EXPECT_EQ(Says("R 1001"), "No Text.\r" + std::string(kFullPrompt));
  EXPECT_STREQ(Record(1).Status, "N");
  EXPECT_EQ(Says("RM"), "No Text.\r" + std::string(kFullPrompt));
  EXPECT_FALSE(Ch(1).operation);
}

// A text cut short by a crash or a full disk: the reader gets what is there
// and is told the rest is lost; the sysop finds the message in the log.
TEST_F(ReadingTest, ATextCutShortIsSaidToTheReaderAndInTheLog) {
  AddStation("XX1ABC");
  AddMsg({.type = "P", .to = "XX1ABC", .text = "first line\nsecond line\n"});
  AddMsg({.type = "P", .to = "XX1ABC", .text = "whole\n"});
  ASSERT_TRUE(WriteFileReplacing(dir_ / "MAIL/1001.amm", "first line\r\nsec"));
  dir_.Write("BBS.LOG", "");
  StartAndConnect({"XX1ABC"}, "[LOG]\nLOGOK=1\nLOGOTHER=1\n");
  EXPECT_EQ(RunToPrompt(Says("R 1001")),
            Header(1) + "first line\rsec\r*** The text of this message is cut short: the rest is lost. ***\r\r" +
                kFullPrompt);
  EXPECT_NE(dir_.Read("BBS.LOG").find("<Msg text: cut short: 15 of 25 bytes> 1001 from XX1ABC"), std::string::npos)
      << dir_.Read("BBS.LOG");
  EXPECT_EQ(RunToPrompt(Says("R 1002")), Header(2) + "whole\r\r" + kFullPrompt);
}

TEST_F(ReadingTest, ADisconnectWhileReadingLetsTheOperationGo) {
  std::string text(6000, 'x');
  AddStation("XX1ABC");
  AddMsg({.type = "P", .to = "XX1ABC", .text = text.c_str()});
  StartAndConnect({"XX1ABC"});
  Says("R 1001");
  ASSERT_TRUE(Ch(1).operation);
  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  EXPECT_FALSE(Ch(1).operation);
  EXPECT_EQ(Tick(), "");
  EXPECT_STREQ(Record(1).Status, "N");
}

TEST_F(ReadingTest, ReadingCountsAgainstTheDownloadVolume) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += std::string(49, 'x') + "\n";  // 3000 characters
  AddStation("XX1ABC");
  AddMsg({.text = text.c_str()});
  StartAndConnect({"XX1ABC"});
  Ch(1).tdb->userdb.MaxDownload = 1;  // 1000 bytes
  Says("R 1001");
  EXPECT_EQ(Ch(1).maxdnld, 1800);
  Tick();
  EXPECT_EQ(Ch(1).maxdnld, 3000);
  EXPECT_TRUE(Disconnects().empty());
  Tick();
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
}

TEST_F(ReadingTest, ListingsAndTextsReachTheStationInItsCharacterSet) {
  for (const bool convert : {true, false}) {
    SCOPED_TRACE(convert ? "OEMANSI on" : "OEMANSI off");
    bbs_.reset();
    for (const char* f : {"MSG.ADB", "MSG.IDX", "USERS.ADB", "USERS.IDX"}) dir_.Write(f, "");
    AddStation("XX1ABC");
    AddMsg({.subject = "caf\xE9", .text = "na\xEFve\n"});
    StartAndConnect({"XX1ABC"}, convert ? "" : "[CHAR]\nOEMANSI=0\n");
    const CodePages& cp = Client().codePages();
    const std::string subject = convert ? cp.AnsiToOem("caf\xE9") : "caf\xE9";
    const std::string text = convert ? cp.AnsiToOem("na\xEFve") : "na\xEFve";
    ASSERT_NE(cp.AnsiToOem("caf\xE9"), "caf\xE9");
    EXPECT_NE(RunToPrompt(Says("LL")).find(subject + "\r"), std::string::npos);
    const std::string read = RunToPrompt(Says("R 1001"));
    EXPECT_NE(read.find(subject + "\r" + text + "\r"), std::string::npos);
  }
}

}  // namespace
}  // namespace orn
