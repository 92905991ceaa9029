// Forwarding partners: messages stored by stations are queued for the
// partners whose rules match, leave the queues again, and the cycle calls
// the partners through their connect scripts on the in-memory engine.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel.h"
#include "channel/mdi_client.h"
#include "fwd/fwd_partners.h"
#include "fwd/fwd_session.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "support/mailbox_session.h"

namespace orn {
namespace {

using test::MailboxSession;
using test::StoredMsg;

const char* const kFwdIni = "[PERSONAL]\nMYCALL=XX9ORN-1\nFWDOK=1\nFWDMIN=30\n";
const char* const kLogIni = "[LOG]\nLOGOK=1\nLOGOTHER=1\n";

void Entry(Howtoconnect& h, const char* hours, const char* send, const char* rcv = "", const char* port = "1") {
  CopyField(h.hours, hours);
  CopyField(h.port, port);
  CopyField(h.send, send);
  CopyField(h.rcv, rcv);
  CopyField(h.mlength, "0");
  CopyField(h.daysago, "0");
  CopyField(h.fwdkind, "N");
  h.flag = 'N';
}

void Queue(UserDB& u, int slot, long number, const char* type = "B", long size = 100) {
  UserFwdPriv& f = u.FwdMsgNo[slot];
  f.FwdMsgNumbers = static_cast<int32_t>(number);
  CopyField(f.Type, type);
  CopyField(f.Status, "N");
  f.Size = static_cast<int32_t>(size);
  CopyField(f.ExpDays, "1200/261210");
}

class FwdPartnersTest : public MailboxSession {
 protected:
  // A partner of type B with forwarding number `number`, routing rules
  // `rules` and one connect entry for the whole day that calls it directly.
  void AddPartner(const std::string& call, int number, const std::string& rules,
                  const std::function<void(UserDB&)>& edit = [](UserDB&) {}) {
    AddUser(call, [&](UserDB& u) {
      CopyField(u.Type, "B");
      CopyField(u.Name, "Bbs");
      CopyField(u.isFwdStation, "Y");
      CopyField(u.OkWithBids, "Y");
      u.FwdQueue = number;
      u.FwdKind = 'D';
      CopyField(u.FwdDest, rules);
      Entry(u.Hcon[0], "0023", call.c_str());
      edit(u);
    });
  }

  FwdPartners& P() { return *bbs_->partners(); }

  // The message numbers in a user's queue, in slot order.
  std::vector<long> Queued(long position) {
    std::vector<long> out;
    for (const UserFwdPriv& f : User(position).FwdMsgNo)
      if (f.FwdMsgNumbers) out.push_back(f.FwdMsgNumbers);
    return out;
  }

  // The connect requests sent since the last look ("0:XX2AAA").
  std::vector<std::string> Calls() {
    std::vector<std::string> out;
    for (const ApiFrame& f : engine_.Take("Cv")) out.push_back(std::to_string(f.port) + ":" + f.callTo);
    return out;
  }

  // A station enters a message: the send line with its subject, one line of
  // text and the end.
  void Enters(const std::string& sendLine, int channel = 1) {
    Says(sendLine, channel);
    Says("some text", channel);
    Says("/EX", channel);
  }
};

TEST_F(FwdPartnersTest, NewMessagesAreQueuedByTheRoutingRules) {
  AddPartner("XX2AAA", 1, "@EU\r\n>XX3");
  AddPartner("XX2BBB", 2, "@EU\r\n<XX1ABC");
  // A rule without text and a line of no kind are no rules.
  AddPartner("XX2CCC", 3, "@EU\r\n@\r\nrubbish");
  AddStation("XX1ABC");
  StartAndConnect({"XX1ABC"}, kFwdIni);

  struct Case {
    const char* send;
    std::vector<bool> queuedFor;  // XX2AAA, XX2BBB, XX2CCC
  };
  const Case cases[] = {
      // A bulletin goes to every partner that wants it.
      {"SB ALL @ EU news", {true, true, true}},
      // Personal mail takes the first route only.
      {"SP XX7ZZ @ EU hello", {true, false, false}},
      {"SB ALL @ WW local", {false, true, false}},
      // "@" rules come first, then ">" then "<".
      {"SP XX3DEF @ XX5XYZ hi", {true, false, false}},
      // Mail for this BBS stays here.
      {"SP XX9ORN for sysop", {false, false, false}},
      {"SP XX7ZZ @ XX9ORN.#X.Y here", {false, false, false}},
  };
  long number = 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.send);
    Enters(c.send);
    ++number;
    for (long p = 1; p <= 3; ++p) {
      const std::vector<long> q = Queued(p);
      EXPECT_EQ(std::count(q.begin(), q.end(), number), c.queuedFor[static_cast<size_t>(p - 1)] ? 1 : 0)
          << "partner " << p;
    }
  }
  EXPECT_EQ(view_.mailIndicator, std::optional<bool>(true));

