#include <gtest/gtest.h>

#include "admin/msg_admin.h"
#include "admin/user_admin.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "store/mail_beacon_list.h"
#include "store/msg_text.h"
#include "store/store.h"
#include "support/store_files.h"

namespace orn {
namespace {

using test::MakeEmptyStore;
using test::Msg;
using test::TestDir;

class MsgAdminTest : public ::testing::Test {
 protected:
  MsgAdminTest() : site_(MakeEmptyStore(dir_)), clock_(0) {
    clock_.SetLocal(2026, 12, 10, 15, 30);
    store_ = std::make_unique<Store>(site_);
    store_->CreateMailBeaconList();
    db_ = store_->OpenDbase();
    ctx_.store = store_.get();
    ctx_.clock = &clock_;
    ctx_.ownCall = "XX9ORN";
    ctx_.routingHeader = [] { return std::string("R:261210/1530Z @:XX9ORN.GRC.EU"); };
    ctx_.RemFwd = [this](long n) { unqueued_.push_back(n); };
  }
  MsgDB New(const char* to, const char* bid) {
    MsgDB m{};
    CopyField(m.Type, "P");
    CopyField(m.ToStation, to);
    CopyField(m.FromStation, "XX9ORN");
    if (bid) CopyField(m.Bid, bid);
    CopyField(m.MsgSubject, "hello");
    return m;
  }
  // How many messages the mail-beacon list counts for the call.
  long Waiting(const char* call) {
    UpdatemsgBeacon& list = *store_->MsgBeacon();
    return list.InList(call) ? list.mails.howmany : 0;
  }

