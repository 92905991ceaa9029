#include <gtest/gtest.h>

#include "support/bbs_on_engine.h"

namespace orn {
namespace {

using test::BbsOnEngine;

class EngineLossTest : public BbsOnEngine {};

TEST_F(EngineLossTest, EverySessionEndsAndTheBbsGoesIdle) {
  StartWith("[RADIO]\nPORTS=1\nRECONNECT=0\n[PORT0]\nCHANNELS=3\n");
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  ASSERT_EQ(Connects(0, "XX2ABC"), 2);
  Ch(2).Service = 8;
  engine_.Drop();

  EXPECT_EQ(Client().BBSOK, 0u);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_FALSE(Ch(i).connected) << i;
    EXPECT_EQ(Ch(i).Service, 0) << i;
    EXPECT_STREQ(Ch(i).UserCall, "NULL") << i;
  }
  EXPECT_EQ(view_.status, "Idle Mode! No Server Connection !");
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0],
            "XX9ORN-1  ORNBBS MailBox: Disconnected From Packet Engine.\n Program Enters Idle Mode !");
  // Without RECONNECT nothing tries again.
  EXPECT_EQ(timers_.timers.count(kReconnectTimerId), 0u);
  EXPECT_EQ(engine_.opens, 1);
  // Frames for the engine are dropped quietly meanwhile.
  engine_.Take();
  Link().SendUnprotoData(0, "anyone?");
  EXPECT_TRUE(engine_.Take().empty());
}

TEST_F(EngineLossTest, ReconnectTriesUntilTheEngineIsBack) {
  StartWith("[RADIO]\nPORTS=1\nRECONNECT=5\n[PORT0]\nCHANNELS=1\n");
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  engine_.Drop();
  ASSERT_EQ(timers_.timers.count(kReconnectTimerId), 1u);
  EXPECT_EQ(timers_.timers[kReconnectTimerId].periodMs, 5000);

  engine_.reachable = false;
  timers_.Fire(kReconnectTimerId);
  timers_.Fire(kReconnectTimerId);
  EXPECT_EQ(Client().BBSOK, 0u);
  EXPECT_EQ(view_.boxes.size(), 1u);  // failed attempts are not announced one by one

  engine_.reachable = true;
  engine_.Take();
  timers_.Fire(kReconnectTimerId);
  EXPECT_EQ(Client().BBSOK, 1u);
  EXPECT_EQ(timers_.timers.count(kReconnectTimerId), 0u);
  const auto sent = engine_.Take();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].kind, 'm');
  EXPECT_EQ(sent[1].kind, 'R');
  EXPECT_EQ(sent[2].kind, 'G');  // the engine may be another one: its ports are asked again
  EXPECT_EQ(sent[3].kind, 'X');
  EXPECT_EQ(sent[3].callFrom, "XX9ORN-1");

  // Stations reach the BBS again.
  engine_.Pump();
  EXPECT_EQ(Connects(0, "XX2ABC"), 1);
}

// The usual order at boot: the BBS comes up before its engine, or meets one
// that is not ready yet, and keeps trying from start-up by the default
// RECONNECT of 30 s.
TEST_F(EngineLossTest, AnEngineMissingAtStartUpIsLookedForUntilItComes) {
  struct Case {
    const char* name;
    bool reachable, answersVersion;
    int refused;
  } cases[] = {
      {"no engine listening", false, true, -1},
      {"something else listening", true, false, -1},
      {"the call refused", true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bbs_.reset();
    view_.boxes.clear();
    engine_.reachable = c.reachable;
    engine_.answersVersion = c.answersVersion;
    engine_.refusedPorts = {c.refused};
    StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\n");
    EXPECT_EQ(Client().BBSOK, 0u);
    EXPECT_FALSE(Link().IsOpen());  // no half set-up link holds the engine
    ASSERT_EQ(timers_.timers.count(kReconnectTimerId), 1u);
    EXPECT_EQ(timers_.timers[kReconnectTimerId].periodMs, 30000);
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_NE(view_.boxes[0].find("Trying again every 30 s (RADIO RECONNECT in ORN.INI)."), std::string::npos)
        << view_.boxes[0];

    timers_.Fire(kReconnectTimerId);
    EXPECT_EQ(Client().BBSOK, 0u);
    EXPECT_EQ(view_.boxes.size(), 1u);

    engine_.reachable = true;
    engine_.answersVersion = true;
    engine_.refusedPorts.clear();
    timers_.Fire(kReconnectTimerId);
    EXPECT_EQ(Client().BBSOK, 1u);
    EXPECT_EQ(timers_.timers.count(kReconnectTimerId), 0u);
    EXPECT_EQ(bbs_->cfg().Ports[0].port, "first soundcard mono");
    engine_.Pump();
    EXPECT_EQ(Connects(0, "XX1ABC"), 1);
    bbs_->Shutdown();
  }
}

TEST_F(EngineLossTest, ReconnectZeroLeavesAStartWithoutEngineIdle) {
  engine_.reachable = false;
  StartWith("[RADIO]\nPORTS=1\nRECONNECT=0\n");
  EXPECT_EQ(Client().BBSOK, 0u);
  EXPECT_EQ(timers_.timers.count(kReconnectTimerId), 0u);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].find("Trying again"), std::string::npos);
}

}  // namespace
}  // namespace orn