  // The slot carries what the session needs without reading the message.
  const UserFwdPriv f = User(1).FwdMsgNo[0];
  const MsgDB m = Record(1);
  EXPECT_EQ(f.FwdMsgNumbers, 1001);
  EXPECT_STREQ(f.Type, "B");
  EXPECT_STREQ(f.Status, "N");
  EXPECT_EQ(f.Size, m.Size);
  EXPECT_STREQ(f.ExpDays, m.MsgDate);
}

TEST_F(FwdPartnersTest, AMessageNeverGoesBackWhereItCameFrom) {
  AddPartner("XX2AAA", 1, "@EU");
  AddPartner("XX2BBB", 2, "@EU");
  AddPartner("XX2CCC", 3, "@EU");
  StartAndConnect({"XX2BBB"}, kFwdIni);
  // The partner that brought it, and the relay list of the message: us,
  // then the BBSes it passed. A call that only starts like a relay's is not
  // that relay.
  MsgOrigin via;
  via.call = "XX2BBB";
  via.relays = {"XX9ORN.#X.Y", "XX2AAA.#X.Y", "XX2CC"};
  MsgDB m{};
  m.MsgNo = 1001;
  CopyField(m.Type, "B");
  CopyField(m.Status, "N");
  CopyField(m.ToStation, "ALL");
  CopyField(m.FromStation, "XX1AAA");
  CopyField(m.AtBbs, "EU");
  P().DealFwd(m, &via);
  // Twice changes nothing.
  P().DealFwd(m, &via);
  EXPECT_EQ(Queued(1), std::vector<long>{});
  EXPECT_EQ(Queued(2), std::vector<long>{});
  EXPECT_EQ(Queued(3), std::vector<long>{1001});
}

TEST_F(FwdPartnersTest, AFullQueueDropsItsOldestHundred) {
  AddPartner("XX2AAA", 1, "@EU", [](UserDB& u) {
    for (int s = 0; s < kUserFwdPrivCount; ++s) Queue(u, s, 5000 + s);
  });
  AddStation("XX1ABC");
  StartAndConnect({"XX1ABC"}, kFwdIni);
  Enters("SB ALL @ EU news");
  const UserDB u = User(1);
  EXPECT_EQ(u.FwdMsgNo[0].FwdMsgNumbers, 1001);
  for (int s = 1; s < 100; ++s) EXPECT_EQ(u.FwdMsgNo[s].FwdMsgNumbers, 0) << s;
  EXPECT_EQ(u.FwdMsgNo[100].FwdMsgNumbers, 5100);
  EXPECT_EQ(u.FwdMsgNo[500].FwdMsgNumbers, 5500);
}

TEST_F(FwdPartnersTest, RemovedMessagesLeaveEveryQueue) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) {
    Queue(u, 0, 1001);
    Queue(u, 3, 1002);
  });
  // Outside the cycle, but it is served when it calls.
  AddPartner("XX2BBB", 0, "", [](UserDB& u) { Queue(u, 7, 1001); });
  StartAndConnect({}, kFwdIni);
  // The repair's seam is the one a dropped message goes through.
  bbs_->optimizer()->RemFwd(1001);
  EXPECT_EQ(Queued(1), std::vector<long>{1002});
  EXPECT_EQ(Queued(2), std::vector<long>{});
  EXPECT_STREQ(User(1).FwdMsgNo[0].Type, "");
}

