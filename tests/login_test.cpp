#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "context/prompts.h"
#include "platform/text.h"
#include "support/bbs_session.h"

namespace orn {
namespace {

using test::BbsSession;
using test::Marked;

// A port open to every station, with no inactivity limit.
const char* const kOpenPort = "[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\nTIMEOUT=0\n";

class LoginTest : public BbsSession {};

TEST_F(LoginTest, ANewStationIsRegisteredAndGreetedAsNew) {
  AddUser("XX7OLD", [](UserDB&) {});
  StartWith(kOpenPort);
  ASSERT_EQ(Connects(0, "XX1ABC-7"), 1);
  EXPECT_STREQ(Ch(1).UserCallOnly, "XX1ABC");
  EXPECT_EQ(Ch(1).tdb->upos, 2);
  const UserDB u = User(2);
  EXPECT_STREQ(u.Call, "XX1ABC");
  EXPECT_STREQ(u.Type, "U");
  EXPECT_STREQ(u.Name, "Noname");
  EXPECT_EQ(u.Count, 1);
  EXPECT_STREQ(u.LLoginD, "26/12/10");
  EXPECT_STREQ(u.LLoginT, "12:00");
  EXPECT_EQ(Sent(), std::string("[ORN-7.10-AB1FHMR$]\r[newuser XX1ABC]\r") + kRestrictedPrompt);
  EXPECT_EQ(view_.channel(1).labels["Name:"], "Noname");
  EXPECT_FALSE(Ch(1).passwordwait);
}

TEST_F(LoginTest, ANewStationTheUserFileCannotTakeIsToldAndLetGo) {
  AddUser("XX7OLD", [](UserDB&) {});
  dir_.Write("BBS.LOG", "");
  StartWith(std::string(kOpenPort) + "[LOG]\nLOGOK=1\nLOGOTHER=1\n");
  const long long users = static_cast<long long>(kUserDBSize);
  {
    // The disk fills up in the middle of the new record.
    test::FileSizeLimit full(users + 1000);
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    EXPECT_EQ(Sent(), "The BBS cannot take new users now.\r");
    EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
    engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  }
  // Nothing of the record is left to shift the next one.
  EXPECT_EQ(std::filesystem::file_size(dir_ / "USERS.ADB"), kUserDBSize);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "USERS.IDX"), kUserDBidxSize);
  EXPECT_NE(dir_.Read("BBS.LOG").find("<New user not stored> 1 from XX1ABC"), std::string::npos)
      << dir_.Read("BBS.LOG");
  // With room again the station is registered as the next user.
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  EXPECT_EQ(Ch(1).tdb->upos, 2);
  EXPECT_STREQ(User(2).Call, "XX1ABC");
  EXPECT_EQ(Sent(), std::string("[ORN-7.10-AB1FHMR$]\r[newuser XX1ABC]\r") + kRestrictedPrompt);
}

TEST_F(LoginTest, TheRecordIsUpdatedAtEveryLogin) {
  struct Case {
    const char* type;
    int count;
    const char* storedType;
    int storedCount;
  } cases[] = {
      {"K", 5, "R", 6},
      {"R", 999, "R", 1},
      {"X", 0, "X", 1},
  };
  long pos = 0;
  for (const Case& c : cases) {
    AddUser("XX" + std::to_string(++pos) + "ABC", [&](UserDB& u) {
      CopyField(u.Type, c.type);
      u.Count = c.count;
    });
  }
  StartWith(kOpenPort);
  pos = 0;
  for (const Case& c : cases) {
    const std::string call = "XX" + std::to_string(++pos) + "ABC";
    ASSERT_EQ(Connects(0, call), 1) << call;
    const UserDB u = User(pos);
    EXPECT_STREQ(u.Type, c.storedType) << call;
    EXPECT_EQ(u.Count, c.storedCount) << call;
    engine_.Event(0, "*** DISCONNECTED From Station " + call + "\r");
  }
}

