#include <gtest/gtest.h>

#include "support/bbs_on_engine.h"

namespace orn {
namespace {

using test::BbsOnEngine;

class EngineLossTest : public BbsOnEngine {};

TEST_F(EngineLossTest, EverySessionEndsAndTheBbsGoesIdle) {
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=3\n");
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
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].kind, 'm');
  EXPECT_EQ(sent[1].kind, 'R');
  EXPECT_EQ(sent[2].kind, 'X');
  EXPECT_EQ(sent[2].callFrom, "XX9ORN-1");

  // Stations reach the BBS again.
  engine_.Pump();
  EXPECT_EQ(Connects(0, "XX2ABC"), 1);
}

}  // namespace
}  // namespace orn