TEST_F(FwdPartnersTest, TheRoutingTableHoldsFiftyPartners) {
  for (int i = 0; i < 60; ++i) {
    char call[8];
    std::snprintf(call, sizeof call, "XX%dA%02d", i / 10, i);
    AddPartner(call, 0, "@EU");
  }
  AddStation("XX1ABC");
  StartAndConnect({}, kFwdIni);
  EXPECT_STREQ(P().UserFwdDest[0].Call, "XX0A00");
  EXPECT_STREQ(P().UserFwdDest[49].Call, "XX4A49");
  EXPECT_STREQ(P().UserFwdDest[49].fwddest, "@EU");
}

class FwdCycleTest : public FwdPartnersTest {
 protected:
  void SetUp() override {
    FwdPartnersTest::SetUp();
    AddMsg({"P", "N", "XX3CCC", "XX7ZZ", "XX3CCC", "Hi", "Text.\n"});
  }

  // The engine answers our connect.
  void Answers(const std::string& call) { engine_.Event(0, "*** CONNECTED With Station " + call + "\r"); }
  void Fails(const std::string& call) { engine_.Event(0, "*** DISCONNECTED RETRYOUT With " + call + "\r"); }
};

TEST_F(FwdCycleTest, ThePartnerIsCalledAndOfferedItsMail) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) { Queue(u, 0, 1001, "P"); });
  StartAndConnect({}, kFwdIni);
  P().CMFwd();
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2AAA"});
  TChannel& ch = Ch(1);
  EXPECT_TRUE(ch.fwdoperation);
  EXPECT_STREQ(ch.UserCall, "XX2AAA");
  EXPECT_TRUE(P().started());

  Answers("XX2AAA");
  // No greeting of ours: the partner speaks first.
  EXPECT_EQ(Sent(), "");
  EXPECT_EQ(ch.Service, 9);
  EXPECT_EQ(ch.whattodo, 'J');
  engine_.Data(0, "XX2AAA", "[FBB-7.00-ABFHMR$]\rWelcome\r>\r");
  const std::string block = Sent();
  EXPECT_FALSE(ch.fwdoperation);
  EXPECT_NE(block.find("FA P XX7ZZ XX3CCC XX3CCC XX9ORN_1001 "), std::string::npos) << block;

  // The link ends: there is nobody else, the cycle is over.
  engine_.Event(0, "*** DISCONNECTED From Station XX2AAA\r");
  EXPECT_FALSE(P().started());
  EXPECT_EQ(P().fwdqueue, 0);
}

TEST_F(FwdCycleTest, ThePartnersAreTriedInTheirOrder) {
  // Added in this order; called by forwarding number.
  AddPartner("XX2BBB", 2, "", [](UserDB& u) { Queue(u, 0, 1001); });
  AddPartner("XX2AAA", 1, "", [](UserDB& u) { Queue(u, 0, 1001); });
  // Same number as an earlier one: never reached.
  AddPartner("XX2DUP", 1, "", [](UserDB& u) { Queue(u, 0, 1001); });
  // Out of the cycle; nothing queued; no window now; not a BBS.
  AddPartner("XX2ZER", 0, "", [](UserDB& u) { Queue(u, 0, 1001); });
  AddPartner("XX2EMP", 3, "");
  AddPartner("XX2NIG", 4, "", [](UserDB& u) {
    Queue(u, 0, 1001);
    Entry(u.Hcon[0], "0800", "XX2NIG");
  });
  AddPartner("XX2USR", 5, "", [](UserDB& u) {
    Queue(u, 0, 1001);
    CopyField(u.Type, "U");
  });
  // A reverse partner is called with nothing queued.
  AddPartner("XX2REV", 6, "", [](UserDB& u) { u.FwdKind = 'E'; });
  AddPartner("XX2FAR", 51, "", [](UserDB& u) { Queue(u, 0, 1001); });
  StartAndConnect({}, kFwdIni);

  P().CMFwd();
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2AAA"});
  Fails("XX2AAA");
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2BBB"});
  Answers("XX2BBB");
  engine_.Event(0, "*** DISCONNECTED From Station XX2BBB\r");
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2REV"});
  Fails("XX2REV");
  EXPECT_EQ(Calls(), std::vector<std::string>{});
  EXPECT_FALSE(P().started());
}

