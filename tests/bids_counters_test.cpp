#include <gtest/gtest.h>

#include "store/bids.h"
#include "store/counters.h"
#include "support/store_files.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::Msg;
using test::TestDir;

// "B7" and the like. (Appending, rather than "B" + ..., spares GCC 12 a
// false -Wrestrict alarm.)
std::string Tag(const char* prefix, long n) {
  std::string s(prefix);
  s += std::to_string(n);
  return s;
}

class BidsCountersTest : public ::testing::Test {
 protected:
  BidsCountersTest() : site_(test::MakeEmptyStore(dir_)) {
    EXPECT_TRUE(db_.OpenUserFile());
    EXPECT_TRUE(db_.OpenMsgFile());
  }
  void Add(const MsgDB& r) { ASSERT_NE(db_.AppendMsg(r), 0); }

  TestDir dir_;
  StoreSite site_;
  TOrnDbase db_{site_};
};

TEST_F(BidsCountersTest, EmptyStore) {
  const MsgCounters c = RecountMessages(site_);
  EXPECT_EQ(c.lastmsg, 1000);
  EXPECT_EQ(c.totalmsg, 0);
  EXPECT_EQ(c.activemsg, 0);
  EXPECT_EQ(c.heldmsg, 0);
  BidTable bids;
  EXPECT_FALSE(bids.ReadTheBids(site_));
  EXPECT_EQ(bids.lastbidcount, 0);
  EXPECT_FALSE(bids.WeHaveThebid("XX9ORN_1001"));
}

TEST_F(BidsCountersTest, KilledRecordsAreNotActiveAndHeldOnesAre) {
  for (long n = 4980; n <= 5000; ++n) {
    const char* status = n >= 4990 && n <= 4999 ? "K" : n == 4985 ? "H" : n % 2 ? "Y" : "N";
    Add(Msg(db_, n, "B", status));
  }
  const MsgCounters c = RecountMessages(site_);
  EXPECT_EQ(c.lastmsg, 5000);
  EXPECT_EQ(c.totalmsg, 21);
  EXPECT_EQ(c.activemsg, 11);
  EXPECT_EQ(c.heldmsg, 1);
}

// A crash that cut msg.adb short must not hand out the last number again:
// that would overwrite the last message's text.
TEST_F(BidsCountersTest, LastNumberSurvivesACutMessageFile) {
  Add(Msg(db_, 1001));
  Add(Msg(db_, 1002));
  dir_.Write("MSG.ADB", dir_.Read("MSG.ADB").substr(0, 415 + 100));
  EXPECT_EQ(FindLastMsg(site_), 1002);
}

TEST_F(BidsCountersTest, ReadTheBidsLoadsEveryBidIncludingKilledOnes) {
  Add(Msg(db_, 1001, "B", "N", "ALL", "BID1"));
  Add(Msg(db_, 1002, "P", "Y", "XX7ZZ", ""));
  Add(Msg(db_, 1003, "B", "K", "ALL", "KILLEDBID"));
  BidTable bids;
  EXPECT_FALSE(bids.ReadTheBids(site_));
  EXPECT_TRUE(bids.WeHaveThebid("BID1"));
  EXPECT_TRUE(bids.WeHaveThebid("KILLEDBID"));
  EXPECT_FALSE(bids.WeHaveThebid(""));
  EXPECT_EQ(bids.lastbidcount, 2);
}

TEST_F(BidsCountersTest, BidsAreComparedExactly) {
  BidTable bids;
  bids.InsertInBidArray("abc");
  EXPECT_TRUE(bids.WeHaveThebid("abc"));
  EXPECT_FALSE(bids.WeHaveThebid("ABC"));
  EXPECT_FALSE(bids.WeHaveThebid("ab"));
  EXPECT_FALSE(bids.WeHaveThebid("abcd"));
  // BIDs are kept to 12 characters, and asked for the same way.
  bids.InsertInBidArray("XX9ORN_1234567");
  EXPECT_TRUE(bids.WeHaveThebid("XX9ORN_12345"));
  EXPECT_TRUE(bids.WeHaveThebid("XX9ORN_1234567"));
}

TEST_F(BidsCountersTest, RingForgetsTheOldestAfter15000) {
  BidTable bids;
  for (int i = 1; i <= 15001; ++i) bids.InsertInBidArray(Tag("B", i));
  EXPECT_FALSE(bids.WeHaveThebid("B1"));
  for (int i : {2, 3, 7500, 15000, 15001}) EXPECT_TRUE(bids.WeHaveThebid(Tag("B", i))) << i;
  // A fresh ring starts writing at slot 1, so the 15001st went round to it.
  EXPECT_EQ(bids.lastbidcount, 1);
}

// Loading wraps after slot 14998: the 15000th BID of msg.adb overwrites the
// first, and insertion then goes on after it.
TEST_F(BidsCountersTest, LoadingWrapsAfterSlot14998) {
  for (long n = 1; n <= 15000; ++n) Add(Msg(db_, 1000 + n, "B", "Y", "ALL", Tag("L", n).c_str()));
  BidTable bids;
  bids.ReadTheBids(site_);
  EXPECT_EQ(bids.lastbidcount, 1);
  EXPECT_FALSE(bids.WeHaveThebid("L1"));
  EXPECT_TRUE(bids.WeHaveThebid("L2"));
  EXPECT_TRUE(bids.WeHaveThebid("L14999"));
  EXPECT_TRUE(bids.WeHaveThebid("L15000"));
  bids.InsertInBidArray("NEW");
  EXPECT_EQ(bids.lastbidcount, 2);
  EXPECT_FALSE(bids.WeHaveThebid("L3"));
  EXPECT_TRUE(bids.WeHaveThebid("NEW"));
}

TEST_F(BidsCountersTest, UnreadMailToTheOwnCallIsReported) {
  struct Case {
    const char* to;
    const char* status;
    bool mail;
  } cases[] = {{"XX9ORN", "N", true},  {"XX9ORN", "Y", false}, {"XX9ORN", "K", false},
               {"xx9orn", "N", false}, {"XX9OR", "N", false},  {"XX9ORN.GRC.EU", "N", false}};
  for (const Case& c : cases) {
    dir_.Write("MSG.ADB", "");
    dir_.Write("MSG.IDX", "");
    Add(Msg(db_, 1001, "B", "Y", "ALL"));
    Add(Msg(db_, 1002, "P", c.status, c.to));
    BidTable bids;
    EXPECT_EQ(bids.ReadTheBids(site_), c.mail) << c.to << " " << c.status;
  }
}

}  // namespace
}  // namespace orn
