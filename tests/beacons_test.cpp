#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "store/store.h"
#include "support/bbs_on_engine.h"

namespace orn {
namespace {

using test::BbsOnEngine;

class BeaconsTest : public BbsOnEngine {
 protected:
  void BeaconTick() { timers_.Fire(bbs_->cfg().Ports[0].beacontimer_id); }
  void MailBeaconTick() { timers_.Fire(bbs_->cfg().Ports[0].mailbeacontimer_id); }
  // The unproto frames sent since the last look, as "port>DEST:text".
  std::vector<std::string> Unproto() {
    std::vector<std::string> out;
    for (const ApiFrame& f : engine_.Take("M")) {
      EXPECT_EQ(f.callFrom, "XX9ORN-1");
      out.push_back(std::to_string(f.port) + ">" + f.callTo + ":" + f.data);
    }
    return out;
  }
};

TEST_F(BeaconsTest, A50MinuteBeaconGoesOutAtTheFirstTickThenEvery50Minutes) {
  dir_.Write("beacon.txt", "$V mailbox, sysop $S\r\nHello $N\r\n");
  StartWith(
      "[PERSONAL]\nMYCALL=XX9ORN-1\nMYNAME=Ann\n"
      "[RADIO]\nPORTS=1\n[PORT0]\nBEACONOK=1\nBTIMEOUT=50\nBTEXT=beacon.txt\nMAILBEACONOK=0\n");
  engine_.Take();
  // Expanded as on the monitor window: no user tokens.
  const std::string beacon = "0>BEACON:XX9ORN mailbox, sysop Ann\rHello N\r";

  BeaconTick();
  EXPECT_EQ(Unproto(), std::vector<std::string>{beacon});
  BeaconTick();
  EXPECT_TRUE(Unproto().empty());
  clock_.Advance(50 * 60);
  BeaconTick();
  EXPECT_TRUE(Unproto().empty());
  clock_.Advance(1);
  BeaconTick();
  EXPECT_EQ(Unproto(), std::vector<std::string>{beacon});
  clock_.Advance(50 * 60 + 1);
  BeaconTick();
  EXPECT_EQ(Unproto(), std::vector<std::string>{beacon});
}

TEST_F(BeaconsTest, TwoPortsWithDifferentFilesBothBeaconTheFileLoadedFirst) {
  dir_.Write("first.txt", "first");
  dir_.Write("second.txt", "second");
  engine_.portList = "2;Port1 vhf;Port2 uhf;";
  StartWith(
      "[RADIO]\nPORTS=2\n"
      "[PORT0]\nBEACONOK=1\nBTEXT=first.txt\nMAILBEACONOK=0\n"
      "[PORT1]\nBEACONOK=1\nBTEXT=second.txt\nMAILBEACONOK=0\nPORTNUM=1\n");
  engine_.Take();
  BeaconTick();
  EXPECT_EQ(Unproto(), (std::vector<std::string>{"0>BEACON:first", "1>BEACON:first"}));

  // Read once for the whole run.
  dir_.Write("first.txt", "changed");
  clock_.Advance(50 * 60 + 1);
  BeaconTick();
  EXPECT_EQ(Unproto(), (std::vector<std::string>{"0>BEACON:first", "1>BEACON:first"}));
}

TEST_F(BeaconsTest, ABeaconFileTooLargeOrGoneSendsNothingUntilItIsFit) {
  dir_.Write("beacon.txt", std::string(1650, 'b'));
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nBEACONOK=1\nBTIMEOUT=10\nBTEXT=beacon.txt\nMAILBEACONOK=0\n");
  engine_.Take();
  BeaconTick();
  EXPECT_TRUE(Unproto().empty());

  std::remove((dir_ / "beacon.txt").c_str());
  clock_.Advance(10 * 60 + 1);
  BeaconTick();
  EXPECT_TRUE(Unproto().empty());

  dir_.Write("beacon.txt", std::string(1649, 'b'));
  clock_.Advance(10 * 60 + 1);
  BeaconTick();
  const std::vector<std::string> sent = Unproto();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], "0>BEACON:" + std::string(1649, 'b'));
}

TEST_F(BeaconsTest, OnlyABeaconSwitchOfExactlyOneBeacons) {
  dir_.Write("beacon.txt", "hello");
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nBEACONOK=2\nBTEXT=beacon.txt\nMAILBEACONOK=0\n");
  engine_.Take();
  ASSERT_NE(bbs_->cfg().Ports[0].beacontimer_id, 0);
  BeaconTick();
  EXPECT_TRUE(Unproto().empty());
}

TEST_F(BeaconsTest, TheMailBeaconListsTheCallsInPacketLengthsToTheUnprotoAddress) {
  StartWith(
      "[RADIO]\nPORTS=1\nMSGBEACON=Mail for: $q\n"
      "[PORT0]\nMAILBEACONOK=1\nMAILBEACON=30\nUNPROTO=MAIL\nPACLEN=16\n");
  engine_.Take();
  bbs_->store()->MsgBeacon()->PutCallInList("XX7ZZ.GRC.EU");
  bbs_->store()->MsgBeacon()->PutCallInList("XX5ABC");
  // "Mail for: XX7ZZ XX5ABC" in pieces of 16.
  const std::vector<std::string> beacon = {"0>MAIL:Mail for: XX7ZZ ", "0>MAIL:XX5ABC"};

  MailBeaconTick();
  EXPECT_EQ(Unproto(), beacon);
  clock_.Advance(30 * 60);
  MailBeaconTick();
  EXPECT_TRUE(Unproto().empty());
  clock_.Advance(1);
  MailBeaconTick();
  EXPECT_EQ(Unproto(), beacon);
}

}  // namespace
}  // namespace orn
