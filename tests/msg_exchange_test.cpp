#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "admin/msg_exchange.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/store.h"
#include "support/store_files.h"

namespace orn {
namespace {

using test::MakeEmptyStore;
using test::TestDir;

// Two BBS directories: messages go out of one and into the other.
class MsgExchangeTest : public ::testing::Test {
 protected:
  struct Bbs {
    TestDir dir;
    StoreSite site;
    std::unique_ptr<Store> store;
    std::unique_ptr<TOrnDbase> db;
    MsgAdminContext ctx;
  };
  void Make(Bbs& b, const char* call) {
    b.site = MakeEmptyStore(b.dir);
    b.site.ownCall = call;
    b.store = std::make_unique<Store>(b.site);
    b.store->CreateMailBeaconList();
    b.db = b.store->OpenDbase();
    b.ctx.store = b.store.get();
    b.ctx.clock = &clock_;
    b.ctx.ownCall = call;
    const std::string header = std::string("R:261210/1200Z @:") + call + ".GRC.EU";
    b.ctx.routingHeader = [header] { return header; };
  }
  MsgExchangeTest() {
    clock_.SetLocal(2026, 12, 10, 12, 0);
    Make(a_, "XX9ORN");
    Make(b_, "XX5BBS");
  }

  FakeClock clock_;
  Bbs a_, b_;
  CodePages cp_;
};

TEST_F(MsgExchangeTest, AnExportedMessageImportsAsTheSameMessage) {
  MsgDB m{};
  CopyField(m.Type, "P");
  CopyField(m.ToStation, "XX7ZZ");
  CopyField(m.AtBbs, "XX5BBS");
  CopyField(m.FromStation, "XX9ORN.GRC.EU");
  CopyField(m.Bid, "XX9ORN_1234");
  CopyField(m.MsgSubject, "Sch\xF6n");  // o-umlaut in 1252
  ASSERT_EQ(CreateMsg(a_.ctx, *a_.db, m, "Hello Zed\r\n73"), MsgEditResult::kStored);
  const std::string file = a_.dir / "out.txt";
  ASSERT_EQ(ExportMsgs(*a_.db, a_.site.mailDir, {1001, 1999}, file, &cp_), 1);
  const std::string exported = a_.dir.Read("out.txt");
  EXPECT_EQ(exported.rfind("SP XX7ZZ @ XX5BBS < XX9ORN.GRC.EU $XX9ORN_1234\nSch\x94n\n", 0), 0u) << exported;
  EXPECT_NE(exported.find("Hello Zed\r\n73\r\n\n/EX\n"), std::string::npos) << exported;

  const ImportResult r = ImportMsgs(b_.ctx, *b_.db, file, &cp_);
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(r.stored, std::vector<long>{1001});
  const MsgDB& got = b_.db->msgdb;
  EXPECT_STREQ(got.Type, "P");
  EXPECT_STREQ(got.ToStation, "XX7ZZ");
  EXPECT_STREQ(got.AtBbs, "XX5BBS");
  EXPECT_STREQ(got.FromStation, "XX9ORN.GRC.EU");
  EXPECT_STREQ(got.Bid, "XX9ORN_1234");
  EXPECT_STREQ(got.MsgSubject, "Sch\xF6n");
  std::string text;
  ASSERT_TRUE(ReadMsgText(b_.site.mailDir, 1001, &text));
  EXPECT_EQ(text.rfind("R:261210/1200Z @:XX5BBS.GRC.EU\nR:261210/1200Z @:XX9ORN.GRC.EU\n", 0), 0u) << text;
  EXPECT_NE(text.find("Hello Zed\n73\n"), std::string::npos);

  // The same file again: the BID is known now.
  const ImportResult again = ImportMsgs(b_.ctx, *b_.db, file, &cp_);
  EXPECT_TRUE(again.stored.empty());
  EXPECT_EQ(again.known, 1);
  EXPECT_EQ(again.skipped, 0);
}

// Send lines and subjects longer than the stations' line reader takes (long
// hierarchical addresses, a 200-character subject) come back whole.
TEST_F(MsgExchangeTest, LongSendLinesAndSubjectsComeBackWhole) {
  MsgDB m{};
  CopyField(m.Type, "B");
  CopyField(m.ToStation, "EMERGENCYNETS");
  CopyField(m.AtBbs, "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW");
  CopyField(m.FromStation, "XX9ORN.#ATH.ATT.GRC.EURO.EARTH.SOL");
  CopyField(m.Bid, "XX9ORN_77777");
  CopyField(m.MsgSubject, std::string(200, 's'));
  ASSERT_EQ(CreateMsg(a_.ctx, *a_.db, m, "body"), MsgEditResult::kStored);
  const std::string file = a_.dir / "out.txt";
  ASSERT_EQ(ExportMsgs(*a_.db, a_.site.mailDir, {1001}, file, nullptr), 1);
  const ImportResult r = ImportMsgs(b_.ctx, *b_.db, file, nullptr);
  ASSERT_EQ(r.stored, std::vector<long>{1001}) << r.error;
  const MsgDB& got = b_.db->msgdb;
  EXPECT_STREQ(got.AtBbs, m.AtBbs);
  EXPECT_STREQ(got.FromStation, m.FromStation);
  EXPECT_STREQ(got.Bid, m.Bid);
  EXPECT_EQ(std::string(got.MsgSubject), std::string(200, 's'));
}

TEST_F(MsgExchangeTest, BlocksWithoutAddressAreSkippedAndThoseWithoutBidGetOneFromTheirText) {
  b_.dir.Write("in.txt",
               "SB ALL @ EU < XX1ABC\nNo BID here\ntext\n/EX\n"      // imported, BID made from the block
               "\r\n"                                                // blank lines between blocks
               "SP XX7ZZ @  < XX1ABC $B2\nno destination\nx\n/EX\n"  // skipped
               "SB ALL @ EU < XX1ABC\nNo BID here\ntext 2\n/EX\n");  // another text, another BID
  const ImportResult r = ImportMsgs(b_.ctx, *b_.db, b_.dir / "in.txt", nullptr);
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(r.stored, (std::vector<long>{1001, 1002}));
  EXPECT_EQ(r.skipped, 1);
  MsgDB first{}, second{};
  MsgDBidx idx{};
  ASSERT_TRUE(b_.db->ReadFromFile(1, first, idx));
  ASSERT_TRUE(b_.db->ReadFromFile(2, second, idx));
  EXPECT_EQ(std::strlen(first.Bid), 12u);
  EXPECT_STRNE(first.Bid, second.Bid);
  EXPECT_EQ(b_.store->counters.lastmsg, 1002);

  // At another BBS the same block gets the same BID.
  b_.dir.Write("one.txt", "SB ALL @ EU < XX1ABC\nNo BID here\ntext\n/EX\n");
  ASSERT_EQ(ImportMsgs(a_.ctx, *a_.db, b_.dir / "one.txt", nullptr).stored.size(), 1u);
  EXPECT_STREQ(a_.db->msgdb.Bid, first.Bid);
}

// A file imported twice stores nothing the second time: its BID-less blocks
// are known by the BIDs their texts gave them, even after so many other
// bulletins that the ring of recent BIDs no longer holds them.
TEST_F(MsgExchangeTest, TheSameFileTwiceStoresNothingTheSecondTime) {
  std::string file;
  for (int i = 0; i < 30; ++i)
    file += "SB ALL @ WW < XX1ABC\nNumber " + std::to_string(i) + "\nThe text of " + std::to_string(i) + "\n/EX\n";
  b_.dir.Write("in.txt", file);
  const ImportResult first = ImportMsgs(b_.ctx, *b_.db, b_.dir / "in.txt", nullptr);
  ASSERT_EQ(first.stored.size(), 30u) << first.error;
  for (long i = 0; i < kBidSlots; ++i) b_.store->Bids.InsertInBidArray("OTHER" + std::to_string(i));
  const ImportResult again = ImportMsgs(b_.ctx, *b_.db, b_.dir / "in.txt", nullptr);
  EXPECT_EQ(again.error, "");
  EXPECT_TRUE(again.stored.empty());
  EXPECT_EQ(again.known, 30);
  EXPECT_EQ(b_.store->counters.lastmsg, 1030);
}

// Whatever is not an exchange file is refused whole, at once, and nothing
// of it is stored: a device that never ends, a pipe nobody writes to, a
// directory, binary data, UTF-16, a file cut short in a message, text that
// holds no message.
TEST_F(MsgExchangeTest, WhatIsNoExchangeFileIsRefusedAndNothingStored) {
  const std::string good = "SP XX7ZZ @ XX5BBS < XX1ABC\nfine\ntext\n/EX\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : good) utf16 += std::string(1, c) + '\0';
  b_.dir.Write("binary", good + std::string("\x7F" "ELF\0\0\0", 7) + good);
  b_.dir.Write("utf16", utf16);
  b_.dir.Write("cut", good + "SP XX7ZZ @ XX5BBS < XX1ABC\ncut\nthe text goes on and\n");
  b_.dir.Write("prose", "Some notes\nthat are no messages.\n");
  b_.dir.Write("sendline", "S" + std::string(600, 'P') + "\nsubject\n/EX\n");
  b_.dir.Write("empty", "");
  ASSERT_EQ(::mkdir((b_.dir / "folder").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((b_.dir / "fifo").c_str(), 0644), 0);
  struct Case {
    std::string path;
    const char* says;
  };
  const Case cases[] = {
      {"/dev/zero", "is not a regular file"},
      {b_.dir / "fifo", "is not a regular file"},
      {b_.dir / "folder", "is a directory"},
      {b_.dir / "binary", "holds binary data"},
      {b_.dir / "utf16", "is UTF-16 text"},
      {b_.dir / "cut", "ends inside the message that begins at line 5"},
      {b_.dir / "prose", "line 1 is not the send line"},
      {b_.dir / "sendline", "line 1 is not the send line"},
      {b_.dir / "empty", "is empty"},
      {b_.dir / "missing", "cannot read"},
  };
  for (const Case& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const ImportResult r = ImportMsgs(b_.ctx, *b_.db, c.path, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.path;
    EXPECT_NE(r.error.find(c.says), std::string::npos) << c.path << ": " << r.error;
    EXPECT_NE(r.error.find(c.path), std::string::npos) << r.error;
    EXPECT_FALSE(r.storeFailed) << c.path;
    EXPECT_TRUE(r.stored.empty()) << c.path;
  }
  EXPECT_EQ(b_.store->counters.lastmsg, 1000);
  EXPECT_EQ(b_.db->MsgCount(), 0);
}

// In steps: each step does a little, and a message stored between two
// steps (a station's) neither stops the import nor is overwritten.
TEST_F(MsgExchangeTest, AnImportInStepsLetsOtherMessagesIn) {
  std::string file;
  for (int i = 0; i < 200; ++i) file += "SP XX7ZZ @ XX5BBS < XX1ABC $I" + std::to_string(i) + "\ns\nt\n/EX\n";
  b_.dir.Write("in.txt", file);
  ImportJob job(b_.ctx, b_.dir / "in.txt", nullptr);
  int steps = 0;
  bool between = false;
  while (!job.Step(*b_.db, 0)) {
    ++steps;
    if (!between && job.result().stored.size() == 100) {
      between = true;
      MsgDB m{};
      CopyField(m.Type, "P");
      CopyField(m.ToStation, "XX1ABC");
      CopyField(m.FromStation, "XX7ZZ");
      CopyField(m.AtBbs, "XX5BBS");
      CopyField(m.Bid, "STATION1");
      ASSERT_EQ(StoreNewMsg(b_.ctx, *b_.db, m, "hello\n"), MsgEditResult::kStored);
    }
  }
  EXPECT_GT(steps, 200);  // a step of no time stores one message at most
  EXPECT_TRUE(between);
  EXPECT_EQ(job.result().error, "");
  EXPECT_EQ(job.result().stored.size(), 200u);
  EXPECT_EQ(b_.store->counters.lastmsg, 1201);
  EXPECT_EQ(b_.db->MsgCount(), 201);
}

// A message that cannot be written (a full disk, here a directory in the
// way of its text's temporary file) stops the import with a failure that
// says how many were stored before it.
TEST_F(MsgExchangeTest, AMessageThatCannotBeWrittenStopsTheImport) {
  std::string file;
  for (int i = 0; i < 5; ++i) file += "SP XX7ZZ @ XX5BBS < XX1ABC $F" + std::to_string(i) + "\ns\nt\n/EX\n";
  b_.dir.Write("in.txt", file);
  const std::string tmp = MsgFileName(b_.site.mailDir, 1003) + ".tmp" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(tmp.c_str(), 0755), 0);
  const ImportResult r = ImportMsgs(b_.ctx, *b_.db, b_.dir / "in.txt", nullptr);
  EXPECT_TRUE(r.storeFailed);
  EXPECT_NE(r.error.find("line 9 could not be stored"), std::string::npos) << r.error;
  EXPECT_EQ(r.stored, (std::vector<long>{1001, 1002}));
  EXPECT_EQ(r.blocks, 5);
  ::rmdir(tmp.c_str());
  // Once there is room, the same file stores the rest.
  const ImportResult rest = ImportMsgs(b_.ctx, *b_.db, b_.dir / "in.txt", nullptr);
  EXPECT_EQ(rest.stored, (std::vector<long>{1003, 1004, 1005}));
  EXPECT_EQ(rest.known, 2);
}

}  // namespace
}  // namespace orn
