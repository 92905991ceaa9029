#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/text.h"
#include "store/orn_dbase.h"
#include "support/store_files.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::Msg;
using test::TestDir;

class DbaseTest : public ::testing::Test {
 protected:
  DbaseTest() : site_(test::MakeEmptyStore(dir_)) { Open(db_); }

  void Open(TOrnDbase& db) {
    ASSERT_TRUE(db.OpenUserFile());
    ASSERT_TRUE(db.OpenMsgFile());
  }
  // Messages with these numbers, appended in order.
  void Fill(const std::vector<long>& numbers) {
    for (long n : numbers) ASSERT_NE(db_.AppendMsg(Msg(db_, n)), 0);
  }

  TestDir dir_;
  StoreSite site_;
  TOrnDbase db_{site_};
};

TEST_F(DbaseTest, PositionsZeroAndBelowMeanTheFirstRecord) {
  Fill({1001, 1002});
  for (long position : {0L, -1L, -100L}) {
    ASSERT_TRUE(db_.ReadFromFile(position, db_.msgdb, db_.msgidx)) << position;
    EXPECT_EQ(db_.msgdb.MsgNo, 1001) << position;
  }
  ASSERT_TRUE(db_.WriteToFile(0, Msg(db_, 1001, "P", "K")));
  ASSERT_TRUE(db_.ReadFromFile(1, db_.msgdb, db_.msgidx));
  EXPECT_STREQ(db_.msgdb.Status, "K");
  EXPECT_EQ(db_.MsgCount(), 2);
}

TEST_F(DbaseTest, ReadPastTheLastRecordFailsAndKeepsTheCurrentRecords) {
  Fill({1001, 1002});
  ASSERT_TRUE(db_.ReadFromFile(2, db_.msgdb, db_.msgidx));
  EXPECT_FALSE(db_.ReadFromFile(3, db_.msgdb, db_.msgidx));
  EXPECT_EQ(db_.msgdb.MsgNo, 1002);
  EXPECT_EQ(db_.msgidx.MsgNo, 1002);

  ASSERT_EQ(db_.AppendUser("XX7ZZ"), 1);
  EXPECT_FALSE(db_.ReadFromFile(2, db_.userdb, db_.useridx));
  EXPECT_STREQ(db_.userdb.Call, "XX7ZZ");
}

TEST_F(DbaseTest, AppendGrowsEachFileByExactlyOneRecord) {
  for (long n = 1; n <= 3; ++n) {
    std::string call = "XX";
    call += std::to_string(n);
    call += "AB";
    ASSERT_EQ(db_.AppendUser(call), n);
    EXPECT_EQ(dir_.Read("USERS.ADB").size(), 19326u * n);
    EXPECT_EQ(dir_.Read("USERS.IDX").size(), 34u * n);
    // The Id of an appended user is its position.
    EXPECT_EQ(db_.userdb.Id, n);
    ASSERT_EQ(db_.AppendMsg(Msg(db_, 1000 + n)), n);
    EXPECT_EQ(dir_.Read("MSG.ADB").size(), 415u * n);
    EXPECT_EQ(dir_.Read("MSG.IDX").size(), 8u * n);
  }
  ASSERT_TRUE(db_.ReadFromFile(2, db_.userdb, db_.useridx));
  EXPECT_EQ(db_.userdb.Id, 2);
  EXPECT_STREQ(db_.userdb.Call, "XX2AB");
}

TEST_F(DbaseTest, IndexRecordIsDerivedFromTheFullRecord) {
  UserDB u;
  db_.DBdefaults(&u, 1);
  CopyField(u.Call, "XX5ABC");
  CopyField(u.Name, "Giorgos");
  CopyField(u.Type, "B");
  CopyField(u.isFwdStation, "Y");
  u.FwdQueue = 7;
  ASSERT_TRUE(db_.WriteToFile(1, u));

  TOrnDbase other(site_);
  Open(other);
  ASSERT_TRUE(other.ReadFromFile(1, other.userdb, other.useridx));
  const UserDBidx& i = other.useridx;
  EXPECT_EQ(i.Id, 1);
  EXPECT_STREQ(i.Call, "XX5ABC");
  EXPECT_STREQ(i.Name, "Giorgos");
  EXPECT_STREQ(i.Type, "B");
  EXPECT_STREQ(i.isFwdStation, "Y");
  EXPECT_EQ(i.FwdQueue, 7);

  MsgDB m = Msg(db_, 1001, "T", "H");
  ASSERT_TRUE(db_.WriteToFile(1, m));
  ASSERT_TRUE(other.ReadFromFile(1, other.msgdb, other.msgidx));
  EXPECT_EQ(other.msgidx.MsgNo, 1001);
  EXPECT_STREQ(other.msgidx.Type, "T");
  EXPECT_STREQ(other.msgidx.Status, "H");
}