TEST_F(FwdCycleTest, TheHourlyTickStartsACycle) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) { Queue(u, 0, 1001); });
  clock_.SetLocal(2026, 12, 10, 9, 29, 30);
  StartAndConnect({}, kFwdIni);
  const int tick = bbs_->serviceTimers()->fwdtimer_id;
  timers_.Fire(tick);
  EXPECT_EQ(Calls(), std::vector<std::string>{});
  clock_.Advance(60);
  timers_.Fire(tick);
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2AAA"});
  EXPECT_TRUE(P().started());
}

TEST_F(FwdCycleTest, WithForwardingOffNobodyIsCalled) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) { Queue(u, 0, 1001); });
  StartAndConnect({}, "[PERSONAL]\nMYCALL=XX9ORN-1\nFWDOK=0\n");
  P().CMFwd();
  EXPECT_EQ(Calls(), std::vector<std::string>{});
  EXPECT_FALSE(P().started());
}

TEST_F(FwdCycleTest, AScriptThroughANode) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) {
    Queue(u, 0, 1001, "P");
    Entry(u.Hcon[0], "0023", "XX1NOD;C XX2AAA", "CONNECTED;Connected to XX2AAA");
  });
  StartAndConnect({}, kFwdIni);
  P().CMFwd();
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX1NOD"});
  Answers("XX1NOD");
  EXPECT_EQ(Sent(), "C XX2AAA\r");
  EXPECT_TRUE(Ch(1).rcvwait);
  engine_.Data(0, "XX1NOD", "*** Connected to XX2AAA\r");
  EXPECT_EQ(Ch(1).Service, 9);
  // The session is the partner's, whoever answered the link.
  EXPECT_STREQ(Ch(1).tdb->userdb.Call, "XX2AAA");
  engine_.Data(0, "XX1NOD", "[FBB-7.00-ABFHMR$]\r>\r");
  EXPECT_NE(Sent().find("XX9ORN_1001"), std::string::npos);
}

TEST_F(FwdCycleTest, TheAwaitedAnswerMayComeInPiecesAfterOtherText) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) {
    Queue(u, 0, 1001, "P");
    Entry(u.Hcon[0], "0023", "XX1NOD;C XX2AAA;XX9ORN", "CONNECTED;connected to XX2AAA;Callsign :");
  });
  StartAndConnect({}, kFwdIni);
  P().CMFwd();
  Calls();
  Answers("XX1NOD");
  EXPECT_EQ(Sent(), "C XX2AAA\r");
  // The node's banner, then its answer split anywhere, in its own case.
  for (const char* piece : {"Welcome to the node\r", "*** Conn", "ected t", "o XX2AAA\r"}) {
    EXPECT_TRUE(Ch(1).rcvwait) << piece;
    engine_.Data(0, "XX1NOD", piece);
  }
  // The partner behind it asks who calls, in two pieces.
  EXPECT_EQ(Sent(), "XX9ORN\r");
  engine_.Data(0, "XX1NOD", "Callsi");
  EXPECT_EQ(Ch(1).Service, 0);
  engine_.Data(0, "XX1NOD", "gn : ");
  EXPECT_EQ(Ch(1).Service, 9);
  engine_.Data(0, "XX1NOD", "[FBB-7.00-ABFHMR$]\r>\r");
  EXPECT_NE(Sent().find("XX9ORN_1001"), std::string::npos);
  EXPECT_EQ(Disconnects(), std::vector<std::string>{});
}

TEST_F(FwdCycleTest, AnAnswerThatNeverComesEndsTheCallAndTheCycleGoesOn) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) {
    Queue(u, 0, 1001);
    Entry(u.Hcon[0], "0023", "XX1NOD;C XX2AAA", "CONNECTED;Connected to XX2AAA");
  });
  AddPartner("XX2BBB", 2, "", [](UserDB& u) { Queue(u, 0, 1001); });
  StartAndConnect({}, kFwdIni);
  P().CMFwd();
  Calls();
  Answers("XX1NOD");
  Sent();
  engine_.Data(0, "XX1NOD", "Busy from XX2AAA\r");
  const int tick = bbs_->serviceTimers()->servicetimer_id;
  timers_.Fire(tick);
  EXPECT_EQ(Disconnects(), std::vector<std::string>{});
  clock_.Advance(121);
  timers_.Fire(tick);
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1NOD"});
  engine_.Event(0, "*** DISCONNECTED From Station XX1NOD\r");
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2BBB"});
}

