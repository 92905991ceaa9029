#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTimer>
#include <optional>
#include <vector>

#include "admin/msg_admin.h"
#include "desktop/msg_window.h"
#include "desktop/users_window.h"
#include "platform/clock.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/counters.h"
#include "store/msg_text.h"
#include "store/store.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::TestDir;

class DatabaseWindowsTest : public ::testing::Test {
 protected:
  DatabaseWindowsTest() {
    for (const char* name : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX", "MAIL.ADB"}) dir_.Write(name, "");
    site_ = StoreSite{dir_.path(), dir_ / "MAIL", "XX9ORN", "GRC.EU"};
    CreateDirIfDontExist(dir_.path(), "MAIL");
    store_ = std::make_unique<Store>(site_);
    store_->CreateMailBeaconList();
    clock_.SetLocal(2026, 12, 10, 9, 0);
  }
  MsgAdminContext Context() {
    MsgAdminContext ctx;
    ctx.store = store_.get();
    ctx.clock = &clock_;
    ctx.ownCall = "XX9ORN";
    return ctx;
  }

  TestDir dir_;
  StoreSite site_;
  std::unique_ptr<Store> store_;
  FakeClock clock_;
  CodePages cp_;
};

TEST_F(DatabaseWindowsTest, TheMessageListShowsTheStoreAndFollowsAKill) {
  auto db = store_->OpenDbase();
  for (const char* bid : {"B1", "B2"}) {
    MsgDB m{};
    CopyField(m.Type, "B");
    CopyField(m.ToStation, "ALL");
    CopyField(m.FromStation, "XX1ABC");
    CopyField(m.Bid, bid);
    CopyField(m.MsgSubject, "Caf\xE9 net");  // code page 1252 in the store
    ASSERT_EQ(CreateMsg(Context(), *db, m, "text"), MsgEditResult::kStored);
  }
  MsgWindow window(Context(), store_->OpenDbase(), cp_);
  ASSERT_EQ(window.list()->rowCount(), 2);
  EXPECT_EQ(window.list()->item(0, 0)->text(), "1001");
  EXPECT_EQ(window.list()->item(1, 8)->text(), QString::fromUtf8("Caf\xC3\xA9 net"));
  window.KillRow(0);
  EXPECT_EQ(window.list()->item(0, 2)->text(), "K");
  EXPECT_EQ(store_->counters.activemsg, 1);
  window.findChild<QComboBox*>()->setCurrentIndex(static_cast<int>(MsgSearch::kStatus));
  window.findChild<QLineEdit*>()->setText("N");
  window.Search();
  ASSERT_EQ(window.list()->rowCount(), 1);
  EXPECT_EQ(window.list()->item(0, 0)->text(), "1002");
}

TEST_F(DatabaseWindowsTest, TheListSortsCountsHoldsAndReleasesAndRepliesQuote) {
  auto db = store_->OpenDbase();
  std::vector<long> routed, unqueued;
  MsgAdminContext ctx = Context();
  ctx.Route = [&](const MsgDB& m) { routed.push_back(m.MsgNo); };
  ctx.RemFwd = [&](long n) { unqueued.push_back(n); };
  for (int size : {300, 20, 4000}) {
    MsgDB m{};
    CopyField(m.Type, "P");
    CopyField(m.ToStation, "XX9ORN");
    CopyField(m.FromStation, "XX1ABC");
    CopyField(m.MsgSubject, "Hi");
    ASSERT_EQ(CreateMsg(ctx, *db, m, std::string(static_cast<size_t>(size), 'x')), MsgEditResult::kStored);
  }
  MsgWindow window(ctx, store_->OpenDbase(), cp_);
  QTableWidget& list = *window.list();
  EXPECT_EQ(window.foundLabel()->text(), "3 messages");
  // Dates as people read them; sizes sort as numbers, not as text.
  EXPECT_EQ(list.item(0, 7)->text(), "2026-12-10 09:00");
  list.sortByColumn(3, Qt::AscendingOrder);
  EXPECT_EQ(list.item(0, 0)->text(), "1002");
  EXPECT_EQ(list.item(2, 0)->text(), "1003");
  list.sortByColumn(0, Qt::AscendingOrder);

  // Hold takes it out of the partners' queues and counts it; release
  // routes it as new.
  window.HoldRow(1, true);
  EXPECT_EQ(list.item(1, 2)->text(), "H");
  EXPECT_EQ(unqueued, std::vector<long>{1002});
  EXPECT_EQ(store_->counters.heldmsg, 1);
  window.HoldRow(1, false);
  EXPECT_EQ(list.item(1, 2)->text(), "N");
  EXPECT_EQ(routed, std::vector<long>{1002});
  EXPECT_EQ(store_->counters.heldmsg, 0);
  const MsgCounters counted = RecountMessages(site_);
  EXPECT_EQ(counted.activemsg, store_->counters.activemsg);

  EXPECT_EQ(MsgWindow::QuotedReply("Hello,\n\nhow are you?\n"), "\n\n> Hello,\n>\n> how are you?\n");
  EXPECT_EQ(MsgWindow::ReadableDate("garbage"), "garbage");
}

// The menu's import runs between the event loop's other work (the
// stations' frames and timers), and the same file again stores nothing.
TEST_F(DatabaseWindowsTest, TheImportLetsTheEventLoopTurnAndIsNotStoredTwice) {
  std::string file;
  for (int i = 0; i < 150; ++i) file += "SB ALL @ WW < XX1ABC\nNews " + std::to_string(i) + "\ntext\n/EX\n";
  dir_.Write("in.txt", file);
  MsgWindow window(Context(), store_->OpenDbase(), cp_);
  std::optional<ImportResult> result;
  window.onImportDone = [&](const ImportResult& r) { result = r; };
  int turns = 0;
  QTimer other;
  QObject::connect(&other, &QTimer::timeout, [&] { ++turns; });
  other.start(0);
  auto run = [&] {
    result.reset();
    window.ImportFile(QString::fromStdString(dir_ / "in.txt"));
    EXPECT_TRUE(window.importing());  // nothing done yet: the loop does it
    EXPECT_FALSE(result);
    QElapsedTimer t;
    t.start();
    while (!result && t.elapsed() < 20000) QCoreApplication::processEvents();
  };
  run();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->stored.size(), 150u) << result->error;
  EXPECT_GT(turns, 0);
  EXPECT_EQ(window.list()->rowCount(), 150);
  run();
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->stored.empty());
  EXPECT_EQ(result->known, 150);
}

