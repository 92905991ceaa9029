#include <gtest/gtest.h>

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

  const ImportResult r = ImportMsgs(b_.ctx, *b_.db, file, true, &cp_);
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
  const ImportResult again = ImportMsgs(b_.ctx, *b_.db, file, true, &cp_);
  EXPECT_TRUE(again.stored.empty());
  EXPECT_EQ(again.skipped, 1);
}

TEST_F(MsgExchangeTest, BlocksWithoutAddressOrBidAndCutShortFiles) {
  b_.dir.Write("in.txt",
               "SB ALL @ EU < XX1ABC\nNo BID here\ntext\n/EX\n"      // imported, BID generated
               "SP XX7ZZ @  < XX1ABC $B2\nno destination\nx\n/EX\n"  // skipped
               "SB ALL @ EU < XX1ABC $B3\ncut short\nno end\n");     // the file ends inside
  const ImportResult r = ImportMsgs(b_.ctx, *b_.db, b_.dir / "in.txt", true, nullptr);
  ASSERT_EQ(r.stored, std::vector<long>{1001});
  EXPECT_STREQ(b_.db->msgdb.Bid, "XX5BBS_1001");
  EXPECT_EQ(r.skipped, 1);
  EXPECT_EQ(b_.store->counters.lastmsg, 1001);
  EXPECT_FALSE(ImportMsgs(b_.ctx, *b_.db, b_.dir / "missing.txt", true, nullptr).readable);
}

}  // namespace
}  // namespace orn
