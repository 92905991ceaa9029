#include <gtest/gtest.h>

#include <cstdlib>

#include "app/ornbbs.h"
#include "platform/text.h"
#include "support/recording_view.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::ManualTimers;
using test::RecordingView;
using test::ScopedChdir;
using test::TestDir;

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() : cd_(dir_.path()) {
    ::setenv("XDG_DATA_HOME", (dir_ / "xdg").c_str(), 1);
    clock_.SetLocal(1997, 3, 15, 14, 23);
  }
  ~StartupTest() override { ::unsetenv("XDG_DATA_HOME"); }

  std::unique_ptr<ORNBBS> Make() { return std::make_unique<ORNBBS>(clock_, view_, timers_, engine_); }

  TestDir dir_;
  ScopedChdir cd_;
  FakeClock clock_;
  RecordingView view_;
  ManualTimers timers_;
  NoEngineTransport engine_;
};

TEST_F(StartupTest, FreshDirectoryStartsIdleWithOnePortOfOneChannel) {
  auto bbs = Make();
  ASSERT_TRUE(bbs->Start());

  for (const char* sub : {"MAIL", "FILES", "BIN", "HELP", "temp"}) EXPECT_TRUE(dir_.Exists(sub)) << sub;
  for (const char* f : {"USERS.ADB", "MSG.ADB", "USERS.IDX", "MSG.IDX", "MAIL.ADB", "BBS.LOG"}) {
    EXPECT_TRUE(dir_.Exists(f)) << f;
    EXPECT_EQ(dir_.Read(f), "") << f;
  }
  EXPECT_EQ(IniFile(dir_ / "ORN.INI").GetString("PATH", "BBSPATH", ""), dir_.path());
  EXPECT_EQ(bbs->cfg().MyCall, "NOCALL");
  EXPECT_EQ(bbs->client().BBSOK, 0u);
  EXPECT_EQ(view_.status, "BBS OFF:No RadioPorts");
  // No engine answers: one message, and the BBS stays up in idle mode.
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0],
            "NOCALL  ORNBBS MailBox: No packet engine answers at 127.0.0.1:8000 (RADIO ENGINEHOST and ENGINEPORT "
            "in ORN.INI).\nStart Direwolf or ornpe there, with its packet-engine TCP API on that port.\nProgram "
            "Enters Idle Mode !\nTrying again every 30 s (RADIO RECONNECT in ORN.INI).");

  ASSERT_EQ(bbs->client().numberchildren, 2);
  EXPECT_EQ(view_.channel(0).caption, "<Monitor>");
  EXPECT_EQ(view_.channel(1).caption, "PC(1-1) - Idle");
  TChannel* ch = bbs->client().channel(1);
  EXPECT_STREQ(ch->UserCall, "NULL");
  EXPECT_EQ(ch->TncPaclen, 200);
  EXPECT_EQ(ch->TncMaxFrame, 4);
  EXPECT_EQ(bbs->cfg().Ports[0].paclen, 128);
  EXPECT_EQ(bbs->cfg().Ports[0].maxframe, 2);

  // The file types are declared while the BBS runs, and only then.
  EXPECT_TRUE(dir_.Exists("xdg/mime/packages/ornbbs-files.xml"));
  bbs->Shutdown();
  EXPECT_FALSE(dir_.Exists("xdg/mime/packages/ornbbs-files.xml"));
  EXPECT_EQ(bbs->client().numberchildren, 0);
}