TEST_F(DatabaseWindowsTest, TheTextPaneShowsTheMessageAndAnEditedTextIsStored) {
  auto db = store_->OpenDbase();
  const std::pair<const char*, const char*> msgs[] = {{"XX9ORN", "B1"}, {"ALL", "B2"}};
  for (const auto& [to, bid] : msgs) {
    MsgDB m{};
    CopyField(m.Type, "P");
    CopyField(m.ToStation, to);
    CopyField(m.FromStation, "XX1ABC");
    CopyField(m.Bid, bid);
    CopyField(m.MsgSubject, "Hi");
    ASSERT_EQ(CreateMsg(Context(), *db, m, "first line\r\nsecond line"), MsgEditResult::kStored);
  }
  MsgWindow window(Context(), store_->OpenDbase(), cp_);
  int mailScans = 0;
  window.onMailChanged = [&] { ++mailScans; };
  window.list()->setCurrentCell(0, 0);
  EXPECT_NE(window.textPane()->toPlainText().indexOf("first line\nsecond line"), -1);
  // Only a message to this BBS is answered here.
  EXPECT_TRUE(window.CanReply(0));
  EXPECT_FALSE(window.CanReply(1));

  MsgDB m{};
  MsgDBidx mi{};
  ASSERT_TRUE(db->ReadFromFile(1, m, mi));
  ASSERT_EQ(UpdateMsg(Context(), *db, m, "R:header\n\nnew text\n"), MsgEditResult::kStored);
  std::string text;
  ASSERT_TRUE(ReadMsgText(site_.mailDir, 1001, &text));
  EXPECT_EQ(text, "R:header\n\nnew text\n");
  ASSERT_TRUE(db->ReadFromFile(1, m, mi));
  EXPECT_EQ(m.Size, static_cast<int32_t>(ToDiskLines(text).size()));
  // A record without a sender is refused, and its text is left alone.
  CopyField(m.FromStation, "");
  EXPECT_EQ(UpdateMsg(Context(), *db, m, "lost"), MsgEditResult::kFillAllFields);
  ASSERT_TRUE(ReadMsgText(site_.mailDir, 1001, &text));
  EXPECT_EQ(text, "R:header\n\nnew text\n");

  window.KillRow(0);
  EXPECT_EQ(mailScans, 1);
}

TEST_F(DatabaseWindowsTest, TheUserListKillsFromItsMenu) {
  auto db = store_->OpenDbase();
  ASSERT_NE(db->AppendUser("XX1AAA"), 0);
  UsersWindow window(store_->OpenDbase(), dir_.path(), cp_);
  window.KillRow(0);
  EXPECT_EQ(window.list()->item(0, 3)->text(), "K");
}

TEST_F(DatabaseWindowsTest, TheUserListSearchesByCallsign) {
  auto db = store_->OpenDbase();
  for (const char* call : {"XX1AAA", "XX2BBB"}) ASSERT_NE(db->AppendUser(call), 0);
  UsersWindow window(store_->OpenDbase(), dir_.path(), cp_);
  ASSERT_EQ(window.list()->rowCount(), 2);
  window.findChild<QLineEdit*>()->setText("xx2bbb");
  window.Search();
  ASSERT_EQ(window.list()->rowCount(), 1);
  EXPECT_EQ(window.list()->item(0, 1)->text(), "XX2BBB");
}

TEST_F(DatabaseWindowsTest, NewUserMakesARecordOnceForACallsign) {
  UsersWindow window(store_->OpenDbase(), dir_.path(), cp_);
  std::vector<std::string> written;
  window.onUserWritten = [&](long, const std::string& call, const UserChanges&) { written.push_back(call); };
  QString why;
  const int row = window.AddUser(" xx3new-7 ", &why);
  ASSERT_GE(row, 0) << why.toStdString();
  EXPECT_EQ(window.list()->item(row, 1)->text(), "XX3NEW");
  EXPECT_EQ(window.list()->currentRow(), row);
  EXPECT_EQ(written, std::vector<std::string>{"XX3NEW"});
  EXPECT_EQ(window.AddUser("XX3NEW", &why), -1);
  EXPECT_EQ(why, "XX3NEW is already a user.");
  EXPECT_EQ(window.AddUser("hello!", &why), -1);
  EXPECT_EQ(why, "Not a callsign: hello!");
  EXPECT_EQ(window.list()->rowCount(), 1);
}

}  // namespace
}  // namespace orn
