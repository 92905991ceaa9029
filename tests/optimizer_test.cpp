#include <gtest/gtest.h>

#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/optimizer.h"
#include "support/store_files.h"

namespace orn {
namespace {

using test::MakeEmptyStore;
using test::Msg;
using test::TestDir;

TEST(GetDaysTest, CountsYearsAndMonthsRoughly) {
  struct Case {
    const char* msgdate;
    const char* today;
    long maxdays;
    bool young;
  } cases[] = {
      {"1200/261026", "261210", 45, true},   // 44 days by the rough count
      {"1200/261025", "261210", 45, true},   // 45
      {"1200/261024", "261210", 45, false},  // 46
      {"0000/251210", "261210", 364, false},
      {"0000/251210", "261210", 365, true},
      {"0000/991231", "000101", 30, true},  // a later year by its two digits is never old
      {"0000/000000", "261210", 30, false},  // the unset date is old
  };
  for (const Case& c : cases) EXPECT_EQ(GetDays(c.msgdate, c.today, c.maxdays), c.young) << c.msgdate;
}

class OptimizerTest : public ::testing::Test {
 protected:
  OptimizerTest() : site_(MakeEmptyStore(dir_)) {
    db_ = std::make_unique<TOrnDbase>(site_);
    db_->OpenUserFile();
    db_->OpenMsgFile();
  }
  void AddMsg(long number, const char* status, const char* date = "1200/261201") {
    MsgDB m = Msg(*db_, number, "P", status);
    CopyField(m.MsgDate, date);
    ASSERT_NE(db_->AppendMsg(m), 0);
    ASSERT_GE(WriteMsgText(site_.mailDir, number, "text\n"), 0);
  }
  // Number and status of every record left, in file order.
  std::vector<std::string> Messages() {
    TOrnDbase db(site_);
    db.OpenMsgFile();
    std::vector<std::string> out;
    db.ScanMsgs([&](long, const MsgDB& m) {
      out.push_back(std::to_string(m.MsgNo) + FieldText(m.Status));
      return true;
    });
    // The index says the same.
    long n = 0;
    db.ScanMsgIdx([&](long, const MsgDBidx& i) {
      const size_t k = static_cast<size_t>(n++);
      EXPECT_LT(k, out.size());
      if (k < out.size()) {
        EXPECT_EQ(std::to_string(i.MsgNo), out[k].substr(0, 4));
      }
      return true;
    });
    EXPECT_EQ(static_cast<size_t>(n), out.size());
    return out;
  }
  bool HasText(long number) { return FileExists(MsgFileName(site_.mailDir, number)); }

  TestDir dir_;
  StoreSite site_;
  std::unique_ptr<TOrnDbase> db_;
};

TEST_F(OptimizerTest, ReadMessagesGoWithTheirTexts) {
  AddMsg(1001, "Y");
  AddMsg(1002, "N");
  AddMsg(1003, "Y");
  PurgeOptions o;
  o.read = true;
  std::vector<long> dropped;
  const OptimizeResult r = MakeOptimize(site_, o, "261210", [&](long n) { dropped.push_back(n); });
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Messages(), (std::vector<std::string>{"1002N"}));
  EXPECT_EQ(dropped, (std::vector<long>{1001, 1003}));
  EXPECT_FALSE(HasText(1001));
  EXPECT_TRUE(HasText(1002));
  // The work files stay for the sysop.
  EXPECT_TRUE(dir_.Exists("msg.tmp"));
}

TEST_F(OptimizerTest, AgeingMarksOldAndThePurgeMayDropThemInTheSameRun) {
  AddMsg(1001, "N", "1200/261026");  // 45 days before 26-12-10 by the rough count: old at 30
  AddMsg(1002, "K", "1200/261026");  // killed and old: old wins
  AddMsg(1003, "N", "1200/261205");
  PurgeOptions o;
  o.maxDaysOld = 30;
  EXPECT_TRUE(MakeOptimize(site_, o, "261210").ok);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"1001O", "1002O", "1003N"}));
  o.killed = true;  // killed ones are old now, and stay
  EXPECT_TRUE(MakeOptimize(site_, o, "261210").ok);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"1001O", "1002O", "1003N"}));
  o.old = true;
  EXPECT_TRUE(MakeOptimize(site_, o, "261210").ok);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"1003N"}));
}

TEST_F(OptimizerTest, DroppingEveryMessageEmptiesTheFiles) {
  AddMsg(1001, "K");
  AddMsg(1002, "K");
  PurgeOptions o;
  o.killed = true;
  EXPECT_TRUE(MakeOptimize(site_, o, "261210").ok);
  EXPECT_TRUE(Messages().empty());
  EXPECT_FALSE(HasText(1001));
}

TEST_F(OptimizerTest, KilledUsersGoAndTheOthersKeepTheirIds) {
  for (const char* call : {"XX1AAA", "XX2BBB", "XX3CCC"}) ASSERT_NE(db_->AppendUser(call), 0);
  UserDB u{};
  UserDBidx i{};
  ASSERT_TRUE(db_->ReadFromFile(2, u, i));
  CopyField(u.Type, "K");
  ASSERT_TRUE(db_->WriteToFile(2, u));
  PurgeOptions o;
  o.killed = true;
  const OptimizeResult r = MakeOptimize(site_, o, "261210");
  EXPECT_EQ(r.usersDropped, 1);
  TOrnDbase db(site_);
  db.OpenUserFile();
  EXPECT_EQ(db.UserCount(), 2);
  EXPECT_EQ(db.FindUser("XX3CCC"), 2);
  EXPECT_EQ(db.userdb.Id, 3);
  EXPECT_EQ(db.useridx.Id, 3);
  EXPECT_EQ(db.FindUser("XX2BBB"), 0);
}

TEST_F(OptimizerTest, NothingChosenNothingTouched) {
  AddMsg(1001, "K");
  const OptimizeResult r = MakeOptimize(site_, PurgeOptions{}, "261210");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"1001K"}));
  EXPECT_FALSE(dir_.Exists("msg.tmp"));
}

}  // namespace
}  // namespace orn