TEST_F(LoginTest, PortRestrictionsApplyToUnprivilegedTypes) {
  struct Case {
    int bbsonly, limited;
    const char* type;
    const char* prompt;  // null: disconnected
  } cases[] = {
      {1, 1, "R", nullptr},           {0, 1, "R", kRestrictedPrompt}, {0, 0, "R", kFullPrompt},
      {1, 1, "U", nullptr},           {0, 0, "U", kRestrictedPrompt}, {1, 1, "L", kFullPrompt},
      {1, 1, "X", kExpertPrompt},     {1, 1, "S", kExpertPrompt},     {1, 1, "B", kExpertPrompt},
      {0, 0, "E", nullptr},           {0, 0, "Q", kRestrictedPrompt},
  };
  char n = 'A';
  for (const Case& c : cases) AddUser(std::string("XX1AB") + n++, [&](UserDB& u) { CopyField(u.Type, c.type); });
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\n");
  n = 'A';
  for (const Case& c : cases) {
    const std::string call = std::string("XX1AB") + n++;
    bbs_->cfg().Ports[0].bbsonly = c.bbsonly;
    bbs_->cfg().Ports[0].limitedaccess = c.limited;
    ASSERT_EQ(Connects(0, call), 1);
    const std::string sent = Sent();
    if (c.prompt) {
      EXPECT_EQ(std::string(Ch(1).prompt), c.prompt) << c.type << c.bbsonly << c.limited;
      EXPECT_TRUE(Disconnects().empty()) << c.type;
      EXPECT_NE(sent.find(c.prompt), std::string::npos) << c.type;
    } else {
      EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:" + call}) << c.type << c.bbsonly << c.limited;
      EXPECT_EQ(sent, "") << c.type;
    }
    engine_.Event(0, "*** DISCONNECTED From Station " + call + "\r");
  }
}

TEST_F(LoginTest, AStationBeingLetGoHasNoMoreSay) {
  AddUser("XX1ABC", [](UserDB& u) { CopyField(u.Type, "R"); });
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\n");  // only privileged stations
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
  // Its link is still up for a moment: what it types is not carried out.
  Type("XX1ABC", "N Mallory");
  Type("XX1ABC", "X");
  EXPECT_EQ(Sent(), "");
  EXPECT_STREQ(User(1).Name, "Noname");
  EXPECT_STREQ(User(1).Type, "R");
}

TEST_F(LoginTest, AnInvalidCallsignIsTurnedAwayWithoutARecord) {
  StartWith(kOpenPort);
  bbs_->cfg().callvaliditycheck = true;
  for (const char* call : {"9XABC", "XX9OR1", "XXA1", "XX9ORNX"}) {
    Connects(0, call);
    EXPECT_EQ(Disconnects(), std::vector<std::string>{std::string("0:") + call});
    EXPECT_EQ(Sent(), "");
    engine_.Event(0, std::string("*** DISCONNECTED From Station ") + call + "\r");
  }
  EXPECT_EQ(Ch(1).tdb->UserCount(), 0);
  // With the check off, the same station is let in.
  bbs_->cfg().callvaliditycheck = false;
  ASSERT_EQ(Connects(0, "9XABC"), 1);
  EXPECT_EQ(Ch(1).tdb->UserCount(), 1);
}

TEST_F(LoginTest, APasswordIsChallengedAndItsAnswerCheckedExactly) {
  AddUser("XX1ABC", [](UserDB& u) {
    CopyField(u.Type, "R");
    CopyField(u.Password, "x");
    u.PasswordOk = 1;
  });
  AddUser("XX2ABC", [](UserDB& u) {
    CopyField(u.Type, "R");
    CopyField(u.Password, "secret");
    u.PasswordOk = 1;
  });
  StartWith(kOpenPort);
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  EXPECT_EQ(Sent(), std::string("[ORN-7.10-AB1FHMR$]\r[regularuser]\r") + kFullPrompt + "Enter Password : 1    ");
  EXPECT_STREQ(Ch(1).Passwordcompare, "x");
  ASSERT_TRUE(Ch(1).passwordwait);
  Type("XX1ABC", " x");  // the blank counts
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});

  ASSERT_EQ(Connects(0, "XX2ABC"), 2);
  const std::string challenge = Sent();
  const std::string expected = Ch(2).Passwordcompare;
  ASSERT_EQ(expected.size(), 5u);
  // Each slot names a position of the password, and the expected answer holds
  // its characters.
  int positions[5];
  ASSERT_EQ(std::sscanf(challenge.c_str() + challenge.find("Enter Password :"), "Enter Password : %d %d %d %d %d",
                        &positions[0], &positions[1], &positions[2], &positions[3], &positions[4]),
            5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(expected[static_cast<size_t>(i)], "secret"[positions[i] - 1]);
  // Commands typed before the answer are not carried out: the line is the answer.
  Type("XX2ABC", expected);
  EXPECT_EQ(Sent(), std::string("Ok!!\r") + kFullPrompt);
  EXPECT_FALSE(Ch(2).passwordwait);
  EXPECT_TRUE(Disconnects().empty());
}

