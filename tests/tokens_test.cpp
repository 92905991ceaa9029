#include <gtest/gtest.h>

#include "platform/text.h"
#include "store/mail_beacon_list.h"
#include "store/orn_dbase.h"
#include "store/tokens.h"
#include "support/store_files.h"
#include "support/test_dir.h"

namespace orn {
namespace {

class TokensTest : public ::testing::Test {
 protected:
  TokensTest() {
    clock_.SetLocal(1997, 5, 7, 15, 30);
    counters_ = MsgCounters{5000, 120, 98, 3};
    TOrnDbase db(StoreSite{"", "", "XX9ORN", "GRC.EU"});
    db.DBdefaults(&user_, 4);
    CopyField(user_.Name, "Giorgos");
    CopyField(user_.HomeBbs, "XX9ORN.GRC.EU");
    user_.LMsgRead = 4711;
    CopyField(user_.LLoginD, "97/05/06");
    CopyField(user_.LLoginT, "09:15");
    db.DBdefaults(&msg_, 1234);

    ctx_.clock = &clock_;
    ctx_.counters = &counters_;
    ctx_.ownCall = "XX9ORN";
    ctx_.sysopName = "Nikos";
    ctx_.user = &user_;
    ctx_.msg = &msg_;
    ctx_.userCall = "XX7ZZ";
    ctx_.channelNumber = 3;
  }

  FakeClock clock_;
  MsgCounters counters_;
  UserDB user_;
  MsgDB msg_;
  TokenContext ctx_;
};

TEST_F(TokensTest, EveryTokenAndTheRulesAroundThem) {
  struct Case {
    const char* text;
    const char* want;
  } cases[] = {
      {"R:$D/$Tz @:$V [XX9ORN ORNMBX(v)7.00]", "R:970507/1530z @:XX9ORN [XX9ORN ORNMBX(v)7.00]"},
      {"$d $t", "97/05/07 15:30"},
      {"$A/$B/$C", "98/120/5000"},
      {"$b.", "XX9ORN_1234."},
      {"$S $H $N $U $E $L $l", "Nikos XX9ORN.GRC.EU Giorgos XX7ZZ 3 4711 97/05/06-09:15"},
      // The character after a token is copied without being looked at.
      {"$D$T", "970507$T"},
      {"$V$V$V", "XX9ORN$VXX9ORN"},
      {"$$V", "$V"},
      {"$$$V", "$$V"},
      {"$V", "XX9ORN"},
      // Any other letter loses its "$"; a "$" at the end is dropped.
      {"$X$y$1", "Xy1"},
      {"cost: 5$", "cost: 5"},
      {"$", ""},
      {"no tokens at all", "no tokens at all"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(wildcards(ctx_, c.text), c.want) << c.text;
}

TEST_F(TokensTest, MonitorWindowDoesNotExpandUserTokens) {
  ctx_.monitor = true;
  EXPECT_EQ(wildcards(ctx_, "Hello $N"), "Hello N");
  EXPECT_EQ(wildcards(ctx_, "$H$N$U$E$L$l"), "HNUELl");
  EXPECT_EQ(wildcards(ctx_, "$V $C"), "XX9ORN 5000");  // the others still are
}

TEST_F(TokensTest, NameIsConvertedToTheStationsCodePageWhenAsked) {
  CopyField(user_.Name, "Ren\xe9");  // e acute in 1252
  EXPECT_EQ(wildcards(ctx_, "$N"), "Ren\xe9");
  CodePages cp;
  ctx_.ansiToOem = &cp;
  EXPECT_EQ(wildcards(ctx_, "$N"), "Ren\x82");  // and in 437
}

TEST_F(TokensTest, ConnectedStationsHeadedByTheLanguageText) {
  ctx_.nousage = "Stations on line:\r";
  EXPECT_EQ(wildcards(ctx_, "$M"), "Stations on line:\r");
  ctx_.connected = [] {
    return std::vector<ConnectedStation>{{0, 1, "XX7ZZ-2"}, {2, 4, "XX5ABC"}};
  };
  EXPECT_EQ(wildcards(ctx_, "$M>"),
            "Stations on line:\rPort=1,Channel=1 -> XX7ZZ-2\rPort=3,Channel=4 -> XX5ABC\r>");
}

TEST_F(TokensTest, MailBeaconToken) {
  test::TestDir dir;
  const StoreSite site = test::MakeEmptyStore(dir);
  UpdatemsgBeacon list(site.dir);
  list.PutCallInList("XX7ZZ");
  list.PutCallInList("XX5ABC.GRC.EU");
  ctx_.mailBeacon = &list;
  EXPECT_EQ(wildcards(ctx_, "Mail for: $q"), "Mail for: XX7ZZ XX5ABC");
}

TEST_F(TokensTest, MissingContextGivesEmptyValues) {
  TokenContext bare;
  EXPECT_EQ(wildcards(bare, "[$D|$N|$b|$A|$q|$M]"), "[|||0||]");
}

TEST_F(TokensTest, ResultIsBoundedAndFitsTheCallersBuffer) {
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "$V ";
  EXPECT_EQ(wildcards(ctx_, many).size(), 4999u);

  char buf[16] = "At $V on $D";
  wildcards(ctx_, buf, sizeof buf);
  EXPECT_STREQ(buf, "At XX9ORN on 97");
}

}  // namespace
}  // namespace orn
