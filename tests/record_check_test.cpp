#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "store/counters.h"
#include "store/msg_text.h"
#include "store/optimizer.h"
#include "store/orn_dbase.h"
#include "store/record_check.h"
#include "support/store_files.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::MakeEmptyStore;
using test::Msg;
using test::TestDir;

// Thirty messages with their texts and three users, their index files kept
// aside as written; each case then spoils an index the way a bad copy, a
// tool or a full disk does.
class IndexRebuildTest : public ::testing::Test {
 protected:
  IndexRebuildTest() : site_(MakeEmptyStore(dir_)) {
    TOrnDbase db(site_);
    db.OpenUserFile();
    db.OpenMsgFile();
    for (long n = 1001; n <= 1030; ++n) {
      MsgDB m = Msg(db, n, "P", n % 7 ? "N" : "Y", "XX2BBB");
      EXPECT_NE(db.AppendMsg(m), 0);
      EXPECT_GE(WriteMsgText(site_.mailDir, n, "text of " + std::to_string(n) + "\n"), 0);
    }
    for (const char* call : {"XX1AAA", "XX2BBB", "XX3CCC"}) {
      const long at = db.AppendUser(call);
      EXPECT_NE(at, 0);
      CopyField(db.userdb.Password, std::string("pw-") + call);
      EXPECT_TRUE(db.WriteToFile(at, db.userdb));
    }
    db.CloseAll();
    WriteHighWater(site_, 1030);
    for (const char* f : {"MSG.ADB", "MSG.IDX", "USERS.ADB", "USERS.IDX"}) before_.push_back(dir_.Read(f));
  }
  const std::string& Before(const char* f) const {
    static const char* const names[] = {"MSG.ADB", "MSG.IDX", "USERS.ADB", "USERS.IDX"};
    for (size_t i = 0; i < 4; ++i)
      if (std::string(names[i]) == f) return before_[i];
    return before_[0];
  }
  // Everything as it was, and found the way readers find it.
  void ExpectNothingLost() {
    for (const char* f : {"MSG.ADB", "MSG.IDX", "USERS.ADB", "USERS.IDX"}) EXPECT_EQ(dir_.Read(f), Before(f)) << f;
    TOrnDbase db(site_);
    db.OpenUserFile();
    db.OpenMsgFile();
    for (long n = 1001; n <= 1030; ++n) {
      const long at = db.SearchBinary(n);
      ASSERT_TRUE(db.ReadFromFile(at, db.msgdb, db.msgidx));
      EXPECT_EQ(db.msgdb.MsgNo, n);
      std::string text;
      EXPECT_TRUE(ReadMsgText(site_.mailDir, n, &text));
    }
    for (const char* call : {"XX1AAA", "XX2BBB", "XX3CCC"}) {
      EXPECT_NE(db.FindUser(call), 0) << call;
      EXPECT_EQ(FieldText(db.userdb.Password), std::string("pw-") + call);
    }
    EXPECT_EQ(RecountMessages(site_).lastmsg, 1030);
  }

  TestDir dir_;
  StoreSite site_;
  std::vector<std::string> before_;
};

struct Spoiled {
  const char* what;
  const char* file;
  std::function<std::string(const std::string&)> spoil;
  const char* line;  // what the sysop is told
};

const Spoiled kSpoiled[] = {
    {"an emptied message index", "MSG.IDX", [](const std::string&) { return std::string(); },
     "MSG.IDX did not match 30 of the 30 records of MSG.ADB: the index was rebuilt from them."},
    {"a message index cut after its first entry", "MSG.IDX",
     [](const std::string& s) { return s.substr(0, kMsgDBidxSize); },
     "MSG.IDX did not match 29 of the 30 records of MSG.ADB"},
    // A message appended to an emptied index leaves zeros in front of its entry.
    {"a message index of zeros", "MSG.IDX", [](const std::string& s) { return std::string(s.size(), '\0'); },
     "MSG.IDX did not match 30 of the 30 records of MSG.ADB"},
    {"a status that differs from its record", "MSG.IDX",
     [](const std::string& s) {
       std::string t = s;
       t[4 * kMsgDBidxSize + 6] = 'K';
       return t;
     },
     "MSG.IDX did not match 1 of the 30 records of MSG.ADB"},
    {"an emptied user index", "USERS.IDX", [](const std::string&) { return std::string(); },
     "USERS.IDX did not match 3 of the 3 records of USERS.ADB: the index was rebuilt from them."},
    {"a user index of zeros", "USERS.IDX", [](const std::string& s) { return std::string(s.size(), '\0'); },
     "USERS.IDX did not match 3 of the 3 records of USERS.ADB"},
    {"a user's call changed in the index only", "USERS.IDX",
     [](const std::string& s) {
       std::string t = s;
       t[kUserDBidxSize + 4] = 'Q';
       return t;
     },
     "USERS.IDX did not match 1 of the 3 records of USERS.ADB"},
};

