#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "store/mail_beacon_list.h"
#include "support/store_files.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::TestDir;

class MailBeaconListTest : public ::testing::Test {
 protected:
  MailBeaconListTest() : site_(test::MakeEmptyStore(dir_)), list_(site_.dir) {}

  // The records of mail.adb as "call:howmany", free ones as "-".
  std::vector<std::string> Records() const {
    const std::string bytes = dir_.Read("MAIL.ADB");
    std::vector<std::string> out;
    for (size_t at = 0; at + 11 <= bytes.size(); at += 11) {
      const std::string call = bytes.substr(at, 7).c_str();
      const int32_t n = ReadLeInt32(bytes.data() + at + 7);
      out.push_back(call == "      " ? "-" : call + ":" + std::to_string(n));
    }
    return out;
  }

  TestDir dir_;
  StoreSite site_;
  UpdatemsgBeacon list_;
};

using Recs = std::vector<std::string>;

TEST_F(MailBeaconListTest, CallsAreCountedUnderTheirCallsignPart) {
  ASSERT_TRUE(list_.is_open());
  list_.PutCallInList("XX7ZZ.GRC.EU");
  list_.PutCallInList("XX7ZZ.GRC.EU");
  list_.PutCallInList("XX7ZZ");
  EXPECT_EQ(Records(), Recs{"XX7ZZ:3"});
  EXPECT_EQ(dir_.Read("MAIL.ADB").size(), 11u);
  EXPECT_EQ(list_.InList("XX7ZZ.EU"), 1);
  EXPECT_EQ(list_.mails.howmany, 3);
  EXPECT_EQ(list_.InList("xx7zz"), 0);
}

TEST_F(MailBeaconListTest, BulletinsAndCategoriesAreNeverListed) {
  for (const char* to : {"ALL", "SYSOP", "AMSAT", "WW", "12ABC", "", ".", "XX7ZZZZ"}) list_.PutCallInList(to);
  EXPECT_EQ(dir_.Read("MAIL.ADB"), "");
}

TEST_F(MailBeaconListTest, ReadingEveryMessageFreesTheRecordForTheNextCall) {
  for (int i = 0; i < 3; ++i) list_.PutCallInList("XX7ZZ.GRC.EU");
  list_.PutCallInList("XX5ABC");
  for (int i = 0; i < 2; ++i) list_.RemoveCallFromList("XX7ZZ");
  EXPECT_EQ(Records(), (Recs{"XX7ZZ:1", "XX5ABC:1"}));
  list_.RemoveCallFromList("XX7ZZ.GRC.EU");
  EXPECT_EQ(Records(), (Recs{"-", "XX5ABC:1"}));
  EXPECT_EQ(list_.InList("XX7ZZ"), 0);
  EXPECT_EQ(list_.FindAPlace(), 1);

  list_.RemoveCallFromList("XX7ZZ");  // no longer listed: nothing changes
  list_.PutCallInList("XX2DEF");
  EXPECT_EQ(Records(), (Recs{"XX2DEF:1", "XX5ABC:1"}));
  list_.PutCallInList("XX3GHI");
  EXPECT_EQ(Records(), (Recs{"XX2DEF:1", "XX5ABC:1", "XX3GHI:1"}));
  EXPECT_EQ(list_.FindAPlace(), 0);
}

TEST_F(MailBeaconListTest, BeaconTextHasABlankForEveryFreeRecord) {
  EXPECT_EQ(list_.FormatMailBeacon(), "");
  list_.PutCallInList("XX7ZZ");
  list_.PutCallInList("XX1AA");
  list_.PutCallInList("XX5ABC");
  list_.RemoveCallFromList("XX1AA");
  EXPECT_EQ(list_.FormatMailBeacon(), "XX7ZZ  XX5ABC");
  list_.RemoveCallFromList("XX7ZZ");
  list_.RemoveCallFromList("XX5ABC");
  EXPECT_EQ(list_.FormatMailBeacon(), "  ");
}

TEST_F(MailBeaconListTest, BeaconTextIsBounded) {
  for (int i = 0; i < 600; ++i) {
    std::string call = "XX0";
    call += static_cast<char>('A' + i % 26);
    call += static_cast<char>('A' + i / 26 % 26);
    list_.PutCallInList(call);
  }
  EXPECT_EQ(list_.FormatMailBeacon().size(), 3011u);
}

TEST_F(MailBeaconListTest, ListSurvivesARestart) {
  list_.PutCallInList("XX7ZZ");
  UpdatemsgBeacon again(site_.dir);
  EXPECT_EQ(again.InList("XX7ZZ"), 1);
  EXPECT_EQ(again.mails.howmany, 1);
}

TEST_F(MailBeaconListTest, MissingFileMakesEveryOperationANoOp) {
  TestDir empty;
  UpdatemsgBeacon none(empty.path());
  EXPECT_FALSE(none.is_open());
  none.PutCallInList("XX7ZZ");
  none.RemoveCallFromList("XX7ZZ");
  EXPECT_EQ(none.InList("XX7ZZ"), 0);
  EXPECT_EQ(none.FormatMailBeacon(), "");
  EXPECT_FALSE(empty.Exists("mail.adb"));
}

TEST_F(MailBeaconListTest, SysopStatusChanges) {
  // The counters stay what a recount finds: active is every message but a
  // killed one, held the held ones.
  MsgCounters c;
  c.activemsg = 10;
  struct Step {
    const char *from, *to;
    long active, held;
    Recs records;
  } steps[] = {
      {"Y", "N", 10, 0, {"XX7ZZ:1"}},  // made unread again: listed, active already
      {"N", "N", 10, 0, {"XX7ZZ:1"}},  // no change
      {"N", "H", 10, 1, {"-"}},        // held: off the list, still active
      {"H", "N", 10, 0, {"XX7ZZ:1"}},  // released
      {"N", "K", 9, 0, {"-"}},         // killed: off the list and not active
      {"K", "H", 10, 1, {"-"}},        // brought back held
  };
  for (const Step& s : steps) {
    DecideIfWePutTheMsgInMailBeacon(list_, c, s.from, s.to, "XX7ZZ.GRC.EU");
    EXPECT_EQ(c.activemsg, s.active) << s.from << "->" << s.to;
    EXPECT_EQ(c.heldmsg, s.held) << s.from << "->" << s.to;
    EXPECT_EQ(Records(), s.records) << s.from << "->" << s.to;
  }
}

}  // namespace
}  // namespace orn
