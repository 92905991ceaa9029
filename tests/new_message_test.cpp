#include "store/new_message.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/store.h"
#include "support/store_files.h"

namespace orn {
namespace {

using test::MakeEmptyStore;
using test::TestDir;

struct Stored {
  long number;
  long position;
  std::string call;
};

class NewMessageTest : public ::testing::Test {
 protected:
  NewMessageTest() : site_(MakeEmptyStore(dir_)), clock_(0) {
    clock_.SetLocal(2026, 12, 10, 15, 30);
    store_ = std::make_unique<Store>(site_);
    store_->CreateMailBeaconList();
    store_->RecountMessages();
    store_->onNewMessage = [this](const MsgDB& m, long pos, const MsgOrigin& o) {
      stored_.push_back({m.MsgNo, pos, o.call});
    };
    db_ = store_->OpenDbase();
  }
  static MsgDB New(const char* status, const char* bid = "") {
    MsgDB m{};
    CopyField(m.Type, "P");
    CopyField(m.Status, status);
    CopyField(m.ToStation, "XX1ABC");
    CopyField(m.FromStation, "XX2BBB");
    CopyField(m.Bid, bid);
    return m;
  }
  NewMsgResult Add(MsgDB& m, const std::string& bidCall = "") {
    MsgOrigin origin;
    origin.call = "XX2BBB";
    return StoreNewMessage(*store_, *db_, clock_, m, "R:261210/1530Z @:XX9ORN\nhello\n", bidCall, origin);
  }
  long Waiting() {
    UpdatemsgBeacon& list = *store_->MsgBeacon();
    return list.InList("XX1ABC") ? list.mails.howmany : 0;
  }
  bool TextExists(long number) { return FileExists(MsgFileName(site_.mailDir, number)); }