TEST_F(FwdCycleTest, AStationAlreadyConnectedIsSkipped) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) { Queue(u, 0, 1001); });
  AddPartner("XX2BBB", 2, "", [](UserDB& u) { Queue(u, 0, 1001); });
  StartAndConnect({"XX2AAA"}, kFwdIni);
  P().CMFwd();
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2BBB"});
  EXPECT_EQ(Ch(2).UserCall, std::string("XX2BBB"));
}

TEST_F(FwdCycleTest, TheContinueFlagCallsTheNextPartnerEarly) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) {
    Queue(u, 0, 1001);
    u.Hcon[0].flag = 'C';
  });
  AddPartner("XX2BBB", 2, "", [](UserDB& u) { Queue(u, 0, 1001); });
  StartAndConnect({}, kFwdIni);
  P().CMFwd();
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2AAA"});
  Answers("XX2AAA");
  EXPECT_EQ(Calls(), std::vector<std::string>{});
  engine_.Data(0, "XX2AAA", "[FBB-7.00-ABFHMR$]\r>\r");
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2BBB"});
  EXPECT_EQ(Ch(1).Service, 9);
}

TEST_F(FwdCycleTest, TheConnectEntryRules) {
  struct Case {
    const char* name;
    const char* hours;
    const char* mlength;
    long size;
    const char* port;
    const char* daysago;
    bool called;
  };
  // The queued message is dated 10 December, ten days ago.
  clock_.SetLocal(2026, 12, 20, 10, 0, 0);
  const Case cases[] = {
      {"whole day", "0023", "0", 100, "1", "0", true},
      {"start after end", "0800", "0", 100, "1", "0", false},
      {"not four digits", "023", "0", 100, "1", "0", false},
      {"smaller than 5 kB", "0023", "<5", 4999, "1", "0", true},
      {"not smaller than 5 kB", "0023", "<5", 5000, "1", "0", false},
      {"plain N is smaller than", "0023", "5", 5000, "1", "0", false},
      {"larger than 5 kB", "0023", ">5", 5001, "1", "0", true},
      {"not larger than 5 kB", "0023", ">5", 5000, "1", "0", false},
      {"no size rule", "0023", "", 900000, "1", "0", true},
      {"young enough", "0023", "0", 100, "1", "15", true},
      {"too old", "0023", "0", 100, "1", "5", false},
      {"no such port", "0023", "0", 100, "7", "0", false},
      {"port out of range", "0023", "0", 100, "99", "0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AddPartner("XX2AAA", 1, "", [&](UserDB& u) {
      Queue(u, 0, 1001, "B", c.size);
      Entry(u.Hcon[0], c.hours, "XX2AAA", "", c.port);
      CopyField(u.Hcon[0].mlength, c.mlength);
      CopyField(u.Hcon[0].daysago, c.daysago);
    });
    StartAndConnect({}, kFwdIni);
    P().CMFwd();
    EXPECT_EQ(Calls().size(), c.called ? 1u : 0u);
    bbs_->Shutdown();
    bbs_.reset();
    for (const char* f : {"USERS.ADB", "USERS.IDX"}) TFileOperations::filedelete(dir_ / f);
    engine_.Take();
  }
}

TEST_F(FwdCycleTest, TheEntrysPortIsAPortOfOrnIniOnTheEngineItNames) {
  struct Case {
    const char* port;
    std::vector<std::string> calls;
  } cases[] = {
      {"1", {"2:XX2AAA"}},  // PORT0 is engine port 2
      {"2", {}},            // PORT1, engine port 0, takes no connections
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    AddPartner("XX2AAA", 1, "", [&](UserDB& u) {
      Queue(u, 0, 1001, "P");
      Entry(u.Hcon[0], "0023", "XX2AAA", "", c.port);
    });
    engine_.portList = "3;Port1 a;Port2 b;Port3 c;";
    StartWith(std::string(kFwdIni) + "[RADIO]\nPORTS=2\n[PORT0]\nPORTNUM=2\n[PORT1]\nPORTNUM=0\nCONOK=0\n");
    P().CMFwd();
    EXPECT_EQ(Calls(), c.calls);
    bbs_->Shutdown();
    bbs_.reset();
    for (const char* f : {"USERS.ADB", "USERS.IDX"}) TFileOperations::filedelete(dir_ / f);
    engine_.Take();
  }
}