// Channels and the sysop's windows hold their own handles on the same files.
TEST_F(DbaseTest, AnotherHandleSeesACompletedWriteAtItsNextRead) {
  Fill({1001});
  TOrnDbase other(site_);
  Open(other);
  ASSERT_TRUE(other.ReadFromFile(1, other.msgdb, other.msgidx));
  EXPECT_STREQ(other.msgdb.Status, "N");

  ASSERT_TRUE(db_.WriteToFile(1, Msg(db_, 1001, "B", "K")));
  ASSERT_TRUE(other.ReadFromFile(1, other.msgdb, other.msgidx));
  EXPECT_STREQ(other.msgdb.Status, "K");
  EXPECT_STREQ(other.msgidx.Status, "K");
  EXPECT_EQ(other.MsgCount(), 1);
  db_.AppendMsg(Msg(db_, 1002));
  EXPECT_EQ(other.MsgCount(), 2);
}

TEST_F(DbaseTest, MessageDefaultsAndTheirBid) {
  struct Case {
    long number;
    const char* bid;
  } cases[] = {{1, "XX9ORN_1"}, {1234, "XX9ORN_1234"}, {99999, "XX9ORN_99999"}, {100000, "XX9ORN100000"},
               {123456, "XX9ORN123456"}};
  for (const Case& c : cases) {
    MsgDB r;
    db_.DBdefaults(&r, c.number);
    EXPECT_EQ(r.MsgNo, c.number);
    EXPECT_STREQ(r.Bid, c.bid) << c.number;
  }
  MsgDB r;
  db_.DBdefaults(&r, 1001);
  EXPECT_STREQ(r.Type, " ");
  EXPECT_STREQ(r.Status, "N");
  EXPECT_EQ(r.Size, 1);
  EXPECT_STREQ(r.ToStation, "SYSOP");
  EXPECT_STREQ(r.FromStation, "XX9ORN.GRC.EU");
  EXPECT_STREQ(r.AtBbs, "XX9ORN.GRC.EU");
  EXPECT_STREQ(r.MsgDate, "0000/000000");
  EXPECT_STREQ(r.MsgSubject, "");
}

// A long hierarchy or callsign never runs past the field.
TEST_F(DbaseTest, MessageDefaultsAreCutToTheirFields) {
  TOrnDbase db(StoreSite{dir_.path(), "", "XX9ORNABCDEF", std::string(60, 'H')});
  MsgDB r;
  db.DBdefaults(&r, 100000);
  EXPECT_EQ(std::string(r.FromStation), "XX9ORNABCDEF." + std::string(26, 'H'));
  EXPECT_STREQ(r.Bid, "XX9ORNABCDEF");
}

TEST_F(DbaseTest, SearchBinaryOnAnEmptyIndexGivesOne) { EXPECT_EQ(db_.SearchBinary(1001), 1); }

// Every number present is found at its position; a number that is missing
// gives a position inside the file whose record carries another number.
TEST_F(DbaseTest, SearchBinaryFindsEveryNumberOfStoresOfEverySize) {
  for (long n = 1; n <= 40; ++n) {
    ASSERT_TRUE(db_.AppendMsg(Msg(db_, 1000 + 2 * n)));  // 1002, 1004, ...: gaps everywhere
    for (long p = 1; p <= n; ++p) {
      const long number = 1000 + 2 * p;
      ASSERT_EQ(db_.SearchBinary(number), p) << "N=" << n << " number=" << number;
      EXPECT_EQ(db_.msgdb.MsgNo, number);
    }
    for (long number = 999; number <= 1000 + 2 * n + 1; number += 2) {
      const long got = db_.SearchBinary(number);
      ASSERT_GE(got, 1) << "N=" << n << " number=" << number;
      ASSERT_LE(got, n) << "N=" << n << " number=" << number;
      TOrnDbase check(site_);
      Open(check);
      ASSERT_TRUE(check.ReadFromFile(got, check.msgdb, check.msgidx));
      EXPECT_NE(check.msgdb.MsgNo, number);
      // The object holds the last record it probed.
      EXPECT_EQ(db_.msgdb.MsgNo, check.msgdb.MsgNo);
    }
  }
}