TEST_F(IndexRebuildTest, ASpoiledIndexIsRebuiltAtStartWithNothingLost) {
  for (const Spoiled& c : kSpoiled) {
    SCOPED_TRACE(c.what);
    dir_.Write(c.file, c.spoil(Before(c.file)));
    const RecordCheck check = CheckRecordFiles(dir_.path(), site_.mailDir);
    EXPECT_EQ(check.damage, "");
    ASSERT_EQ(check.mended.size(), 1u);
    EXPECT_EQ(check.mended[0].rfind(c.line, 0), 0u) << check.mended[0];
    ExpectNothingLost();
    // Said once: the next look finds nothing to mend.
    EXPECT_TRUE(CheckRecordFiles(dir_.path(), site_.mailDir).mended.empty());
  }
}

TEST_F(IndexRebuildTest, TheRepairRebuildsASpoiledIndexWhateverItIsToDrop) {
  PurgeOptions dropKilled;
  dropKilled.killed = true;  // none is killed: the records stay as they are
  for (const PurgeOptions& o : {PurgeOptions{}, dropKilled}) {
    for (const Spoiled& c : kSpoiled) {
      SCOPED_TRACE(std::string(c.what) + (o.Any() ? ", dropping killed messages" : ", nothing to drop"));
      dir_.Write(c.file, c.spoil(Before(c.file)));
      const OptimizeResult r = MakeOptimize(site_, o, "261210");
      EXPECT_TRUE(r.ok) << r.error;
      ASSERT_EQ(r.mended.size(), 1u);
      EXPECT_EQ(r.mended[0].rfind(c.line, 0), 0u) << r.mended[0];
      ExpectNothingLost();
    }
  }
}

// A text above every record, left by messages whose records were lost with
// the index: its number is not given again.
TEST_F(IndexRebuildTest, ARebuildKeepsTheNumbersOfTextsInUse) {
  ASSERT_GE(WriteMsgText(site_.mailDir, 1042, "orphan\n"), 0);
  dir_.Write("MSG.IDX", "");
  ASSERT_EQ(CheckRecordFiles(dir_.path(), site_.mailDir).damage, "");
  EXPECT_EQ(ReadHighWater(site_), 1042);
  EXPECT_EQ(RecountMessages(site_).lastmsg, 1042);
}

// Records that are not messages in order: an index made from them would
// pass the damage on, so both files stay as they are.
TEST_F(IndexRebuildTest, RecordsOutOfOrderAreDamageAndNothingIsWritten) {
  std::string adb = Before("MSG.ADB");
  std::swap_ranges(adb.begin(), adb.begin() + kMsgDBSize, adb.begin() + kMsgDBSize);
  dir_.Write("MSG.ADB", adb);
  dir_.Write("MSG.IDX", "");
  const RecordCheck check = CheckRecordFiles(dir_.path(), site_.mailDir);
  EXPECT_EQ(check.damage, "MSG.ADB: the message numbers do not rise at record 2.");
  EXPECT_EQ(check.advice, "Restore MSG.ADB from a backup; its index is rebuilt from it at the next start.");
  EXPECT_EQ(dir_.Read("MSG.ADB"), adb);
  EXPECT_EQ(dir_.Read("MSG.IDX"), "");
}

// A record file the BBS may not read or write is said as such, whatever
// its contents, and nothing is changed.
TEST_F(IndexRebuildTest, AFileTheBbsMayNotUseIsSaidAsSuch) {
  ::chmod(dir_.path().c_str(), 0777);
  for (const char* f : {"MSG.ADB", "MSG.IDX", "USERS.ADB", "USERS.IDX", "MAIL.ADB"})
    ::chmod((dir_ / f).c_str(), 0666);
  struct Case {
    const char* file;
    bool directory;  // else mode 000
    const char* damage;
  } cases[] = {
      {"MSG.ADB", false, "MSG.ADB cannot be opened: permission denied."},
      {"MSG.IDX", false, "MSG.IDX cannot be opened: permission denied."},
      {"USERS.IDX", false, "USERS.IDX cannot be opened: permission denied."},
      {"MAIL.ADB", false, "MAIL.ADB cannot be opened: permission denied."},
      {"USERS.ADB", true, "USERS.ADB cannot be opened: is a directory."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir_ / c.file;
    const std::string bytes = dir_.Read(c.file);
    if (c.directory) {
      std::filesystem::remove(path);
      std::filesystem::create_directory(path);
    } else {
      ::chmod(path.c_str(), 0);
    }
    const std::string got = test::AsNobody([&] {
      const RecordCheck check = CheckRecordFiles(dir_.path(), site_.mailDir);
      return check.damage + "|" + check.advice;
    });
    EXPECT_EQ(got, std::string(c.damage) + "|The BBS's user must be able to read and write it.");
    if (c.directory) {
      std::filesystem::remove(path);
      dir_.Write(c.file, bytes);
    }
    ::chmod(path.c_str(), 0666);
    ExpectNothingLost();
  }
}

}  // namespace
}  // namespace orn
