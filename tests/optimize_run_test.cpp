#include <gtest/gtest.h>

#include "app/service_timers.h"
#include "support/mailbox_session.h"

namespace orn {
namespace {

using test::MailboxSession;

class OptimizeRunTest : public MailboxSession {
 protected:
  void InfoTick() { timers_.Fire(bbs_->serviceTimers()->infotimer_id); }
  OptimizeRun& Run() { return *bbs_->optimizer(); }
};

TEST_F(OptimizeRunTest, TheScheduledRunComesOnceAtItsMinuteWithTheStationsLetGo) {
  AddMsg({"B", "Y"});
  AddMsg({"B", "N"});
  AddMsg({"P", "Y", "XX1ABC"});
  AddStation("XX1ABC");
  clock_.SetLocal(2026, 12, 10, 10, 9, 50);
  StartAndConnect({"XX1ABC"}, "[PERSONAL]\nOPTIMIZE=10,10,10\n[OPTIMIZE]\nYES=1\n");
  ASSERT_EQ(bbs_->store()->counters.totalmsg, 3);
  InfoTick();
  EXPECT_FALSE(Run().iact);

  clock_.SetLocal(2026, 12, 10, 10, 10, 0);
  Disconnects();
  InfoTick();
  ASSERT_TRUE(Run().iact);
  EXPECT_TRUE(Run().repcheck);
  // The station is asked to go (twice), nobody else may come, and no channel
  // holds the files.
  EXPECT_EQ(Disconnects(), (std::vector<std::string>{"0:XX1ABC", "0:XX1ABC"}));
  EXPECT_EQ(bbs_->cfg().Ports[0].conok, 0);
  EXPECT_EQ(Ch(1).tdb, nullptr);
  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  EXPECT_EQ(Connects(0, "XX2BBB"), 0);

  Run().Wait();
  EXPECT_FALSE(Run().iact);
  EXPECT_EQ(bbs_->cfg().Ports[0].conok, 1);
  ASSERT_NE(Ch(1).tdb, nullptr);
  EXPECT_EQ(bbs_->store()->counters.totalmsg, 1);
  EXPECT_EQ(Record(1).MsgNo, 1002);
  EXPECT_EQ(view_.status, "Database repair done");

  // The same minute does not start a second run; stations are welcome again.
  InfoTick();
  EXPECT_FALSE(Run().iact);
  EXPECT_EQ(Connects(0, "XX1ABC"), 1);
}

TEST_F(OptimizeRunTest, TheSysopStartsARunAtAnyTime) {
  AddMsg({"B", "K"});
  AddMsg({"B", "N"});
  clock_.SetLocal(2026, 12, 3, 17, 42);
  StartAndConnect({}, "[OPTIMIZE]\nKILLED=1\nLOG=1\n[LOG]\nLOGOK=1\n");
  dir_.Write("BBS.LOG", "261201:0900->something\n");
  std::vector<long> unqueued;
  Run().RemFwd = [&](long n) { unqueued.push_back(n); };
  Run().StartOptimize(true);
  EXPECT_TRUE(Run().nokat);
  Run().Wait();
  EXPECT_EQ(bbs_->store()->counters.totalmsg, 1);
  EXPECT_EQ(unqueued, std::vector<long>{1001});
  EXPECT_EQ(dir_.Read("BBS.LOG"), "");
}

}  // namespace
}  // namespace orn
