#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/bbs_on_engine.h"

namespace orn {
namespace {

using test::BbsOnEngine;

class ServiceTimersTest : public BbsOnEngine {
 protected:
  ServiceTimers& T() { return *bbs_->serviceTimers(); }
  void ServiceTick() { timers_.Fire(T().servicetimer_id); }
  void PollTick() { timers_.Fire(T().askmaxframetimer_id); }
  // The frames of the given kinds the BBS sent since the last look, as
  // kind and destination.
  std::vector<std::string> Sent(const char* kinds) {
    std::vector<std::string> out;
    for (const ApiFrame& f : engine_.Take(kinds)) out.push_back(std::string(1, f.kind) + ":" + f.callTo);
    return out;
  }
};

class NoClient : public TimerClient {
 public:
  void OnTimer(int) override {}
};

TEST_F(ServiceTimersTest, EveryTimerTakesTheFirstFreeIdentifierFromItsBase) {
  NoClient other;
  ASSERT_TRUE(timers_.SetTimer(1300, 1, &other));  // someone else has the info timer's base
  engine_.portList = "3;Port1 a;Port2 b;Port3 c;";
  StartWith(
      "[RADIO]\nPORTS=3\n"
      "[PORT0]\nBEACONOK=1\n"
      "[PORT1]\nBEACONOK=1\nMAILBEACONOK=0\nPORTNUM=1\n"
      "[PORT2]\nENABLED=0\nBEACONOK=1\nPORTNUM=2\n");

  const std::map<int, int> expected = {{1, 70},       {1000, 600}, {1001, 5000}, {1010, 5000},
                                       {1100, 60000}, {1200, 300}, {1300, 1},   {1301, 400}};
  std::map<int, int> periods;
  for (const auto& [id, t] : timers_.timers) periods[id] = t.periodMs;
  EXPECT_EQ(periods, expected);
  EXPECT_EQ(T().infotimer_id, 1301);
  // Beaconing ports share one timer; a disabled port has none.
  const auto& ports = bbs_->cfg().Ports;
  EXPECT_EQ(ports[0].beacontimer_id, 1001);
  EXPECT_EQ(ports[1].beacontimer_id, 1001);
  EXPECT_EQ(ports[2].beacontimer_id, 0);
  EXPECT_EQ(ports[0].mailbeacontimer_id, 1010);
  EXPECT_EQ(ports[1].mailbeacontimer_id, 0);
  EXPECT_TRUE(view_.boxes.empty());

  bbs_->Shutdown();
  EXPECT_EQ(timers_.timers.size(), 1u);  // only the one that is not ours
}

TEST_F(ServiceTimersTest, WithoutADisplayThereIsNoAnimationAndTheInfoTickIsRare) {
  view_.display = false;
  StartWith("[RADIO]\nPORTS=1\n");
  EXPECT_EQ(T().animationtimer_id, 0);
  EXPECT_EQ(timers_.timers.count(1), 0u);
  EXPECT_GE(timers_.timers.at(T().infotimer_id).periodMs, 10000);
}

TEST_F(ServiceTimersTest, IdleModeRunsOnlyTheInfoTick) {
  engine_.reachable = false;
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nBEACONOK=1\n");
  EXPECT_EQ(Client().BBSOK, 0u);
  // The counters and the database repair do not need the engine; the link
  // goes on looking for it.
  ASSERT_EQ(timers_.timers.size(), 2u);
  EXPECT_EQ(timers_.timers.count(T().infotimer_id), 1u);
  EXPECT_EQ(timers_.timers.count(kReconnectTimerId), 1u);
  timers_.Fire(T().infotimer_id);
  EXPECT_EQ(view_.fields[0], "L:001000");
}

TEST_F(ServiceTimersTest, ATimerThatCannotBeHadEndsTheProgram) {
  timers_.refuseFrom = 1100;  // from the forwarding timer's base on
  dir_.Write("ORN.INI", "[PERSONAL]\nMYCALL=XX9ORN-1\n");
  bbs_ = std::make_unique<ORNBBS>(clock_, view_, timers_, engine_);
  EXPECT_FALSE(bbs_->Start());
  EXPECT_TRUE(bbs_->quitPosted());
  ASSERT_FALSE(view_.boxes.empty());
  EXPECT_EQ(view_.boxes.back(), "ORNBBS: Timers Low!\nBBS Server down!!!");
}

TEST_F(ServiceTimersTest, TimersStopWithTheEngineAndComeBackWithIt) {
  StartWith("[RADIO]\nPORTS=1\nRECONNECT=5\n[PORT0]\nCHANNELS=1\n");
  const size_t running = timers_.timers.size();
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  PollTick();  // a question the lost engine will never answer
  ASSERT_FALSE(Link().oktopoll);

  engine_.Drop();
  // Only the reconnection and the info tick, which does not need the engine.
  ASSERT_EQ(timers_.timers.size(), 2u);
  EXPECT_EQ(timers_.timers.count(kReconnectTimerId), 1u);
  EXPECT_EQ(timers_.timers.count(T().infotimer_id), 1u);

  timers_.Fire(kReconnectTimerId);
  EXPECT_EQ(Client().BBSOK, 1u);
  EXPECT_EQ(timers_.timers.size(), running);
  EXPECT_TRUE(Link().oktopoll);
}

TEST_F(ServiceTimersTest, DeadlinesCutStationsOffWhateverTheEngineHasQueued) {
  struct Case {
    const char* name;
    int timeoutMinutes;
    int64_t stayAfter;  // seconds from the connect; 0 = no stay deadline
    int64_t advance;
    int queued;
    bool cutOff;
  } cases[] = {
      {"a timeout of 0 never cuts off", 0, 0, 100 * 86400, 0, false},
      {"inactivity deadline reached, not passed", 10, 0, 600, 0, false},
      {"inactivity deadline passed", 10, 0, 601, 0, true},
      {"inactivity deadline passed, queue full", 10, 0, 601, 7, true},
      {"stay deadline passed, queue full", 0, 60, 61, 7, true},
      {"stay deadline not passed", 0, 60, 60, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bbs_.reset();
    StartWith("[RADIO]\nPORTS=1\n[PORT0]\nBBSONLY=0\nTIMEOUT=" + std::to_string(c.timeoutMinutes) + "\n");
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    engine_.Take();
    if (c.stayAfter) Ch(1).usermaxstaytimer = clock_.Now() + c.stayAfter;
    Ch(1).framequeue = c.queued;
    clock_.Advance(c.advance);
    ServiceTick();
    EXPECT_EQ(Sent("d"), c.cutOff ? std::vector<std::string>{"d:XX1ABC"} : std::vector<std::string>{});
    if (!c.cutOff) continue;
    // Asked again at every tick until the engine reports the station gone.
    ServiceTick();
    EXPECT_EQ(Sent("d"), std::vector<std::string>{"d:XX1ABC"});
    engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
    ServiceTick();
    EXPECT_TRUE(Sent("d").empty());
  }
}

TEST_F(ServiceTimersTest, HeldOutputLeavesAfterItsHoldTimeAndBeforeADisconnect) {
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\n");
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  ASSERT_EQ(Connects(0, "XX2ABC"), 2);
  engine_.Take();
  Ch(1).SendTx("73\r", 3, 0);
  Ch(2).SendTx("hi\r", 3, 0);
  clock_.AdvanceMs(1900);
  ServiceTick();
  EXPECT_TRUE(Sent("dD").empty());

  clock_.AdvanceMs(100);
  Ch(1).usermaxstaytimer = clock_.Now() - 1;
  Ch(2).framequeue = 4;  // a full queue does not hold back the flush
  ServiceTick();
  EXPECT_EQ(Sent("dD"), (std::vector<std::string>{"D:XX1ABC", "d:XX1ABC", "D:XX2ABC"}));
}

TEST_F(ServiceTimersTest, ATrickleIsCoalescedAndStillLeavesWithinTheHoldTime) {
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\n");
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  engine_.Take();
  // Pieces keep coming, never enough for a frame: the first one's deadline holds.
  for (const char* piece : {"a", "b", "c", "d"}) {
    Ch(1).SendTx(piece, 1, 0);
    clock_.AdvanceMs(600);
    ServiceTick();
  }
  const std::vector<ApiFrame> sent = engine_.Take("D");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].data, "abcd");
}

TEST_F(ServiceTimersTest, WithNoStationTheSessionTicksRestUntilTheLinkShowsActivity) {
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\nBBSONLY=0\n");
  auto period = [&](int id) { return timers_.timers.at(id).periodMs; };
  ServiceTick();
  EXPECT_TRUE(T().resting());
  EXPECT_GE(period(T().servicetimer_id), 10000);
  EXPECT_GE(period(T().askmaxframetimer_id), 10000);
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  EXPECT_EQ(period(T().servicetimer_id), 300);
  EXPECT_EQ(period(T().askmaxframetimer_id), 600);
  ServiceTick();
  EXPECT_FALSE(T().resting());
  // Paced output behind a full queue: the tick watches the queue closely.
  Ch(1).Service = 7;
  Ch(1).operation = std::make_unique<TBBSCmd>(&Ch(1), 0L, kCmdList);
  Ch(1).operation->listtimer = clock_.NowMs();
  Ch(1).framequeue = 4;
  ServiceTick();
  EXPECT_EQ(period(T().servicetimer_id), 100);
  Ch(1).framequeue = 0;
  Ch(1).operation->listtimer = 0;
  ServiceTick();
  EXPECT_EQ(period(T().servicetimer_id), 300);
  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  ServiceTick();
  EXPECT_TRUE(T().resting());
}

TEST_F(ServiceTimersTest, ThePollAsksOneChannelAtATimeAndSkipsIdleOnes) {
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=4\n");
  for (const char* call : {"XX1ABC", "XX2ABC", "XX3ABC", "XX4ABC"}) Connects(0, call);
  engine_.Event(0, "*** DISCONNECTED From Station XX3ABC\r");  // channel 3 idle
  engine_.Take();

  PollTick();
  EXPECT_EQ(Sent("Y"), std::vector<std::string>{"Y:XX2ABC"});
  PollTick();  // no answer yet: no second question
  EXPECT_TRUE(Sent("Y").empty());
  QueueReport("XX2ABC", 5);
  EXPECT_EQ(Ch(2).framequeue, 5);
  PollTick();  // the idle channel costs one tick
  EXPECT_TRUE(Sent("Y").empty());
  PollTick();
  EXPECT_EQ(Sent("Y"), std::vector<std::string>{"Y:XX4ABC"});
  QueueReport("XX4ABC", 0);
  PollTick();
  EXPECT_EQ(Sent("Y"), std::vector<std::string>{"Y:XX1ABC"});

  // A question that is never answered is given up after a while.
  for (int i = 1; i < ServiceTimers::kPollPatience; ++i) PollTick();
  EXPECT_TRUE(Sent("Y").empty());
  PollTick();
  EXPECT_EQ(Sent("Y"), std::vector<std::string>{"Y:XX2ABC"});
}

// Forwarding at minute 30; the clock starts at 12:00:00.
class FwdTimerTest : public ServiceTimersTest {
 protected:
  void SetUp() override {
    StartWith("[PERSONAL]\nMYCALL=XX9ORN-1\nFWDMIN=30\n[RADIO]\nPORTS=1\n");
    start_ = clock_.Now();
    T().StartFwd = [this] { starts_.push_back(LocalTime()); };
  }
  // The local time as "HH:MM:SS".
  std::string LocalTime() const {
    const std::tm t = clock_.LocalNow();
    char s[16];
    std::snprintf(s, sizeof s, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return s;
  }
  // Ticks at the given seconds after 12:00:00; a pass ends `passSeconds` after it starts.
  void TicksAt(const std::vector<int64_t>& offsets, int64_t passSeconds) {
    int64_t passEnds = 0;
    for (int64_t at : offsets) {
      clock_.Set(start_ + at);
      if (T().fwdstarted && clock_.Now() >= passEnds) T().fwdstarted = false;
      timers_.Fire(T().fwdtimer_id);
      if (T().fwdstarted && passEnds < clock_.Now()) passEnds = clock_.Now() + passSeconds;
    }
  }
  std::vector<int64_t> EveryMinute(int64_t first, int64_t last) {
    std::vector<int64_t> v;
    for (int64_t at = first; at <= last; at += 60) v.push_back(at);
    return v;
  }

  int64_t start_ = 0;
  std::vector<std::string> starts_;
};

TEST_F(FwdTimerTest, APassStartsOnceAnHourAtItsMinute) {
  TicksAt(EveryMinute(20, 3 * 3600), 600);
  EXPECT_EQ(starts_, (std::vector<std::string>{"12:30:20", "13:30:20", "14:30:20"}));
}

TEST_F(FwdTimerTest, NoPassStartsWhileOneIsRunning) {
  TicksAt(EveryMinute(20, 3 * 3600), 70 * 60);
  EXPECT_EQ(starts_, (std::vector<std::string>{"12:30:20", "14:30:20"}));
}

TEST_F(FwdTimerTest, ALateOrEarlyTickNeitherMissesTheMinuteNorTakesItTwice) {
  // 12:29:59 then 12:31:02: the minute fell between two ticks.
  TicksAt({29 * 60 + 59, 31 * 60 + 2}, 10);
  EXPECT_EQ(starts_, std::vector<std::string>{"12:31:02"});
  // 13:30:01 and 13:30:58, the first pass already over.
  starts_.clear();
  TicksAt({90 * 60 + 1, 90 * 60 + 58, 91 * 60 + 58}, 10);
  EXPECT_EQ(starts_, std::vector<std::string>{"13:30:01"});
}

TEST_F(ServiceTimersTest, TheInfoTickShowsTheCountersInSixDigitsAndChecksTheOptimisation) {
  StartWith("[RADIO]\nPORTS=1\n");
  bbs_->store()->counters = MsgCounters{1234, 20, 17, 3};
  int checks = 0;
  T().StartOptimize = [&] { ++checks; };
  timers_.Fire(T().infotimer_id);
  EXPECT_EQ(view_.fields, (std::map<int, std::string>{{0, "L:001234"}, {1, "A:000017"}, {2, "T:000020"}, {3, "H:000003"}}));
  EXPECT_EQ(checks, 1);
}

}  // namespace
}  // namespace orn
