#include "app/bbs_init.h"

#include <gtest/gtest.h>

#include "platform/file_names.h"
#include "support/bbs_on_engine.h"

namespace orn {
namespace {

using test::BbsOnEngine;

class BbsInitTest : public BbsOnEngine {};

// What a sysop meets on the first day: the BBS started on a directory made by
// init is on the air and lets a new station in.
TEST_F(BbsInitTest, ANewDirectoryIsABbsThatLetsNewStationsIn) {
  const std::string dir = dir_ / "new/bbs";
  BbsInitOptions o;
  o.call = "xx9orn-1";
  o.name = "Nick";
  o.hier = "#ath.grc.eu";
  ASSERT_TRUE(ParseEngineAddress("127.0.0.1:8001", &o.engineHost, &o.enginePort));
  std::string why;
  ASSERT_TRUE(InitBbsDirectory(dir, o, &why)) << why;
  for (const char* f : {"ORN.INI", "english.lng", "german.lng", "english.i", "HELP/english.gen", "BBS.LOG"})
    EXPECT_TRUE(dir_.Exists(std::string("new/bbs/") + f)) << f;

  test::ScopedChdir cd(dir);
  bbs_ = std::make_unique<ORNBBS>(clock_, view_, timers_, engine_);
  ASSERT_TRUE(bbs_->Start());
  engine_.Pump();
  const Config& cfg = bbs_->cfg();
  EXPECT_EQ(cfg.MyCall, "XX9ORN-1");
  EXPECT_EQ(cfg.MyHier, "#ATH.GRC.EU");
  EXPECT_EQ(cfg.EnginePort, 8001);
  EXPECT_EQ(cfg.Reconnect, 30);
  EXPECT_EQ(cfg.Ports[0].bbsonly, 0);
  EXPECT_EQ(cfg.Ports[0].limitedaccess, 0);
  EXPECT_EQ(Client().BBSOK, 1u);
  EXPECT_TRUE(view_.boxes.empty()) << view_.boxes[0];
  EXPECT_EQ(Client().numberchildren, 5);  // the monitor and four channels

  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  const std::string greeting = Sent();
  EXPECT_NE(greeting.find("Welcome XX1ABC to the XX9ORN MailBox"), std::string::npos) << greeting;
  bbs_->Shutdown();
  std::string log;
  ASSERT_TRUE(ReadWholeFile(dir + "/BBS.LOG", &log));
  EXPECT_NE(log.find("BBS SERVER UP"), std::string::npos) << log;
  EXPECT_NE(log.find("<Connect> XX1ABC"), std::string::npos) << log;
}

TEST_F(BbsInitTest, RefusalsChangeNothing) {
  struct Case {
    const char* name;
    const char* existing;  // a file already in the directory
    const char *call, *hier;
    const char* reason;
  } cases[] = {
      {"a BBS's configuration", "ORN.INI", "XX9ORN", "", "already holds a BBS (ORN.INI)"},
      {"a BBS's records, any case", "users.adb", "XX9ORN", "", "already holds a BBS (USERS.ADB)"},
      {"no call", nullptr, "ALL", "", "--call ALL is no callsign"},
      {"an SSID too high", nullptr, "XX9ORN-16", "", "is no callsign"},
      {"a call with blanks", nullptr, "XX9 ORN", "", "is no callsign"},
      {"an address with a line break", nullptr, "XX9ORN", "#ATH\n[RADIO]", "--hier must be"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TestDir d;
    if (c.existing) d.Write(c.existing, "sysop's own");
    BbsInitOptions o;
    o.call = c.call;
    o.hier = c.hier;
    std::string why;
    EXPECT_FALSE(InitBbsDirectory(d.path(), o, &why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_FALSE(d.Exists("english.lng"));
    EXPECT_FALSE(d.Exists("BBS.LOG"));
    if (c.existing) EXPECT_EQ(d.Read(c.existing), "sysop's own");
    else EXPECT_FALSE(d.Exists("ORN.INI"));
  }
}

TEST_F(BbsInitTest, EngineAddresses) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
  } cases[] = {
      {"127.0.0.1:8000", true, "127.0.0.1", 8000}, {"radio.local:8001", true, "radio.local", 8001},
      {":9000", true, "127.0.0.1", 9000},          {"host", false, "", 0},
      {"host:0", false, "", 0},                    {"host:65536", false, "", 0},
      {"host:80a", false, "", 0},                  {"a b:8000", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string host;
    int port = 0;
    EXPECT_EQ(ParseEngineAddress(c.text, &host, &port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
}

TEST_F(BbsInitTest, TheWebConsoleIsOnlyThereWhenAskedFor) {
  BbsInitOptions o;
  o.call = "XX9ORN-1";
  EXPECT_EQ(InitialIni(o).find("[WEB]"), std::string::npos);
  o.web = "127.0.0.1:8088";
  const std::string ini = InitialIni(o);
  const size_t web = ini.find("[WEB]\r\n");
  ASSERT_NE(web, std::string::npos);
  EXPECT_NE(ini.find("\r\nLISTEN=127.0.0.1:8088\r\n", web), std::string::npos);
}

}  // namespace
}  // namespace orn
