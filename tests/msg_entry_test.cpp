#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "channel/channel.h"
#include "channel/mdi_client.h"
#include "store/decode_send.h"
#include "context/prompts.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/store.h"
#include "support/bbs_session.h"

namespace orn {
namespace {

using test::BbsSession;
using test::Marked;

const char* const kOpenPort = "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\nTIMEOUT=0\n";
const char* const kNotStored = "Error... Msg not stored.\r";

struct Fields {
  const char* to;
  const char* at;
  const char* from;
  const char* bid;
  const char* subject;
};

MsgDB Decoded(const std::string& text) {
  MsgDB m{};
  std::string cn = text;
  for (int guard = 0; !cn.empty() && guard < 100; ++guard) DecodeSend(cn, m);
  EXPECT_EQ(cn, "") << text;
  return m;
}

TEST(DecodeSendTest, FieldsOfASendLine) {
  struct Case {
    const char* text;
    Fields want;
  } cases[] = {
      {"@ XX2BBS-1 < XX3ABC $ABC123", {"", "XX2BBS", "XX3ABC", "ABC123", ""}},
      // A marker right after a text ends it: the sender's text is a subject word.
      {"@XX2BBS<XX3ABC", {"", "XX2BBS", "", "", "XX3ABC"}},
      {"@ xx5bbs.#grc.grc.eu $ 1234_xx5bbs", {"", "XX5BBS.#GRC.GRC.EU", "", "1234_XX5BBS", ""}},
      {"hello @ WW", {"", "WW", "", "", "hello"}},
      {"Meeting on Friday", {"", "", "", "", "Meeting on Friday"}},
      {"< XX3ABC,XX4DEF $ 1234567890123", {"", "", "XX3ABC", "", ""}},
      {"@ -,- $", {"", "", "", "", ""}},
      {"$$@@<<", {"", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    const MsgDB m = Decoded(c.text);
    EXPECT_STREQ(m.AtBbs, c.want.at) << c.text;
    EXPECT_STREQ(m.FromStation, c.want.from) << c.text;
    EXPECT_STREQ(m.Bid, c.want.bid) << c.text;
    EXPECT_STREQ(m.MsgSubject, c.want.subject) << c.text;
  }
}

TEST(DecodeSendTest, LongFieldsAreCutToTheirRecordFields) {
  const MsgDB m = Decoded("@ " + std::string(60, 'A') + " " + std::string(300, 'b'));
  EXPECT_EQ(std::string(m.AtBbs), std::string(39, 'A'));
  EXPECT_EQ(std::string(m.MsgSubject), std::string(254, 'b'));
}

class MsgEntryTest : public BbsSession {
 protected:
  // XX1ABC (type R) logs in on channel 1; XX2DEF may follow; XX7ZZ is known
  // with its addresses.
  void LogIn(const std::string& ini = kOpenPort, const char* okWithBids = "N") {
    AddUser("XX1ABC", [&](UserDB& u) {
      CopyField(u.Type, "R");
      CopyField(u.Name, "Anna");
      CopyField(u.OkWithBids, okWithBids);
    });
    AddUser("XX2DEF", [&](UserDB& u) {
      CopyField(u.Type, "R");
      CopyField(u.OkWithBids, okWithBids);
    });
    AddUser("XX7ZZ", [&](UserDB& u) {
      CopyField(u.Type, "R");
      CopyField(u.HierAddress, "GRC.EU");
      CopyField(u.HomeBbs, "XX5BBS.GRC.EU");
    });
    StartWith(ini);
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    Sent();
  }
  std::string Says(const std::string& line, const std::string& call = "XX1ABC") {
    Type(call, line);
    return Sent();
  }
  // Sends a whole message: the send line, then the given lines.
  std::string Sends(const std::vector<std::string>& lines, const std::string& call = "XX1ABC") {
    std::string all;
    for (const std::string& l : lines) all += Says(l, call);
    return all;
  }
  Store& St() { return *Client().store; }
  long MsgRecords() {
    std::unique_ptr<TOrnDbase> db = St().OpenDbase();
    const long n = db->MsgCount();
    db->CloseAll();
    return n;
  }
  MsgDB Msg(long position) {
    std::unique_ptr<TOrnDbase> db = St().OpenDbase();
    MsgDB m{};
    MsgDBidx idx{};
    EXPECT_TRUE(db->ReadFromFile(position, m, idx));
    db->CloseAll();
    return m;
  }
  std::string Text(long number) {
    std::string text;
    EXPECT_TRUE(ReadMsgText(St().site().mailDir, number, &text)) << number;
    return text;
  }
  // The body of a stored text: what follows the head lines.
  std::string Body(long number) {
    const std::string text = Text(number);
    const size_t at = text.find("\n\n", text.find("\nTo:"));
    return at == std::string::npos ? text : text.substr(at + 2);
  }
  std::string Entering(const std::string& to, bool fromPrompt) {
    std::string t = "[entertext] " + to + Marked("finishwith");
    return fromPrompt ? t + "\r" : t;
  }
  std::string Stored(long number) { return "Msg# " + std::to_string(number) + ", " + Marked("hasbeenstored") + kFullPrompt; }
  long MailsFor(const std::string& call) {
    UpdatemsgBeacon* list = St().MsgBeacon();
    return list && list->InList(call) ? list->mails.howmany : 0;
  }
  std::string TempFile() { return dir_ / "temp/0.1"; }
};

TEST_F(MsgEntryTest, PrivateWithAnUnallowedBidIsAskedForItsSubjectAndHeld) {
  LogIn();
  EXPECT_EQ(Says("SP XX7ZZ @ XX5BBS $ 1234_XX5BBS"), Marked("subject"));
  EXPECT_EQ(Ch(1).Service, 2);
  EXPECT_EQ(Says("Meeting on Friday"), Entering("XX7ZZ.GRC.EU", true));
  EXPECT_EQ(Ch(1).Service, 3);
  EXPECT_EQ(Says("Bring the cables."), "");
  EXPECT_EQ(Says("/EX"), Marked("notallowedbids") + Stored(1001));
  EXPECT_EQ(Ch(1).Service, 0);
  EXPECT_FALSE(Ch(1).operation);

  const MsgDB m = Msg(1);
  EXPECT_EQ(m.MsgNo, 1001);
  EXPECT_STREQ(m.Type, "P");
  EXPECT_STREQ(m.Status, "H");
  EXPECT_STREQ(m.ToStation, "XX7ZZ.GRC.EU");
  EXPECT_STREQ(m.AtBbs, "XX5BBS");
  EXPECT_STREQ(m.FromStation, "XX1ABC");
  EXPECT_STREQ(m.Bid, "1234_XX5BBS");
  EXPECT_STREQ(m.MsgSubject, "Meeting on Friday");
  EXPECT_STREQ(m.MsgDate, "1200/261210");
  const MsgCounters& c = St().counters;
  EXPECT_EQ(c.lastmsg, 1001);
  EXPECT_EQ(c.totalmsg, 1);
  EXPECT_EQ(c.activemsg, 0);
  EXPECT_EQ(c.heldmsg, 1);
  EXPECT_TRUE(St().Bids.WeHaveThebid("1234_XX5BBS"));
  EXPECT_EQ(MailsFor("XX7ZZ"), 1);
  EXPECT_FALSE(FileExists(TempFile()));
}

TEST_F(MsgEntryTest, BulletinWithItsSubjectOnTheLineStartsTheTextAtOnce) {
  LogIn();
  EXPECT_EQ(Says("SB ALL @ WW hello"), Entering("ALL", false));
  EXPECT_EQ(Sends({"first line", "/EX"}), Stored(1001));
  const MsgDB m = Msg(1);
  EXPECT_STREQ(m.Type, "B");
  EXPECT_STREQ(m.Status, "N");
  EXPECT_STREQ(m.ToStation, "ALL");
  EXPECT_STREQ(m.AtBbs, "WW");
  EXPECT_STREQ(m.MsgSubject, "hello");
  EXPECT_STREQ(m.Bid, "");
  EXPECT_EQ(St().counters.activemsg, 1);
  // Bulletins to categories are not mail for anyone.
  EXPECT_EQ(St().MsgBeacon()->FormatMailBeacon(), "");
}

TEST_F(MsgEntryTest, TheDefaultRoutingLineNamesThisBbsWithItsHierarchy) {
  LogIn(std::string("[PERSONAL]\nMYCALL=XX9ORN-1\nMYHIER=#ATH.GRC.EU\n") + kOpenPort);
  Sends({"SB ALL", "Hi", "text"});
  EXPECT_EQ(Says("/EX"), Stored(1001));
  EXPECT_EQ(Text(1001).substr(0, Text(1001).find('\n')), "R:261210/1200Z @:XX9ORN.#ATH.GRC.EU [XX9ORN ORNMBX(v)7.00]");
}

TEST_F(MsgEntryTest, TheTextFileHasTheRoutingHeaderTheAddressesAndTheText) {
  LogIn();
  Sends({"S XX7ZZ", "Hi"});
  engine_.Data(0, "XX1ABC", "a line split ov");
  engine_.Data(0, "XX1ABC", "er two frames\rtwo lines\rin one frame\r");
  Says("");
  EXPECT_EQ(Says("\x81" "ber"), "");  // OEM u-umlaut, stored in the ANSI set
  EXPECT_EQ(Says("/EX"), Stored(1001));
  const std::string want =
      "R:261210/1200Z @:XX9ORN [XX9ORN ORNMBX(v)7.00]\n\nFrom:XX1ABC\nTo:XX7ZZ.GRC.EU@\n\n"
      "a line split over two frames\ntwo lines\nin one frame\n\n\xFC" "ber\n";
  EXPECT_EQ(Text(1001), want);
  const MsgDB m = Msg(1);
  EXPECT_STREQ(m.Type, " ");
  EXPECT_STREQ(m.AtBbs, "");
  // The size is that of the file on disk, where lines end in CR LF.
  EXPECT_EQ(m.Size, static_cast<int>(ToDiskLines(want).size()));
}

TEST_F(MsgEntryTest, SendLines) {
  LogIn();
  struct Case {
    const char* line;
    Fields want;
  } cases[] = {
      {"sp xx7zz-3 < xx3abc-1 $ b1", {"XX7ZZ.GRC.EU", "", "XX3ABC", "B1", ""}},
      {"SP XX8NEW hello world", {"XX8NEW", "", "XX1ABC", "", "hello world"}},
      {"SP xx8new,xx9dig", {"XX8NEW", "", "XX1ABC", "", ""}},
      {"SP XX8NEW!XX9OTH:X", {"XX8NEW", "", "XX1ABC", "", ""}},
      {"SP XX7ZZ.GRC.EU @ XX5BBS.GRC.EU", {"XX7ZZ.GRC.EU", "XX5BBS.GRC.EU", "XX1ABC", "", ""}},
  };
  long n = 0;
  for (const Case& c : cases) {
    const std::string reply = Says(c.line);
    if (!c.want.subject[0]) {
      EXPECT_EQ(reply, Marked("subject")) << c.line;
      Says("s");
    }
    Says("/EX");
    const MsgDB m = Msg(++n);
    EXPECT_STREQ(m.ToStation, c.want.to) << c.line;
    EXPECT_STREQ(m.AtBbs, c.want.at) << c.line;
    EXPECT_STREQ(m.FromStation, c.want.from) << c.line;
    EXPECT_STREQ(m.Bid, c.want.bid) << c.line;
    EXPECT_STREQ(m.MsgSubject, c.want.subject[0] ? c.want.subject : "s") << c.line;
    EXPECT_STREQ(m.Type, "P") << c.line;
  }
}

TEST_F(MsgEntryTest, LinesThatStoreNothing) {
  LogIn();
  struct Case {
    const char* line;
    std::string reply;
  } cases[] = {
      {"S", Marked("notenoughparameters")},
      {"SP", Marked("invalidparameters")},
      {"SP   ", Marked("invalidparameters")},
      {"SP @ XX5BBS", Marked("invalidparameters")},
      {"SP $ B1", Marked("invalidparameters")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Says(c.line), c.reply + kFullPrompt) << c.line;
    EXPECT_EQ(Ch(1).Service, 0) << c.line;
  }
  EXPECT_EQ(MsgRecords(), 0);
  EXPECT_EQ(St().counters.lastmsg, 1000);
}

TEST_F(MsgEntryTest, TheSenderCarriesItsHierarchicalAddress) {
  LogIn();
  Says("F GRC.EU");
  Sends({"SP XX8NEW x", "/EX"});
  EXPECT_STREQ(Msg(1).FromStation, "XX1ABC.GRC.EU");
}

TEST_F(MsgEntryTest, SwapFillsTheDestination) {
  LogIn(std::string(kOpenPort) + "[PERSONAL]\nMYCALL=XX9ORN-1\nMYHIER=GRC.EU\nSWAPBBS=1\n");
  struct Case {
    const char* line;
    const char* at;
  } cases[] = {
      {"SP XX8NEW x", "XX9ORN.GRC.EU"},
      {"SP XX7ZZ x", "XX5BBS.GRC.EU"},  // the addressee's home BBS
      {"SP XX7ZZ @ XX4BBS x", "XX4BBS"},
  };
  long n = 0;
  for (const Case& c : cases) {
    Sends({c.line, "/EX"});
    EXPECT_STREQ(Msg(++n).AtBbs, c.at) << c.line;
  }
}

TEST_F(MsgEntryTest, TheEndOfTheText) {
  LogIn();
  struct Case {
    std::vector<std::string> pieces;  // as the engine delivers them
    std::string body;
  } cases[] = {
      {{"one\r", "/EX\r"}, "one\n"},
      {{"one\r/ex\r"}, "one\n"},
      {{"/Ex\r"}, ""},
      // The mark ends a line; what stands before it stays. Elsewhere in a
      // line it is text, and so is what follows the line.
      {{"see /EX later\r", "C:/EXAMPLE\r", "/EX\r"}, "see /EX later\nC:/EXAMPLE\n"},
      {{"done/EX\r"}, "done\n"},
      {{"73 de XX9ORN /ex  \r"}, "73 de XX9ORN\n"},
      {{"/E", "X\r"}, ""},
      // A NUL inside a frame is dropped, the rest of the frame kept.
      {{std::string("li\0ne2\r", 7), "/EX\r"}, "line2\n"},
      {{"bye\x1A\r"}, "bye"},
      {{"bye\x1A"}, "bye"},
      {{"\x1A\r"}, ""},
      // A line longer than the line buffer is stored whole all the same.
      {{std::string(1000, 'a'), std::string(500, 'a') + "\r", "/EX\r"}, std::string(1500, 'a') + "\n"},
  };
  long number = 1000;
  for (const Case& c : cases) {
    Says("SB ALL t");
    std::string reply;
    for (const std::string& p : c.pieces) {
      engine_.Data(0, "XX1ABC", p);
      reply += Sent();
    }
    EXPECT_EQ(reply, Stored(++number)) << c.pieces[0].substr(0, 20);
    EXPECT_EQ(Body(number), c.body) << c.pieces[0].substr(0, 20);
  }
}

TEST_F(MsgEntryTest, TextTypedAheadWithTheSendLineIsTaken) {
  LogIn();
  engine_.Data(0, "XX1ABC", "SP XX8NEW\rSubj\rtext\r/EX\r");
  EXPECT_EQ(Sent(), Marked("subject") + Entering("XX8NEW", true) + Stored(1001));
  EXPECT_STREQ(Msg(1).MsgSubject, "Subj");
  EXPECT_EQ(Body(1001), "text\n");
}

TEST_F(MsgEntryTest, AnEmptySubjectLineLeavesTheSubjectEmpty) {
  LogIn();
  Says("SP XX8NEW");
  EXPECT_EQ(Says(""), Entering("XX8NEW", true));
  Says("/EX");
  EXPECT_STREQ(Msg(1).MsgSubject, "");
}

TEST_F(MsgEntryTest, TwoStationsRaceForOneBid) {
  LogIn(kOpenPort, "Y");
  ASSERT_EQ(Connects(0, "XX2DEF"), 2);
  Sent();
  Says("SB ALL $ RACE1 first", "XX1ABC");
  Says("SB ALL $ RACE1 second", "XX2DEF");
  Says("text one", "XX1ABC");
  Says("text two", "XX2DEF");
  EXPECT_EQ(Says("/EX", "XX1ABC"), Stored(1001));
  EXPECT_EQ(Says("/EX", "XX2DEF"), Marked("ihavethisbid") + kFullPrompt);
  EXPECT_EQ(Ch(2).Service, 0);
  const MsgCounters& c = St().counters;
  EXPECT_EQ(c.lastmsg, 1001);
  EXPECT_EQ(c.totalmsg, 1);
  EXPECT_EQ(c.activemsg, 1);
  EXPECT_EQ(MsgRecords(), 1);
  EXPECT_STREQ(Msg(1).MsgSubject, "first");
  EXPECT_FALSE(FileExists(MsgFileName(St().site().mailDir, 1002)));
  EXPECT_FALSE(FileExists(dir_ / "temp/0.2"));
  // Now known, the BID is refused before any text is typed.
  EXPECT_EQ(Says("SB ALL $ RACE1 again"), Marked("ihavethisbid") + kFullPrompt);
}

TEST_F(MsgEntryTest, GeneratedBidsFollowTheNumber) {
  LogIn(std::string(kOpenPort) + "[PERSONAL]\nMYCALL=XX9ORN-1\nBIDGENERATION=1\n");
  St().counters.lastmsg = 99998;
  Sends({"SB ALL one", "/EX", "SB ALL two", "/EX", "SB ALL three $ OWN1", "/EX"});
  EXPECT_STREQ(Msg(1).Bid, "XX9ORN_99999");
  EXPECT_STREQ(Msg(2).Bid, "XX9ORN100000");
  EXPECT_STREQ(Msg(3).Bid, "OWN1");
  EXPECT_TRUE(St().Bids.WeHaveThebid("XX9ORN100000"));
}

TEST_F(MsgEntryTest, WithoutGenerationAMessageKeepsNoBid) {
  LogIn();
  Sends({"SB ALL one", "/EX"});
  EXPECT_STREQ(Msg(1).Bid, "");
}

TEST_F(MsgEntryTest, StoringCountsTheAddresseeInTheMailBeacon) {
  LogIn();
  Sends({"SP XX7ZZ a", "/EX", "SP XX7ZZ.GRC.EU b", "/EX", "SP XX7ZZ-2 c", "/EX", "SP XX5ABC d", "/EX"});
  EXPECT_EQ(MailsFor("XX7ZZ"), 3);
  EXPECT_EQ(St().MsgBeacon()->FormatMailBeacon(), "XX7ZZ XX5ABC");
}

TEST_F(MsgEntryTest, OnlyUnreadMessagesGoToForwarding) {
  LogIn();
  std::vector<long> routed;
  Client().routeStoredMsg = [&](const MsgOrigin& via, const MsgDB& m) {
    EXPECT_EQ(via.call, Ch(1).UserCallOnly);
    routed.push_back(m.MsgNo);
  };
  Sends({"SB ALL a", "/EX", "SB ALL $ B2 b", "/EX", "SP XX7ZZ c", "/EX"});
  EXPECT_EQ(routed, (std::vector<long>{1001, 1003}));
}

TEST_F(MsgEntryTest, TheSendIsLogged) {
  dir_.Write("BBS.LOG", "");
  LogIn(std::string(kOpenPort) + "[LOG]\nLOGOK=1\nLOGCONSOLE=1\n");
  Sends({"SB ALL a", "/EX"});
  std::string log;
  ASSERT_TRUE(ReadWholeFile(dir_ / "BBS.LOG", &log));
  EXPECT_NE(log.find("<Send> Msg#1001 from XX1ABC Port=1..."), std::string::npos) << log;
}

TEST_F(MsgEntryTest, AStationLeavingDuringTheTextLeavesNothing) {
  LogIn();
  Sends({"SP XX7ZZ a", "some text"});
  ASSERT_TRUE(FileExists(TempFile()));
  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  EXPECT_FALSE(Ch(1).operation);
  EXPECT_FALSE(FileExists(TempFile()));
  EXPECT_EQ(MsgRecords(), 0);
  EXPECT_EQ(St().counters.lastmsg, 1000);
  EXPECT_EQ(MailsFor("XX7ZZ"), 0);
}

TEST_F(MsgEntryTest, AMessageTextThatCannotBeWrittenStoresNothing) {
  LogIn();
  Sends({"SP XX7ZZ a", "some text"});
  // The message directory is gone and a file has its name.
  const std::string mail = ResolveCase(St().site().mailDir);
  ASSERT_EQ(std::system(("rm -rf '" + mail + "' && touch '" + mail + "'").c_str()), 0);
  EXPECT_EQ(Says("/EX"), std::string(kNotStored) + kFullPrompt);
  EXPECT_EQ(MsgRecords(), 0);
  const MsgCounters& c = St().counters;
  EXPECT_EQ(c.lastmsg, 1000);
  EXPECT_EQ(c.totalmsg, 0);
  EXPECT_EQ(c.activemsg, 0);
  EXPECT_EQ(MailsFor("XX7ZZ"), 0);
  EXPECT_FALSE(FileExists(TempFile()));
}

TEST_F(MsgEntryTest, ADiskFullWhileStoringKeepsTheRecordsWholeAndTheHighestNumberOnDisk) {
  LogIn();
  auto mark = [&] { return std::atol(dir_.Read("LASTMSG.DAT").c_str()); };
  ASSERT_NE(Sends({"SP XX7ZZ a", "one", "/EX"}).find(Stored(1001)), std::string::npos);
  {
    // The disk fills up in the middle of the second message's record.
    test::FileSizeLimit full(static_cast<long long>(kMsgDBSize) + 100);
    EXPECT_NE(Sends({"SP XX7ZZ b", "two", "/EX"}).find(std::string(kNotStored) + kFullPrompt), std::string::npos);
  }
  EXPECT_EQ(MsgRecords(), 1);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "MSG.ADB"), kMsgDBSize);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "MSG.IDX"), kMsgDBidxSize);
  EXPECT_FALSE(FileExists(MsgFileName(St().site().mailDir, 1002)));
  EXPECT_GE(mark(), 1001);
  EXPECT_EQ(St().counters.lastmsg, 1001);
  EXPECT_NE(Sends({"SP XX7ZZ c", "three", "/EX"}).find(Stored(1002)), std::string::npos);
  EXPECT_EQ(mark(), 1002);
  EXPECT_EQ(Msg(2).MsgNo, 1002);

  // The mark cannot be written at all (here a directory has its name): no
  // message goes in under a number the mark does not cover.
  ::unlink((dir_ / "LASTMSG.DAT").c_str());
  ASSERT_TRUE(CreateDirIfDontExist(dir_.path(), "LASTMSG.DAT"));
  EXPECT_NE(Sends({"SP XX7ZZ d", "four", "/EX"}).find(std::string(kNotStored) + kFullPrompt), std::string::npos);
  EXPECT_EQ(MsgRecords(), 2);
  EXPECT_FALSE(FileExists(MsgFileName(St().site().mailDir, 1003)));
}

TEST_F(MsgEntryTest, NoTemporaryFileNoEntry) {
  LogIn();
  ASSERT_EQ(std::system(("rm -rf '" + ResolveCase(dir_ / "temp") + "'").c_str()), 0);
  EXPECT_EQ(Says("SP XX7ZZ a"), std::string(kNotStored) + kFullPrompt);
  EXPECT_EQ(Ch(1).Service, 0);
  EXPECT_EQ(MsgRecords(), 0);
}

}  // namespace
}  // namespace orn