TEST_F(LoginTest, AForwardingPartnerWeCalledIsNotGreetedButStillChallenged) {
  AddUser("XX5BBS", [](UserDB& u) {
    CopyField(u.Type, "B");
    CopyField(u.Password, "pw");
    u.PasswordOk = 1;
  });
  StartWith(kOpenPort);
  Ch(1).connectfwdpend = true;
  Ch(1).ToggleTerminal();
  Ch(1).ConnectTo("XX5BBS");
  Ch(1).ToggleTerminal();  // back to the BBS before the answer
  Sent();
  engine_.Event(0, "*** CONNECTED With Station XX5BBS\r");
  const std::string sent = Sent();
  EXPECT_EQ(sent.find("[ORN-7.10"), std::string::npos);
  EXPECT_EQ(sent.rfind("Enter Password : ", 0), 0u) << sent;
  EXPECT_FALSE(Ch(1).connectfwdpend);
}

TEST_F(LoginTest, AMissingLanguageFileEndsTheSession) {
  AddUser("XX1ABC", [](UserDB& u) { CopyField(u.Language, "KLINGON"); });
  StartWith(kOpenPort);
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
  EXPECT_EQ(Sent(), "");
  EXPECT_NE(view_.channel(1).text.find("Station has no language set..\n"), std::string::npos);
}

TEST_F(LoginTest, AStoredLanguageIsOpenedOnlyInsideTheBbsDirectory) {
  // A language file elsewhere, and records (written before the field was
  // checked, or by hand) whose language names it in one way or another.
  const test::TestDir out;
  test::WriteMarkedLanguage(out.path(), "away.lng", '{', '}');
  const std::string base = out.path().substr(out.path().find_last_of('/') + 1);
  const std::string stored[] = {"../" + base + "/AWAY", "SUB/../../" + base + "/AWAY", "..\\" + base + "\\AWAY",
                                out.path() + "/AWAY"};
  int n = 0;
  for (const std::string& language : stored)
    AddUser("XX" + std::to_string(++n) + "ABC", [&](UserDB& u) { CopyField(u.Language, language); });
  StartWith(kOpenPort);
  for (int i = 1; i <= n; ++i) {
    const std::string call = "XX" + std::to_string(i) + "ABC";
    SCOPED_TRACE(stored[i - 1]);
    ASSERT_EQ(Connects(0, call), 1);
    EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:" + call});
    EXPECT_EQ(Sent(), "");
    engine_.Event(0, "*** DISCONNECTED From Station " + call + "\r");
  }
}

TEST_F(LoginTest, AnEmptyEnglishFileIsToldToTheSysopOnceAndOtherLanguagesServe) {
  AddUser("XX2DEF", [](UserDB& u) { CopyField(u.Language, "GERMAN"); });
  test::WriteMarkedLanguage(dir_.path(), "german.lng");
  StartWith(kOpenPort);
  dir_.Write("english.lng", "");  // emptied while the BBS runs
  const size_t before = view_.boxes.size();
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
    engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  }
  ASSERT_EQ(view_.boxes.size(), before + 1);
  EXPECT_NE(view_.boxes.back().find("Language file empty: english.lng"), std::string::npos) << view_.boxes.back();
  // A station with a language file of its own is served as ever.
  ASSERT_EQ(Connects(0, "XX2DEF"), 1);
  EXPECT_TRUE(Disconnects().empty());
  EXPECT_NE(Sent().find("[ORN-7.10-AB1FHMR$]"), std::string::npos);
}

TEST_F(LoginTest, MailWaitingIsAnnounced) {
  StartWith(kOpenPort);
  ASSERT_NE(bbs_->store()->MsgBeacon(), nullptr);
  bbs_->store()->MsgBeacon()->PutCallInList("XX1ABC");
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  EXPECT_EQ(Sent(), std::string("[ORN-7.10-AB1FHMR$]\r[newuser XX1ABC]\r") + Marked("youhavemail") +
                        kRestrictedPrompt);
}

}  // namespace
}  // namespace orn
