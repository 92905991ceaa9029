#include <gtest/gtest.h>
#include <set>

#include "store/bids.h"
#include "store/callsign.h"
#include "store/counters.h"
#include "store/msg_text.h"
#include "store/store_generator.h"
#include "support/test_dir.h"

namespace orn {
namespace {

TEST(StoreGeneratorTest, GeneratedStoreIsConsistent) {
  test::TestDir dir;
  const StoreSite site{dir / "bbs", dir / "bbs/MAIL", "XX9ORN", "GRC.EU"};
  FakeClock clock;
  clock.SetLocal(1997, 5, 7, 15, 30);
  GenerateOptions o;
  o.messages = 200;
  o.users = 30;
  o.texts = true;
  std::string error;
  ASSERT_TRUE(GenerateStore(site, o, clock, &error)) << error;

  const MsgCounters c = RecountMessages(site);
  EXPECT_EQ(c.lastmsg, 1200);
  EXPECT_EQ(c.totalmsg, 200);
  EXPECT_EQ(c.activemsg, 180);  // every tenth is killed
  EXPECT_EQ(c.heldmsg, 4);      // 1025, 1075, 1125, 1175; 1050... are killed

  TOrnDbase db(site);
  ASSERT_TRUE(db.OpenUserFile());
  ASSERT_TRUE(db.OpenMsgFile());
  for (long i = 1; i <= o.users; ++i) {
    EXPECT_TRUE(CallIsValid(GeneratedCall(i))) << GeneratedCall(i);
    EXPECT_EQ(db.FindUser(GeneratedCall(i)), i);
  }
  const long pos = db.SearchBinary(1123);
  ASSERT_TRUE(db.ReadFromFile(pos, db.msgdb, db.msgidx));
  EXPECT_EQ(db.msgdb.MsgNo, 1123);
  std::string text;
  ASSERT_TRUE(ReadMsgText(site.mailDir, 1123, &text));
  EXPECT_EQ(db.msgdb.Size, static_cast<long>(ToDiskLines(text).size()));
  EXPECT_EQ(text.substr(0, 24), "R:970507/1530z @:XX9ORN\n");
}

TEST(StoreGeneratorTest, GeneratedCallsAreDistinct) {
  std::set<std::string> seen;
  for (long i = 1; i <= 20000; ++i) EXPECT_TRUE(seen.insert(GeneratedCall(i)).second) << i;
}

}  // namespace
}  // namespace orn