// Only a damaged msg.idx is out of order; the search must still return.
TEST_F(DbaseTest, SearchBinaryReturnsOnAnUnsortedIndex) {
  Fill({1005, 1001, 1009, 1003, 1002, 1008, 1004});
  for (long number = 1000; number <= 1010; ++number) {
    const long got = db_.SearchBinary(number);
    EXPECT_GE(got, 1);
    EXPECT_LE(got, 7);
  }
}

TEST_F(DbaseTest, UserLookupIsExactAndCaseSensitive) {
  ASSERT_EQ(db_.AppendUser("AB1CD"), 1);
  ASSERT_EQ(db_.AppendUser("XX7ZZ"), 2);
  ASSERT_EQ(db_.AppendUser("XX7Z"), 3);
  ASSERT_EQ(db_.AppendUser("XX7ZZ"), 4);  // a duplicate: the first one wins
  struct Case {
    const char* call;
    long position;
  } cases[] = {{"AB1CD", 1}, {"ab1cd", 0}, {"XX7ZZ", 2}, {"XX7Z", 3}, {"XX7", 0}, {"XX7ZZZ", 0}, {"", 0}};
  for (const Case& c : cases) {
    db_.userdb = UserDB{};
    EXPECT_EQ(db_.FindUser(c.call), c.position) << c.call;
    if (c.position) {
      EXPECT_STREQ(db_.userdb.Call, c.call);
      EXPECT_EQ(db_.userdb.Id, c.position);
      EXPECT_STREQ(db_.userdb.Language, "ENGLISH");  // the full record was read
    }
  }
}

TEST_F(DbaseTest, ClosedFilesFailEveryOperation) {
  TOrnDbase closed(site_);
  EXPECT_FALSE(closed.WriteToFile(1, Msg(closed, 1001)));
  EXPECT_FALSE(closed.ReadFromFile(1, closed.msgdb, closed.msgidx));
  EXPECT_EQ(closed.SearchBinary(1001), 1);
  EXPECT_EQ(closed.FindUser("XX7ZZ"), 0);
  EXPECT_EQ(closed.AppendUser("XX7ZZ"), 0);
  EXPECT_EQ(dir_.Read("MSG.ADB"), "");
  EXPECT_EQ(dir_.Read("USERS.ADB"), "");

  TestDir empty;
  TOrnDbase missing(StoreSite{empty.path(), "", "XX9ORN", "GRC.EU"});
  EXPECT_FALSE(missing.OpenUserFile());
  EXPECT_FALSE(missing.OpenMsgFile());
  EXPECT_FALSE(empty.Exists("msg.adb"));  // opening never creates
}

// A crash can leave part of a record at the end of a file: it is not a
// record, and the next append overwrites it.
TEST_F(DbaseTest, PartialRecordAtTheEndIsNotARecord) {
  Fill({1001});
  dir_.Write("MSG.ADB", dir_.Read("MSG.ADB") + std::string(100, 'x'));
  EXPECT_EQ(db_.MsgCount(), 1);
  EXPECT_FALSE(db_.ReadFromFile(2, db_.msgdb, db_.msgidx));
  ASSERT_EQ(db_.AppendMsg(Msg(db_, 1002)), 2);
  EXPECT_EQ(dir_.Read("MSG.ADB").size(), 2u * 415);
  ASSERT_TRUE(db_.ReadFromFile(2, db_.msgdb, db_.msgidx));
  EXPECT_EQ(db_.msgdb.MsgNo, 1002);
}

}  // namespace
}  // namespace orn