  TestDir dir_;
  StoreSite site_;
  FakeClock clock_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<TOrnDbase> db_;
  std::vector<Stored> stored_;
};

TEST_F(NewMessageTest, EachStatusIsCountedWhereItBelongs) {
  struct Case {
    const char* status;
    const char* stored;
    long active, held;
  } cases[] = {
      {"", "N", 1, 0},   // a blank status is unread
      {"N", "N", 2, 0},
      {"H", "H", 2, 1},  // held waits for the sysop, not for readers
      {"K", "K", 2, 1},  // a killed one only adds to the total
  };
  long total = 0;
  for (const Case& c : cases) {
    MsgDB m = New(c.status);
    ASSERT_EQ(Add(m), NewMsgResult::kStored) << c.status;
    ++total;
    EXPECT_EQ(m.MsgNo, 1000 + total);
    EXPECT_STREQ(m.Status, c.stored);
    EXPECT_STREQ(m.MsgDate, "1530/261210");
    EXPECT_EQ(store_->counters.lastmsg, 1000 + total);
    EXPECT_EQ(store_->counters.totalmsg, total);
    EXPECT_EQ(store_->counters.activemsg, c.active) << c.status;
    EXPECT_EQ(store_->counters.heldmsg, c.held) << c.status;
    // The record on file is the one handed back.
    MsgDB back{};
    MsgDBidx idx{};
    ASSERT_TRUE(db_->ReadFromFile(total, back, idx));
    EXPECT_EQ(back.MsgNo, m.MsgNo);
    EXPECT_EQ(back.Size, m.Size);
    std::string text;
    ASSERT_TRUE(ReadWholeFile(MsgFileName(site_.mailDir, m.MsgNo), &text));
    EXPECT_EQ(static_cast<long>(text.size()), m.Size);
  }
  // Every message names its addressee in the mail-beacon list; the hook
  // heard of each, with its position and who brought it.
  EXPECT_EQ(Waiting(), 4);
  ASSERT_EQ(stored_.size(), 4u);
  EXPECT_EQ(stored_[3].number, 1004);
  EXPECT_EQ(stored_[3].position, 4);
  EXPECT_EQ(stored_[3].call, "XX2BBB");
}

TEST_F(NewMessageTest, BidsAreMadeKeptAndRefusedWhenKnown) {
  MsgDB a = New("N");
  ASSERT_EQ(Add(a, "XX9ORN"), NewMsgResult::kStored);
  EXPECT_STREQ(a.Bid, "XX9ORN_1001");
  MsgDB b = New("N", "B1");
  ASSERT_EQ(Add(b, "XX9ORN"), NewMsgResult::kStored);
  EXPECT_STREQ(b.Bid, "B1");
  MsgDB c = New("N");
  ASSERT_EQ(Add(c), NewMsgResult::kStored);
  EXPECT_STREQ(c.Bid, "");
  // From six digits on, the number follows the call without "_".
  store_->counters.lastmsg = 99999;
  MsgDB d = New("N");
  ASSERT_EQ(Add(d, "XX9ORN"), NewMsgResult::kStored);
  EXPECT_STREQ(d.Bid, "XX9ORN100000");

  const MsgCounters before = store_->counters;
  const long records = db_->MsgCount();
  MsgDB again = New("N", "B1");
  EXPECT_EQ(Add(again), NewMsgResult::kKnownBid);
  EXPECT_EQ(db_->MsgCount(), records);
  EXPECT_EQ(store_->counters.lastmsg, before.lastmsg);
  EXPECT_EQ(store_->counters.totalmsg, before.totalmsg);
  EXPECT_FALSE(TextExists(100001));
  EXPECT_EQ(stored_.size(), 4u);
}

TEST_F(NewMessageTest, ControlCharactersLeaveTheSubjectAndTheAddresses) {
  // Whoever wrote them (an import file, a partner), they would reach the
  // sysop's terminal, and a BID with a Ctrl-Z in it matches nothing.
  MsgDB m = New("N");
  CopyField(m.MsgSubject, "a\x1B[2Jb\x07" "c\x7F" "\xE4");
  CopyField(m.ToStation, "XX1\x1B]0;t\x07");
  CopyField(m.AtBbs, "XX9ORN\f");
  CopyField(m.FromStation, "XX2\b" "BBB");
  CopyField(m.Bid, "12_XX2BBB\x1A" "");
  ASSERT_EQ(Add(m), NewMsgResult::kStored);
  EXPECT_STREQ(m.MsgSubject, "a?[2Jb?c?\xE4");
  EXPECT_STREQ(m.ToStation, "XX1?]0;t?");
  EXPECT_STREQ(m.AtBbs, "XX9ORN?");
  EXPECT_STREQ(m.FromStation, "XX2?BBB");
  EXPECT_STREQ(m.Bid, "12_XX2BBB?");
  EXPECT_TRUE(store_->Bids.WeHaveThebid("12_XX2BBB?"));
}

TEST_F(NewMessageTest, ANumberOnceGivenIsNeverGivenAgain) {
  MsgDB a = New("N"), b = New("K");
  ASSERT_EQ(Add(a, "XX9ORN"), NewMsgResult::kStored);
  ASSERT_EQ(Add(b, "XX9ORN"), NewMsgResult::kStored);
  // A repair drops the killed newest message, or the record files lose
  // their end: the numbers stay used.
  db_->CloseAll();
  std::filesystem::resize_file(site_.dir + "/MSG.ADB", kMsgDBSize);
  std::filesystem::resize_file(site_.dir + "/MSG.IDX", kMsgDBidxSize - 3);
  std::filesystem::remove(MsgFileName(site_.mailDir, 1002));
  store_->RecountMessages();
  EXPECT_EQ(store_->counters.lastmsg, 1002);
  // A text whose record was lost is not written over: its number is skipped.
  ASSERT_TRUE(WriteFileReplacing(MsgFileName(site_.mailDir, 1003), "an orphan\r\n"));
  db_ = store_->OpenDbase();
  MsgDB c = New("N");
  ASSERT_EQ(Add(c, "XX9ORN"), NewMsgResult::kStored);
  EXPECT_EQ(c.MsgNo, 1004);
  EXPECT_STREQ(c.Bid, "XX9ORN_1004");
  std::string orphan;
  ASSERT_TRUE(ReadWholeFile(MsgFileName(site_.mailDir, 1003), &orphan));
  EXPECT_EQ(orphan, "an orphan\r\n");
}

TEST_F(NewMessageTest, AFailedWriteLeavesNothingBehind) {
  // The text cannot be written: no record, no count, no number used up.
  std::filesystem::remove_all(site_.mailDir);
  ASSERT_TRUE(WriteFileReplacing(site_.mailDir, "not a directory"));
  MsgDB m = New("N", "B1");
  EXPECT_EQ(Add(m), NewMsgResult::kNotStored);
  EXPECT_EQ(db_->MsgCount(), 0);
  EXPECT_EQ(store_->counters.lastmsg, 1000);
  EXPECT_FALSE(store_->Bids.WeHaveThebid("B1"));
  EXPECT_EQ(Waiting(), 0);

  // The record cannot be written: the text written for it goes again.
  std::filesystem::remove_all(site_.mailDir);
  ASSERT_TRUE(std::filesystem::create_directory(site_.mailDir));
  db_->CloseAll();
  MsgDB n = New("N", "B2");
  EXPECT_EQ(Add(n), NewMsgResult::kNotStored);
  EXPECT_FALSE(TextExists(1001));
  EXPECT_EQ(store_->counters.totalmsg, 0);
  EXPECT_TRUE(stored_.empty());
}

}  // namespace
}  // namespace orn