TEST_F(FwdCycleTest, AnExportPartnerGetsAFileInsteadOfACall) {
  AddPartner("XX2EXP", 1, "", [](UserDB& u) {
    u.FwdKind = 'C';
    Queue(u, 0, 1001, "P");
    CopyField(u.Hcon[0].fwdkind, "E");
    CopyField(u.Hcon[0].expfile, "export.txt");
  });
  AddPartner("XX2AAA", 2, "", [](UserDB& u) {
    Queue(u, 4, 1001, "P");
    Queue(u, 5, 1002, "P");
  });
  StartAndConnect({}, kFwdIni);
  P().CMFwd();
  // The export partner is not called; the next one is.
  EXPECT_EQ(Calls(), std::vector<std::string>{"0:XX2AAA"});
  std::string file;
  ASSERT_TRUE(ReadWholeFile(dir_ / "export.txt", &file));
  EXPECT_EQ(file.rfind("SP XX3CCC @ XX3CCC < XX7ZZ $", 0), 0u) << file;
  EXPECT_NE(file.find("\nHi\n"), std::string::npos) << file;
  EXPECT_NE(file.find("Text."), std::string::npos) << file;
  EXPECT_EQ(file.substr(file.size() - 5), "\n/EX\n");
  // Written out, it leaves every queue.
  EXPECT_EQ(Queued(1), std::vector<long>{});
  EXPECT_EQ(Queued(2), std::vector<long>{1002});
}

TEST_F(FwdCycleTest, AnExportFileOutsideTheBbsDirectoryIsNeverWritten) {
  // Records written before the field was checked, or by hand: each names a
  // file outside the BBS directory in its own way.
  const test::TestDir out;
  const std::string base = out.path().substr(out.path().find_last_of('/') + 1);
  std::filesystem::create_directory_symlink(out.path(), dir_ / "link");
  const std::string cases[] = {
      "../" + base + "/export.txt",         "sub/../../" + base + "/export.txt", "..\\" + base + "\\export.txt",
      out.path() + "/export.txt",           "link/export.txt",
  };
  for (const std::string& file : cases) {
    SCOPED_TRACE(file);
    AddPartner("XX2EXP", 1, "", [&](UserDB& u) {
      u.FwdKind = 'C';
      Queue(u, 0, 1001, "P");
      CopyField(u.Hcon[0].fwdkind, "E");
      CopyField(u.Hcon[0].expfile, file);
    });
    StartWith(kFwdIni);
    P().CMFwd();
    EXPECT_FALSE(out.Exists("export.txt"));
    // Not written, so still queued: a mended entry exports it.
    EXPECT_EQ(Queued(1), std::vector<long>{1001});
    bbs_->Shutdown();
    bbs_.reset();
    for (const char* f : {"USERS.ADB", "USERS.IDX"}) TFileOperations::filedelete(dir_ / f);
    engine_.Take();
  }
}

TEST_F(FwdPartnersTest, ACallingPartnerGetsTheEntryOfTheHour) {
  AddPartner("XX2AAA", 1, "", [](UserDB& u) {
    Entry(u.Hcon[0], "0007", "XX2AAA");
    Entry(u.Hcon[1], "0812", "XX2AAA");
    Entry(u.Hcon[2], "0923", "XX2AAA");
  });
  clock_.SetLocal(2026, 12, 10, 9, 0, 0);
  StartAndConnect({"XX2AAA"}, kFwdIni);
  EXPECT_EQ(Ch(1).hconindex, 1);
}