TEST_F(StartupTest, SampleConfiguration) {
  dir_.Write("ORN.INI",
             "[PERSONAL]\r\nMYCALL=XX9ORN-1\r\nSYSOP=2\r\nFWDOK=1\r\nBIDGENERATION=1\r\nOPTIMIZE=5,3,30\r\n"
             "[PATH]\r\nBBSPATH=C:\\ORNBBS\r\nMAILPATH=Mail\r\n"
             "[RADIO]\r\nPORTS=3\r\nMSGBEACON=Mail for:\r\n"
             "[PORT0]\r\nCHANNELS=2\r\nPORTNUM=0\r\nPACLEN=120\r\n"
             "[PORT1]\r\nCHANNELS=4\r\nENABLED=0\r\nUNPROTO=MAIL\r\n"
             "[PORT2]\r\nCHANNELS=1\r\nCONOK=0\r\n");
  auto bbs = Make();
  ASSERT_TRUE(bbs->Start());
  const Config& c = bbs->cfg();
  EXPECT_EQ(c.MyCall, "XX9ORN-1");
  EXPECT_EQ(c.MyCallOut, "XX9ORN");
  EXPECT_FALSE(c.sysopisin);  // (=1) switches are on only for exactly 1
  EXPECT_TRUE(c.FwdOk);
  EXPECT_TRUE(c.autobid);
  EXPECT_FALSE(c.callvaliditycheck);
  EXPECT_EQ(c.optd, 5);
  EXPECT_EQ(c.opth, 3);
  EXPECT_EQ(c.optm, 30);
  EXPECT_TRUE(dir_.Exists("Mail"));
  EXPECT_FALSE(dir_.Exists("MAIL"));
  EXPECT_EQ(c.bbspath, dir_.path());

  // The disabled port's record is read, but it gets no channels.
  EXPECT_EQ(c.Ports[1].unprotoaddress, "MAIL");
  EXPECT_EQ(c.Ports[1].msgbeacon, "Mail for:");
  EXPECT_EQ(c.Ports[2].conok, 0);
  EXPECT_EQ(c.Ports[2].unprotoaddress, "PORT2");
  ASSERT_EQ(bbs->client().numberchildren, 4);
  const char* captions[] = {"<Monitor>", "PC(1-1) - Idle", "PC(1-2) - Idle", "PC(3-1) - Idle"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(view_.channel(i).caption, captions[i]);
  TChannel* third = bbs->client().channel(3);
  EXPECT_EQ(third->TncNumber, 3);
  EXPECT_EQ(third->TncPortNumber, 2);  // PORTNUM missing: the port's own index
  EXPECT_EQ(third->ChannelNumber, 1);
  EXPECT_EQ(bbs->client().channel(2)->TncPaclen, 120);
  EXPECT_EQ(bbs->client().channel(2)->TncAbsoluteNumber, 2);
}

TEST_F(StartupTest, AMyHierThatRepeatsTheCallLosesIt) {
  // The routing line puts the call before MYHIER: "XX9ORN.XX9ORN.#..." would
  // name the BBS twice in every message it passes on.
  dir_.Write("ORN.INI", "[PERSONAL]\r\nMYCALL=XX9ORN-1\r\nMYHIER=xx9orn.#DEMO.XX.EU\r\n[LOG]\r\nLOGOK=1\r\nLOGOTHER=1\r\n");
  dir_.Write("BBS.LOG", "");
  auto bbs = Make();
  ASSERT_TRUE(bbs->Start());
  EXPECT_EQ(bbs->cfg().MyHier, "#DEMO.XX.EU");
  EXPECT_EQ(bbs->cfg().FWDMSGHEADER, "R:$D/$TZ @:$V.#DEMO.XX.EU [$V ORNMBX(v)7.00]");
  EXPECT_NE(dir_.Read("BBS.LOG").find("<MYHIER without its leading XX9ORN: #DEMO.XX.EU>"), std::string::npos)
      << dir_.Read("BBS.LOG");
  bbs->Shutdown();
}

TEST_F(StartupTest, RefusedConfigurations) {
  struct Case {
    const char* ini;
    const char* box;
  } cases[] = {
      {"[RADIO]\nPORTS=0\n", "BBS Server: Invalid number of ports.Init failed."},
      {"[RADIO]\nPORTS=11\n", "BBS Server: Invalid number of ports: at most 10 ports.Init failed."},
      {"[RADIO]\nPORTS=2\n[PORT0]\nCHANNELS=40\n[PORT1]\nCHANNELS=10\n",
       "BBS Server: Too many channels: 50 configured, at most 49 on all ports together.Init failed."},
  };
  for (const auto& c : cases) {
    dir_.Write("ORN.INI", c.ini);
    view_.boxes.clear();
    auto bbs = Make();
    EXPECT_FALSE(bbs->Start()) << c.ini;
    EXPECT_TRUE(bbs->quitPosted());
    EXPECT_NE(bbs->quitCode(), 0);
    ASSERT_FALSE(view_.boxes.empty()) << c.ini;
    EXPECT_EQ(view_.boxes.back(), c.box);
    bbs->Shutdown();
  }
  // 49 channels in all are fine.
  dir_.Write("ORN.INI", "[RADIO]\nPORTS=2\n[PORT0]\nCHANNELS=40\n[PORT1]\nCHANNELS=9\n");
  auto bbs = Make();
  EXPECT_TRUE(bbs->Start());
  EXPECT_EQ(bbs->client().numberchildren, 50);
}

TEST_F(StartupTest, SecondInstanceInTheSameDirectoryIsRefused) {
  dir_.Write("ORN.INI", "[LOG]\nLOGOK=1\n");
  auto first = Make();
  ASSERT_TRUE(first->Start());
  RecordingView otherView;
  ORNBBS second(clock_, otherView, timers_, engine_);
  EXPECT_FALSE(second.Start());
  EXPECT_EQ(second.quitCode(), 1);
  ASSERT_EQ(otherView.boxes.size(), 1u);
  EXPECT_EQ(otherView.boxes[0], "ORNBBS: BBS SERVER Already started !!");
  EXPECT_TRUE(otherView.channels.empty());
  second.Shutdown();
  // The refused instance neither logged nor took the file declaration away.
  EXPECT_TRUE(dir_.Exists("xdg/mime/packages/ornbbs-files.xml"));
  first->Shutdown();
  EXPECT_EQ(dir_.Read("BBS.LOG"), "970315:1423->BBS SERVER UP...\n970315:1423->BBS SERVER DOWN...\n");

  // Once the first is gone, the lock file left behind does not block.
  EXPECT_TRUE(dir_.Exists("ornbbs.lock"));
  auto third = Make();
  EXPECT_TRUE(third->Start());
}

TEST_F(StartupTest, FreshStoreCountsFromOneThousand) {
  auto bbs = Make();
  ASSERT_TRUE(bbs->Start());
  ASSERT_NE(bbs->store(), nullptr);
  const MsgCounters& c = bbs->store()->counters;
  EXPECT_EQ(c.lastmsg, 1000);
  EXPECT_EQ(c.totalmsg, 0);
  EXPECT_EQ(c.activemsg, 0);
  EXPECT_FALSE(bbs->mailForSysop());
  EXPECT_EQ(bbs->store()->site().mailDir, dir_ / "MAIL");
}

// A BBS directory brought from elsewhere: the start-up reads its BIDs and
// counts its messages, and the mail-beacon list is open until shutdown.
TEST_F(StartupTest, ExistingStoreIsReadAtStart) {
  dir_.Write("ORN.INI", "[PERSONAL]\r\nMYCALL=XX9ORN-1\r\nMYHIER=GRC.EU\r\n");
  for (const char* f : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX", "MAIL.ADB"}) dir_.Write(f, "");
  {
    TOrnDbase db(StoreSite{dir_.path(), "", "XX9ORN", "GRC.EU"});
    ASSERT_TRUE(db.OpenMsgFile());
    const struct {
      long no;
      const char *to, *status, *bid;
    } msgs[] = {{2001, "ALL", "Y", "B1"}, {2002, "XX9ORN", "N", ""}, {2003, "ALL", "K", "B3"}, {2004, "WX", "H", "B4"}};
    for (const auto& m : msgs) {
      MsgDB r;
      db.DBdefaults(&r, m.no);
      CopyField(r.ToStation, m.to);
      CopyField(r.Status, m.status);
      CopyField(r.Bid, m.bid);
      ASSERT_NE(db.AppendMsg(r), 0);
    }
  }
  auto bbs = Make();
  ASSERT_TRUE(bbs->Start());
  Store& store = *bbs->store();
  EXPECT_EQ(store.counters.lastmsg, 2004);
  EXPECT_EQ(store.counters.totalmsg, 4);
  EXPECT_EQ(store.counters.activemsg, 3);
  EXPECT_EQ(store.counters.heldmsg, 1);
  EXPECT_TRUE(store.Bids.WeHaveThebid("B3"));
  EXPECT_TRUE(bbs->mailForSysop());
  ASSERT_NE(store.MsgBeacon(), nullptr);
  store.MsgBeacon()->PutCallInList("XX7ZZ");
  EXPECT_EQ(store.MsgBeacon()->FormatMailBeacon(), "XX7ZZ");
  bbs->Shutdown();
  EXPECT_EQ(store.MsgBeacon(), nullptr);
  EXPECT_EQ(dir_.Read("MAIL.ADB").size(), 11u);
}

// Record files a crash or a bad copy left behind: what is torn is cut off and
// said; what cannot be read as messages stops the start.
class DamagedStoreTest : public StartupTest {
 protected:
  void WriteMessages(std::initializer_list<long> numbers) {
    for (const char* f : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX", "MAIL.ADB"}) dir_.Write(f, "");
    TOrnDbase db(StoreSite{dir_.path(), "", "XX9ORN", ""});
    ASSERT_TRUE(db.OpenMsgFile());
    for (long no : numbers) {
      MsgDB r;
      db.DBdefaults(&r, no);
      ASSERT_NE(db.AppendMsg(r), 0);
    }
  }
};

TEST_F(DamagedStoreTest, ATornLastRecordIsCutOffAndSaid) {
  WriteMessages({1001, 1002});
  dir_.Write("MSG.ADB", dir_.Read("MSG.ADB") + std::string(100, 'x'));
  dir_.Write("MSG.IDX", dir_.Read("MSG.IDX") + std::string(8, '\0'));  // an entry of a record never written
  auto bbs = Make();
  ASSERT_TRUE(bbs->Start());
  EXPECT_EQ(dir_.Read("MSG.ADB").size(), 2 * kMsgDBSize);
  EXPECT_EQ(dir_.Read("MSG.IDX").size(), 2 * kMsgDBidxSize);
  EXPECT_EQ(bbs->store()->counters.lastmsg, 1002);
  ASSERT_GE(view_.boxes.size(), 2u);
  EXPECT_NE(view_.boxes[0].find("MSG.ADB: a torn last record (100 bytes) was cut off."), std::string::npos);
  EXPECT_NE(view_.boxes[1].find("MSG.IDX: 1 entries without their records were dropped."), std::string::npos);
}

TEST_F(DamagedStoreTest, GarbageStopsTheStartNamingTheFile) {
  WriteMessages({1001, 1002});
  std::string garbage(2 * kMsgDBSize, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  dir_.Write("MSG.ADB", garbage);
  auto bbs = Make();
  EXPECT_FALSE(bbs->Start());
  EXPECT_TRUE(bbs->quitPosted());
  ASSERT_FALSE(view_.boxes.empty());
  EXPECT_NE(view_.boxes.back().find("MSG.ADB"), std::string::npos) << view_.boxes.back();
  EXPECT_NE(view_.boxes.back().find("The start is stopped"), std::string::npos);
  // Nothing was changed.
  EXPECT_EQ(dir_.Read("MSG.ADB"), garbage);
  bbs->Shutdown();
}

// An emptied MSG.IDX: the start rebuilds it and says so, every message is
// counted, and a message stored afterwards lets the next start go quietly.
TEST_F(DamagedStoreTest, AnEmptiedMessageIndexIsRebuiltAndTheNextStartIsQuiet) {
  std::vector<long> numbers;
  for (long n = 1001; n <= 1030; ++n) numbers.push_back(n);
  WriteMessages({});
  {
    TOrnDbase db(StoreSite{dir_.path(), "", "XX9ORN", ""});
    ASSERT_TRUE(db.OpenMsgFile());
    for (long no : numbers) {
      MsgDB r;
      db.DBdefaults(&r, no);
      ASSERT_NE(db.AppendMsg(r), 0);
    }
  }
  dir_.Write("MSG.IDX", "");
  {
    auto bbs = Make();
    ASSERT_TRUE(bbs->Start());
    EXPECT_EQ(bbs->store()->counters.lastmsg, 1030);
    EXPECT_EQ(bbs->store()->counters.totalmsg, 30);
    ASSERT_FALSE(view_.boxes.empty());
    EXPECT_NE(view_.boxes[0].find("MSG.IDX did not match 30 of the 30 records of MSG.ADB"), std::string::npos)
        << view_.boxes[0];
    auto db = bbs->store()->OpenDbase();
    MsgDB next;
    db->DBdefaults(&next, bbs->store()->counters.lastmsg + 1);
    ASSERT_EQ(db->AppendMsg(next), 31);
    bbs->Shutdown();
  }
  view_.boxes.clear();
  auto bbs = Make();
  ASSERT_TRUE(bbs->Start());
  for (const std::string& box : view_.boxes) EXPECT_EQ(box.find(".IDX"), std::string::npos) << box;
  EXPECT_EQ(bbs->store()->counters.lastmsg, 1031);
  EXPECT_EQ(dir_.Read("MSG.IDX").size(), 31 * kMsgDBidxSize);
}

TEST_F(StartupTest, QuitQuestion) {
  auto bbs = Make();
  ASSERT_TRUE(bbs->Start());
  view_.answer = false;
  EXPECT_FALSE(bbs->CanClose());
  view_.answer = true;
  EXPECT_TRUE(bbs->CanClose());
  ASSERT_EQ(view_.questions.size(), 2u);
  EXPECT_EQ(view_.questions[0], "QUERY?: ARE YOU SURE YOU WANT TO QUIT?");
}

}  // namespace
}  // namespace orn
