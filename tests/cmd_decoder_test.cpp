#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "context/prompts.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "support/bbs_session.h"

namespace orn {
namespace {

using test::BbsSession;
using test::Marked;

const char* const kOpenPort = "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\nTIMEOUT=0\n";

class DecoderTest : public BbsSession {
 protected:
  // A registered station (type `type`) logged in on channel 1, greeting read.
  void LogIn(const char* type = "R", const char* ini = kOpenPort) {
    AddUser("XX1ABC", [&](UserDB& u) {
      CopyField(u.Type, type);
      CopyField(u.Name, "Anna");
      CopyField(u.HomeBbs, "XX9ORN");
    });
    StartWith(ini);
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    Sent();
  }
  std::string Says(const std::string& line) {
    Type("XX1ABC", line);
    return Sent();
  }
  std::string Prompt() { return Ch(1).prompt; }
};

TEST_F(DecoderTest, RestrictedSessionsAllowOnlyTheRestrictedSet) {
  LogIn("R", "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\nBBSONLY=0\nLIMITED=1\n");
  ASSERT_EQ(Prompt(), kRestrictedPrompt);
  struct Case {
    const char* line;
    bool ok;
  } cases[] = {{"KM\r", true}, {"K 12\r", false}, {"K\r", false}, {"LM\r", true}, {"L\r", false},
               {"RM\r", true}, {"R 5\r", false}, {"n x\r", true}, {"M XX1\r", true}, {"SP XX1\r", true},
               {"G?\r", true}, {"X\r", false},  {"P\r", true},   {"M,\r", true},   {"D x\r", false}};
  for (const Case& c : cases) EXPECT_EQ(Ch(1).CmdOkToProceed(c.line), c.ok) << c.line;
  EXPECT_EQ(Says("x"), Marked("invalidcommand") + kRestrictedPrompt);
  // Outside a restricted session everything passes the check.
  CopyField(Ch(1).prompt, kFullPrompt);
  EXPECT_TRUE(Ch(1).CmdOkToProceed("K 12\r"));
}

TEST_F(DecoderTest, ALineSplitOverFramesIsDecodedOnce) {
  LogIn();
  engine_.Data(0, "XX1ABC", "N jo");
  EXPECT_EQ(Sent(), "");
  engine_.Data(0, "XX1ABC", "hn\r");
  EXPECT_EQ(Sent(), std::string("Tnx, john.\r") + Marked("youhavebeenregistered") + kFullPrompt);
  EXPECT_STREQ(User(1).Name, "john");
  EXPECT_STREQ(Ch(1).sparecmd, "");
}

TEST_F(DecoderTest, EveryLineOfAFrameIsACommand) {
  LogIn();
  const std::string v =
      std::string("XX9ORN Multiuser-port-lingual, windows (32bit) BBS\rv7.10 for Linux\r0:active msgs.\r") +
      kFullPrompt;
  const std::string j = std::string("\r") + kFullPrompt;
  const struct {
    const char* what;
    std::vector<std::string> frames;
    std::string sent;
  } cases[] = {
      {"two lines", {"V\rV\r"}, v + v},
      {"three, one of them empty", {"J\r\rJ\r"}, j + Marked("invalidcommand") + kFullPrompt + j},
      {"a line begun at the end", {"J\rV", "\r"}, j + v},
      {"a line begun before, ended in the next", {"  J", "\rV\r"}, j + v},
      {"a long line among short ones", {"J\rJ " + std::string(90, 'x') + "\rJ\r"},
       j + Marked("invalidparameters") + kFullPrompt + j},
      {"NULs between the lines", {std::string("J\r\0V\r", 5)}, j + v},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string sent;
    for (const std::string& f : c.frames) {
      engine_.Data(0, "XX1ABC", f);
      sent += Sent();
    }
    EXPECT_EQ(sent, c.sent);
    EXPECT_STREQ(Ch(1).sparecmd, "");
  }
  // The name typed after a command is the name's own line, case and all.
  engine_.Data(0, "XX1ABC", "j\rN John\r");
  EXPECT_EQ(Sent(), j + "Tnx, John.\r" + Marked("youhavebeenregistered") + kFullPrompt);
  EXPECT_STREQ(User(1).Name, "John");
  // Nothing after a goodbye is answered.
  engine_.Data(0, "XX1ABC", "B\rV\r");
  EXPECT_EQ(Sent(), Marked("bye") + kFullPrompt);
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
}

TEST_F(DecoderTest, NameAndPostalCode) {
  LogIn();
  struct Case {
    const char* line;
    std::string reply;
    const char* zip;   // the record's fields afterwards
    const char* name;
  } cases[] = {
      {"NZ 1234", "Tnx, zip -> 1234.\r", "1234", "Anna"},
      {"nz  orro", "Tnx, zip -> orro.\r", "orro", "Anna"},
      {"NZ 123456", Marked("invalidparameters"), "orro", "Anna"},
      {"NZ", Marked("notenoughparameters"), "orro", "Anna"},
      {"N", Marked("notenoughparameters"), "orro", "Anna"},
      // A name that begins with Z is a name.
      {"N Zack", "Tnx, Zack.\r" + Marked("youhavebeenregistered"), "orro", "Zack"},
      {"n  zorro", "Tnx, zorro.\r" + Marked("youhavebeenregistered"), "orro", "zorro"},
      {"NZoe", "Tnx, Zoe.\r" + Marked("youhavebeenregistered"), "orro", "Zoe"},
      {"N Bartholomew Jon", Marked("invalidparameters"), "orro", "Zoe"},
      {"n Bartholomew J", "Tnx, Bartholomew J.\r" + Marked("youhavebeenregistered"), "orro", "Bartholomew J"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Says(c.line), c.reply + kFullPrompt) << c.line;
    const UserDB u = User(1);
    EXPECT_STREQ(u.ZipCode, c.zip) << c.line;
    EXPECT_STREQ(u.Name, c.name) << c.line;
  }
  EXPECT_EQ(view_.channel(1).labels["Name:"], "Bartholomew J");
}

TEST_F(DecoderTest, AnUnregisteredStationIsRemindedUntilItRegisters) {
  AddUser("XX1ABC", [](UserDB&) {});  // type U, Noname, home BBS unknown
  StartWith(kOpenPort);
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  Sent();
  Type("XX1ABC", "L");
  EXPECT_EQ(Sent(), Marked("notenteredname") + Marked("notenteredhome") + kRestrictedPrompt);
  Type("XX1ABC", "N john");
  EXPECT_EQ(Sent(), std::string("Tnx, john.\r") + Marked("youhavebeenregistered") + kRestrictedPrompt);
  EXPECT_STREQ(User(1).Type, "R");
  Type("XX1ABC", "T");  // past the gate now
  EXPECT_EQ(Sent(), Marked("sysopnotavailable") + kRestrictedPrompt);
}

TEST_F(DecoderTest, ExpertModeToggles) {
  LogIn("S");
  EXPECT_EQ(Says("X"), std::string("?????? Sysop....") + kExpertPrompt);
  EXPECT_STREQ(User(1).Type, "S");
  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");

  AddUser("XX2ABC", [](UserDB& u) { CopyField(u.Type, "R"); });
  ASSERT_EQ(Connects(0, "XX2ABC"), 1);
  Sent();
  Type("XX2ABC", "x");
  EXPECT_EQ(Sent(), Marked("changetoexpert") + kExpertPrompt);
  EXPECT_STREQ(User(2).Type, "X");
  Type("XX2ABC", "X");
  EXPECT_EQ(Sent(), Marked("changetonormal") + kFullPrompt);
  EXPECT_STREQ(User(2).Type, "R");
}

TEST_F(DecoderTest, LanguagesAreListedAndChangedPerChannel) {
  test::WriteMarkedLanguage(dir_.path(), "greek.lng", '{', '}');
  LogIn();
  AddUser("XX2ABC", [](UserDB& u) { CopyField(u.Type, "R"); });
  ASSERT_EQ(Connects(0, "XX2ABC"), 2);
  Sent();
  EXPECT_EQ(Says("G?"), Marked("availablelanguages") + "ENGLISH    GREEK\r" + kFullPrompt);
  EXPECT_EQ(Says("G"), Marked("notenoughparameters") + kFullPrompt);
  EXPECT_EQ(Says("G KLINGON"), Marked("notfound") + kFullPrompt);
  EXPECT_EQ(Says("G ../english"), Marked("notfound") + kFullPrompt);
  EXPECT_EQ(Says("GX"), Marked("invalidparameters") + kFullPrompt);
  EXPECT_EQ(Says("g greek"), std::string("{languagechange} GREEK\r") + kFullPrompt);
  EXPECT_STREQ(User(1).Language, "GREEK");
  EXPECT_EQ(Says("Q"), Marked("invalidcommand", '{', '}') + kFullPrompt);
  // The other channel still speaks English.
  Type("XX2ABC", "Q");
  EXPECT_EQ(Sent(), Marked("invalidcommand") + kFullPrompt);
}

TEST_F(DecoderTest, HelpAndInformationFiles) {
  CreateDirIfDontExist(dir_.path(), "HELP");
  dir_.Write("HELP/ENGLISH.gen", "General help\r\nline two\r\n");
  dir_.Write("HELP/english.l", "Help on L\n\xE4\n");  // a-umlaut in code page 1252, as stored
  dir_.Write("HELP/ENGLISH", "All topics\n");
  dir_.Write("ENGLISH.i", "Info \xE4\n");
  LogIn("R", "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\nBBSONLY=0\nLIMITED=1\n");
  CopyField(Ch(1).tdb->userdb.Language, "ENGLISH");
  EXPECT_EQ(Says("H L"), std::string("General help\rline two\r\r") + kRestrictedPrompt);
  CopyField(Ch(1).prompt, kFullPrompt);
  // Help goes out in the stations' code page (437: a-umlaut is 0x84).
  EXPECT_EQ(Says("H L"), std::string("Help on L\r\x84\r\r") + kFullPrompt);
  EXPECT_EQ(Says("H"), std::string("All topics\r\r") + kFullPrompt);
  EXPECT_EQ(Says("H Q"), Marked("nohelpfor") + kFullPrompt);
  EXPECT_EQ(Says("H ../../etc/passwd"), Marked("nohelpfor") + kFullPrompt);
  EXPECT_EQ(Says("I"), std::string("Info \xE4\r\r") + kFullPrompt);
}

TEST_F(DecoderTest, HomeBbsTakesTheHierarchyOfAKnownBbs) {
  AddUser("XX5BBS", [](UserDB& u) { CopyField(u.HierAddress, "#ATH.GRC.EU"); });
  LogIn();
  struct Case {
    const char* line;
    std::string reply, home;
  } cases[] = {
      {"M XX5BBS", "[ifnobbsfield] XX5BBS.#ATH.GRC.EU\r", "XX5BBS.#ATH.GRC.EU"},
      {"m xx6bbs.#thes.grc", "[ifnobbsfield] XX6BBS.#THES.GRC\r", "XX6BBS.#THES.GRC"},
      {"M 9X1.EU", Marked("invalidbbscall"), "XX6BBS.#THES.GRC"},
      {"M", Marked("notenoughparameters"), "XX6BBS.#THES.GRC"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Says(c.line), c.reply + kFullPrompt) << c.line;
    EXPECT_EQ(std::string(User(2).HomeBbs), c.home) << c.line;
  }
  EXPECT_EQ(Says("F #ATH.GRC.EU"), std::string("Hierarchical Address -> #ATH.GRC.EU.\r") + kFullPrompt);
  EXPECT_STREQ(User(2).HierAddress, "#ATH.GRC.EU");
}

TEST_F(DecoderTest, PagingTheSysop) {
  LogIn();
  bbs_->cfg().sysopisin = true;
  EXPECT_EQ(Says("T"), Marked("sysoppage") + kFullPrompt);
  EXPECT_EQ(view_.pages[1], "From XX1ABC,on Port:1,Channel:1. | ornctl talk 1-1");
  // Paging again while the sysop has not chosen is the same page.
  EXPECT_EQ(Says("T"), Marked("sysoppage") + kFullPrompt);
  EXPECT_EQ(view_.pageRequests, 1);
  bbs_->cfg().sysopisin = false;
  EXPECT_EQ(Says("T"), Marked("sysopnotavailable") + kFullPrompt);
  EXPECT_EQ(view_.pageRequests, 1);
}

TEST_F(DecoderTest, ByeSaysGoodbyeAndDisconnects) {
  LogIn();
  EXPECT_EQ(Says("b"), Marked("bye") + kFullPrompt);
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
}

TEST_F(DecoderTest, SmallRepliesAndUnknownCommands) {
  LogIn();
  struct Case {
    const char* line;
    std::string reply;
  } cases[] = {
      {"A", Marked("aborted")},
      {"J", "\r"},
      {"   j", "\r"},
      {"C", Marked("invalidcommand")},
      {"", Marked("invalidcommand")},
      {"~", Marked("invalidcommand")},
      {"V", "XX9ORN Multiuser-port-lingual, windows (32bit) BBS\rv7.10 for Linux\r0:active msgs.\r"},
      {"J 3456789012345678901234567890123456789012345678901234567890123456789012345678",
       Marked("invalidparameters")},
      {"J 345678901234567890123456789012345678901234567890123456789012345678901234567", "\r"},
  };
  for (const Case& c : cases) EXPECT_EQ(Says(c.line), c.reply + kFullPrompt) << c.line;
}

TEST_F(DecoderTest, AnOverlongLineIsDroppedAndTheSessionGoesOn) {
  LogIn();
  for (int i = 0; i < 3; ++i) engine_.Data(0, "XX1ABC", std::string(700, 'x'));
  EXPECT_EQ(Sent(), Marked("invalidparameters") + kFullPrompt);
  engine_.Data(0, "XX1ABC", "still the same line\rJ");
  EXPECT_EQ(Sent(), "");
  engine_.Data(0, "XX1ABC", "\r");
  EXPECT_EQ(Sent(), std::string("\r") + kFullPrompt);
}

TEST_F(DecoderTest, InactivityDeadlineFollowsThePortTimeout) {
  LogIn("R", "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\nBBSONLY=0\nLIMITED=0\nTIMEOUT=5\n");
  EXPECT_NE(Ch(1).channeltimeouttimer, 0);
  clock_.Advance(60);
  const int64_t now = clock_.Now();
  Says("J");
  EXPECT_EQ(Ch(1).channeltimeouttimer, now + 300);
  bbs_->cfg().Ports[0].timeout = 0;
  Says("J");
  EXPECT_EQ(Ch(1).channeltimeouttimer, 0);
}

TEST_F(DecoderTest, TheMonitorWindowNeverDecodes) {
  LogIn();
  TChannel& monitor = Ch(0);
  CopyField(monitor.cmd, "J\r");
  monitor.BbsCmdDecode();
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0], "Invalid channel number: during bbscmddecode");
  EXPECT_EQ(Sent(), "");
}

}  // namespace
}  // namespace orn