class MailServerTest : public FwdPartnersTest {
 protected:
  void SetUp() override {
    FwdPartnersTest::SetUp();
    dir_.Write("servers.inf", "REQDIR\r\nOTHER\r\n");
    // Personal mail for the requester goes to this partner.
    AddPartner("XX2AAA", 1, ">XX1");
    AddStation("XX1ABC");
  }
  // The server: it keeps the request and answers with a listing.
  void Server(const std::string& body) {
    dir_.Write("REQDIR.exe", "#!/bin/sh\n" + body);
    ASSERT_EQ(::chmod((dir_ / "REQDIR.exe").c_str(), 0755), 0);
  }
  std::string Text(long number) {
    std::string t;
    EXPECT_TRUE(ReadWholeFile(MsgFileName(dir_ / "MAIL", number), &t));
    return t;
  }
  // Looks after the servers as the BBS's timer does, until none works.
  void ServersEnd() {
    for (int i = 0; i < 1500 && P().serversBusy(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      timers_.Fire(kMailServerTimerId);
    }
    ASSERT_FALSE(P().serversBusy());
    EXPECT_EQ(timers_.timers.count(kMailServerTimerId), 0u);
  }
};

TEST_F(MailServerTest, TheServersAnswerBecomesTheReply) {
  Server("cp REQDIR.out request.txt\nprintf 'Files:\\nA.TXT\\n' > REQDIR.in\n");
  StartAndConnect({"XX1ABC"}, kFwdIni);
  Enters("SP REQDIR @ XX9ORN list all");
  ServersEnd();
  std::string request;
  ASSERT_TRUE(ReadWholeFile(dir_ / "request.txt", &request));
  EXPECT_EQ(request, "list all\n");
  EXPECT_EQ(Text(1001), "Files:\r\nA.TXT\r\n");
  const MsgDB m = Record(1);
  EXPECT_STREQ(m.ToStation, "XX1ABC");
  EXPECT_STREQ(m.FromStation, "XX9ORN");
  EXPECT_STREQ(m.AtBbs, "");
  EXPECT_STREQ(m.Bid, "XX9ORN_1001");
  EXPECT_EQ(m.Size, 15);
  // The answer is used up; the reply is routed as the reply.
  EXPECT_FALSE(FileExists(dir_ / "REQDIR.in"));
  EXPECT_EQ(Queued(1), std::vector<long>{1001});
}

TEST_F(MailServerTest, WithoutAnAnswerTheRequestStays) {
  struct Case {
    const char* name;
    const char* program;  // null: none
    const char* send;
    bool requestWritten;
    const char* logged;  // the activity log's line, if any
  };
  const Case cases[] = {
      {"no program", nullptr, "SP REQDIR @ XX9ORN list", true, nullptr},
      {"no answer", "exit 0\n", "SP REQDIR @ XX9ORN list", true, nullptr},
      // What the server started goes with it: no answer turns up later.
      {"an answer too late", "(sleep 1; echo late > REQDIR.in) &\nwait\n", "SP REQDIR @ XX9ORN list", true,
       "<REQDIR stopped> 1001 from XX1ABC"},
      // A server that fails has answered nothing, whatever it wrote.
      {"a failing server", "echo half > REQDIR.in\nexit 3\n", "SP REQDIR @ XX9ORN list", true,
       "<REQDIR failed> 1001 from XX1ABC"},
      {"a server killed", "echo half > REQDIR.in\nkill -9 $$\n", "SP REQDIR @ XX9ORN list", true,
       "<REQDIR failed> 1001 from XX1ABC"},
      {"stopped at its limit", "echo half > REQDIR.in\nsleep 5\n", "SP REQDIR @ XX9ORN list", true,
       "<REQDIR stopped> 1001 from XX1ABC"},
      {"not a server", "echo x > REQDIR.in\n", "SP NOSERV @ XX9ORN list", false, nullptr},
      {"for another BBS", "echo x > REQDIR.in\n", "SP REQDIR @ XX5BBS list", false, nullptr},
      {"for a station", "echo x > REQDIR.in\n", "SP XX1ABC @ XX9ORN list", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFileOperations::filedelete(dir_ / "REQDIR.exe");
    TFileOperations::filedelete(dir_ / "REQDIR.out");
    if (c.program) Server(c.program);
    dir_.Write("BBS.LOG", "");
    StartAndConnect({"XX1ABC"}, std::string(kFwdIni) + kLogIni);
    P().serverWaitMs = 300;
    Enters(c.send);
    ServersEnd();
    EXPECT_EQ(FileExists(dir_ / "REQDIR.out"), c.requestWritten);
    if (std::string(c.name) == "an answer too late") {
      std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    }
    EXPECT_FALSE(FileExists(dir_ / "REQDIR.in"));
    EXPECT_NE(Text(1001).find("some text\r\n"), std::string::npos);
    EXPECT_STREQ(Record(1).FromStation, "XX1ABC");
    const std::string log = dir_.Read("BBS.LOG");
    if (c.logged) {
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    } else {
      EXPECT_EQ(log.find("REQDIR"), std::string::npos) << log;
    }
    bbs_->Shutdown();
    bbs_.reset();
    // Each case's request is message 1001 again.
    for (const char* f : {"MSG.ADB", "MSG.IDX", "LASTMSG.DAT"}) TFileOperations::filedelete(dir_ / f);
    std::filesystem::remove_all(dir_ / "MAIL");
    engine_.Take();
  }
}

// An answer without end becomes a reply of its first megabyte, cut at a
// line end, and the log says so.
TEST_F(MailServerTest, AHugeAnswerIsCut) {
  Server("yes 'one line of the listing' | head -c 3000000 > REQDIR.in\n");
  dir_.Write("BBS.LOG", "");
  StartAndConnect({"XX1ABC"}, std::string(kFwdIni) + kLogIni);
  Enters("SP REQDIR @ XX9ORN list all");
  ServersEnd();
  const std::string reply = FromDiskLines(Text(1001));
  const std::string line = "one line of the listing\n";
  const size_t lines = (size_t{1} << 20) / line.size();
  ASSERT_EQ(reply.size(), lines * line.size());
  for (size_t at = 0; at < reply.size(); at += line.size()) ASSERT_EQ(reply.compare(at, line.size(), line), 0) << at;
  EXPECT_STREQ(Record(1).ToStation, "XX1ABC");
  EXPECT_FALSE(FileExists(dir_ / "REQDIR.in"));
  EXPECT_NE(dir_.Read("BBS.LOG").find("<REQDIR answer cut> 1001 from XX1ABC"), std::string::npos);
}

// A server that takes its time does not hold the BBS up: the stations go on
// meanwhile, and requests that come in wait for their turn.
TEST_F(MailServerTest, StationsAreServedWhileAServerWorks) {
  Server("while [ ! -f go ]; do sleep 0.02; done\ncp REQDIR.out REQDIR.in\n");
  StartAndConnect({"XX1ABC"}, kFwdIni);
  Enters("SP REQDIR @ XX9ORN list one");
  EXPECT_TRUE(P().serversBusy());
  // The station's second request is taken and answered at once.
  Says("SP REQDIR @ XX9ORN list two");
  Says("some text");
  EXPECT_NE(Says("/EX").find(">"), std::string::npos);
  EXPECT_EQ(Queued(1), std::vector<long>{});
  dir_.Write("go", "");
  ServersEnd();
  EXPECT_EQ(Text(1001), "list one\r\n");
  EXPECT_EQ(Text(1002), "list two\r\n");
  EXPECT_STREQ(Record(2).ToStation, "XX1ABC");
  EXPECT_EQ(Queued(1), (std::vector<long>{1001, 1002}));
}

// Shutting down stops a server that is still working; its request is
// routed as it stands, nothing is left running, nor half an answer.
TEST_F(MailServerTest, ShutdownStopsAWorkingServer) {
  Server("echo half > REQDIR.in\necho $$ > pid\nwhile [ ! -f go ]; do sleep 0.02; done\necho late > REQDIR.in\n");
  StartAndConnect({"XX1ABC"}, kFwdIni);
  Enters("SP REQDIR @ XX9ORN list all");
  ASSERT_TRUE(P().serversBusy());
  std::string pid;
  // The file is there (empty) a moment before the shell has written to it.
  for (int i = 0; i < 500 && (!ReadWholeFile(dir_ / "pid", &pid) || pid.find('\n') == std::string::npos); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  bbs_->Shutdown();
  ASSERT_FALSE(pid.empty());
  EXPECT_NE(::kill(std::stoi(pid), 0), 0);
  // What it had written is no answer.
  EXPECT_FALSE(FileExists(dir_ / "REQDIR.in"));
  EXPECT_NE(Text(1001).find("some text\r\n"), std::string::npos);
  EXPECT_STREQ(Record(1).FromStation, "XX1ABC");
}

}  // namespace
}  // namespace orn