  TestDir dir_;
  StoreSite site_;
  FakeClock clock_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<TOrnDbase> db_;
  MsgAdminContext ctx_;
  std::vector<long> unqueued_;
};

TEST_F(MsgAdminTest, ANewMessageIsNumberedWrittenAndCounted) {
  MsgDB m = New("XX1ABC", "B1");
  ASSERT_EQ(CreateMsg(ctx_, *db_, m, "line one\r\nline two"), MsgEditResult::kStored);
  EXPECT_EQ(m.MsgNo, 1001);
  EXPECT_STREQ(m.MsgDate, "1530/261210");
  EXPECT_STREQ(m.Status, "N");
  EXPECT_EQ(store_->counters.lastmsg, 1001);
  EXPECT_EQ(store_->counters.activemsg, 1);
  EXPECT_EQ(Waiting("XX1ABC"), 1);
  EXPECT_TRUE(store_->Bids.WeHaveThebid("B1"));
  std::string text;
  ASSERT_TRUE(ReadMsgText(site_.mailDir, 1001, &text));
  EXPECT_EQ(text, "R:261210/1530Z @:XX9ORN.GRC.EU\n\nFrom:XX9ORN\nTo:XX1ABC@\n\nline one\nline two\n");
  EXPECT_EQ(SearchMsgs(*db_, MsgSearch::kMsgNo, "1001", "XX9ORN").size(), 1u);

  MsgDB again = New("XX2ABC", "B1");
  EXPECT_EQ(CreateMsg(ctx_, *db_, again, "x"), MsgEditResult::kKnownBid);
  // No BID is needed (forwarding makes one); an addressee and a sender are.
  MsgDB nobid = New("XX2ABC", nullptr);
  EXPECT_EQ(CreateMsg(ctx_, *db_, nobid, "x"), MsgEditResult::kStored);
  EXPECT_STREQ(nobid.Bid, "");
  MsgDB noto = New("", "B9");
  EXPECT_EQ(CreateMsg(ctx_, *db_, noto, "x"), MsgEditResult::kFillAllFields);
  EXPECT_EQ(MissingMsgField(noto), "To");
  EXPECT_EQ(store_->counters.lastmsg, 1002);
}

TEST_F(MsgAdminTest, KillingAndStatusChangesKeepTheCountsRight) {
  MsgDB a = New("XX1ABC", "B1"), b = New("XX1ABC", "B2");
  ASSERT_EQ(CreateMsg(ctx_, *db_, a, "a"), MsgEditResult::kStored);
  ASSERT_EQ(CreateMsg(ctx_, *db_, b, "b"), MsgEditResult::kStored);
  ASSERT_EQ(Waiting("XX1ABC"), 2);
  ASSERT_EQ(store_->counters.activemsg, 2);

  EXPECT_TRUE(KillMsg(ctx_, *db_, 1001));
  EXPECT_EQ(store_->counters.activemsg, 1);
  EXPECT_EQ(Waiting("XX1ABC"), 1);
  EXPECT_EQ(unqueued_, std::vector<long>{1001});
  EXPECT_FALSE(KillMsg(ctx_, *db_, 1005));

  ASSERT_EQ(SearchMsgs(*db_, MsgSearch::kMsgNo, "1002", "").size(), 1u);
  MsgDB edited = SearchMsgs(*db_, MsgSearch::kMsgNo, "1002", "")[0].record;
  CopyField(edited.Status, "Y");
  EXPECT_EQ(UpdateMsg(ctx_, *db_, edited), MsgEditResult::kStored);
  EXPECT_EQ(Waiting("XX1ABC"), 0);
  CopyField(edited.Status, "N");
  EXPECT_EQ(UpdateMsg(ctx_, *db_, edited), MsgEditResult::kStored);
  EXPECT_EQ(Waiting("XX1ABC"), 1);
  // A message without a BID is held, edited and released like any other.
  CopyField(edited.Bid, "");
  CopyField(edited.Status, "H");
  EXPECT_EQ(UpdateMsg(ctx_, *db_, edited), MsgEditResult::kStored);
  CopyField(edited.FromStation, " ");
  EXPECT_EQ(UpdateMsg(ctx_, *db_, edited), MsgEditResult::kFillAllFields);
  EXPECT_EQ(MissingMsgField(edited), "From");
}

TEST_F(MsgAdminTest, SearchesAndReplies) {
  for (const char* to : {"XX9ORN", "XX1ABC.GRC.EU", "ALL"}) {
    MsgDB m = New(to, to);
    CopyField(m.AtBbs, "XX5BBS.GRC");
    ASSERT_EQ(CreateMsg(ctx_, *db_, m, "t"), MsgEditResult::kStored);
  }
  auto numbers = [](const std::vector<MsgRow>& rows) {
    std::vector<long> n;
    for (const MsgRow& r : rows) n.push_back(r.record.MsgNo);
    return n;
  };
  EXPECT_EQ(numbers(SearchMsgs(*db_, MsgSearch::kTo, "xx1", "XX9ORN")), std::vector<long>{1002});
  EXPECT_EQ(numbers(SearchMsgs(*db_, MsgSearch::kMine, "", "XX9ORN")), std::vector<long>{1001});
  EXPECT_EQ(numbers(SearchMsgs(*db_, MsgSearch::kAt, "bbs", "XX9ORN")).size(), 3u);
  EXPECT_EQ(numbers(SearchMsgs(*db_, MsgSearch::kStatus, "N", "XX9ORN")).size(), 3u);
  EXPECT_TRUE(SearchMsgs(*db_, MsgSearch::kMsgNo, "999", "XX9ORN").empty());

  MsgDB original = SearchMsgs(*db_, MsgSearch::kMsgNo, "1001", "")[0].record;
  CopyField(original.FromStation, "XX3CCC.GRC.EU");
  MsgDB reply;
  ASSERT_TRUE(PrepareReply(original, "XX9ORN", &reply));
  EXPECT_STREQ(reply.ToStation, "XX3CCC.GRC.EU");
  EXPECT_STREQ(reply.FromStation, "XX9ORN");
  EXPECT_STREQ(reply.MsgSubject, "RE:hello");
  EXPECT_FALSE(PrepareReply(SearchMsgs(*db_, MsgSearch::kMsgNo, "1003", "")[0].record, "XX9ORN", &reply));
}

TEST(UserAdminTest, SearchKillUpdateAndPasswords) {
  TestDir dir;
  const StoreSite site = MakeEmptyStore(dir);
  TOrnDbase db(site);
  ASSERT_TRUE(db.OpenUserFile());
  for (const char* call : {"XX1AAA", "XX2BBB", "XX3CCC"}) ASSERT_NE(db.AppendUser(call), 0);
  UserDB u{};
  UserDBidx i{};
  ASSERT_TRUE(db.ReadFromFile(3, u, i));
  CopyField(u.Name, "Maria");
  CopyField(u.isFwdStation, "Y");
  ASSERT_TRUE(UpdateUser(db, 3, u));
  EXPECT_FALSE(UpdateUser(db, 9, u));

  EXPECT_EQ(SearchUsers(db, UserSearch::kCall, "XX2BBB").size(), 1u);
  EXPECT_STREQ(db.userdb.Call, "XX2BBB");
  EXPECT_EQ(SearchUsers(db, UserSearch::kName, "MARIA").size(), 1u);
  EXPECT_EQ(SearchUsers(db, UserSearch::kFwdPartners, "").size(), 1u);
  EXPECT_EQ(SearchUsers(db, UserSearch::kType, "U").size(), 3u);
  EXPECT_EQ(SearchUsers(db, UserSearch::kPosition, "2").at(0).position, 2);
  EXPECT_TRUE(SearchUsers(db, UserSearch::kPosition, "7").empty());

  ASSERT_TRUE(KillUser(db, 2));
  EXPECT_EQ(SearchUsers(db, UserSearch::kType, "K").size(), 1u);
  EXPECT_EQ(AllUsers(db).size(), 3u);  // the record stays until the repair

  const std::string pw = GeneratePassword(dir.path(), "XX1AAA", 42);
  ASSERT_EQ(pw.size(), 80u);
  EXPECT_EQ(pw.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"),
            std::string::npos);
  EXPECT_EQ(dir.Read("XX1AAA.pas"), pw);
  EXPECT_EQ(GeneratePassword(dir.path(), "XX1AAA", 42), pw);  // the same seed, the same password
  EXPECT_EQ(GeneratePassword(dir.path(), "../XX1", 42), "");
}

}  // namespace
}  // namespace orn
