#include "ornpe/ornpe_options.h"

#include <gtest/gtest.h>

namespace orn {
namespace {

TEST(OrnpeOptionsTest, DefaultsServeLoopback) {
  OrnpeOptions o;
  EXPECT_EQ(ParseOrnpeOptions({}, &o), "");
  EXPECT_EQ(o.apiHost, "127.0.0.1");
  EXPECT_EQ(o.apiPort, 8000);
  EXPECT_EQ(o.gatewayHost, "127.0.0.1");
  EXPECT_EQ(o.gatewayPort, 6300);
  EXPECT_EQ(o.ports, 1);
  EXPECT_EQ(o.bbs, "");
  EXPECT_FALSE(o.bbsGateway);
  EXPECT_TRUE(o.dials.empty());
  EXPECT_FALSE(o.help);
}

TEST(OrnpeOptionsTest, EveryOption) {
  OrnpeOptions o;
  EXPECT_EQ(ParseOrnpeOptions({"--listen", "127.0.0.2:0", "--gateway", "[::1]:6301", "--ports", "3", "--retry-ms",
                               "250", "--bbs", "xx9orn-1", "--log", "/tmp/x.log", "--help", "--bbs-gateway",
                               "127.0.0.1:6310", "--dial", "xx5fbb-0=127.0.0.1:6300", "--dial",
                               "XX6BBS-2=[::1]:23,raw"},
                              &o),
            "");
  EXPECT_TRUE(o.bbsGateway);
  EXPECT_EQ(o.bbsGatewayHost, "127.0.0.1");
  EXPECT_EQ(o.bbsGatewayPort, 6310);
  ASSERT_EQ(o.dials.size(), 2u);
  EXPECT_EQ(o.dials[0].call, "XX5FBB");
  EXPECT_EQ(o.dials[0].host, "127.0.0.1");
  EXPECT_EQ(o.dials[0].port, 6300);
  EXPECT_FALSE(o.dials[0].raw);
  EXPECT_EQ(o.dials[1].call, "XX6BBS-2");
  EXPECT_EQ(o.dials[1].host, "::1");
  EXPECT_EQ(o.dials[1].port, 23);
  EXPECT_TRUE(o.dials[1].raw);
  EXPECT_EQ(o.apiHost, "127.0.0.2");
  EXPECT_EQ(o.apiPort, 0);
  EXPECT_EQ(o.gatewayHost, "::1");
  EXPECT_EQ(o.gatewayPort, 6301);
  EXPECT_EQ(o.ports, 3);
  EXPECT_EQ(o.retryMs, 250);
  EXPECT_EQ(o.bbs, "XX9ORN-1");
  EXPECT_EQ(o.logFile, "/tmp/x.log");
  EXPECT_TRUE(o.help);
}

TEST(OrnpeOptionsTest, BadValuesAreRefused) {
  const std::vector<std::vector<std::string>> bad = {
      {"--listen", "8000"},        {"--listen", ":8000"},        {"--listen", "host:70000"},
      {"--listen", "::1:8000"},    {"--gateway", "h:"},          {"--ports", "0"},
      {"--ports", "17"},           {"--ports", "x"},             {"--retry-ms", "0"},
      {"--retry-ms", "-5"},        {"--bbs", "not a call"},      {"--bbs", "XX9ORN-16"},
      {"--log", ""},               {"--ports"},                  {"--frobnicate"},
      {"--bbs-gateway", "6310"},   {"--bbs-gateway"},            {"--dial", "XX5FBB"},
      {"--dial", "=h:23"},         {"--dial", "bad call=h:23"},  {"--dial", "XX5FBB=h"},
      {"--dial", "XX5FBB=h:0"},    {"--dial", "XX5FBB=h:23,"},   {"--dial", "XX5FBB=h:23,telnet"},
      {"--dial", "XX5FBB=h:23", "--dial", "xx5fbb=h:24"},
      {"--engine", "h"},           {"--engine", "h:0"},          {"--config", "/nonexistent/ornpe.ini"},
      {"--config", "/"},
  };
  for (const auto& args : bad) {
    OrnpeOptions o;
    EXPECT_NE(ParseOrnpeOptions(args, &o), "") << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}

TEST(OrnpeOptionsTest, BbsGatewayMayBeRaw) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--bbs-gateway", "127.0.0.1:6310,raw"}, {"--bbs-gateway", "[::1]:6310,raw"}}) {
    OrnpeOptions o;
    ASSERT_EQ(ParseOrnpeOptions(args, &o), "") << args[1];
    EXPECT_TRUE(o.bbsGatewayRaw);
    EXPECT_EQ(o.bbsGatewayPort, 6310);
  }
  std::vector<std::string> args;
  ASSERT_EQ(ConfigArgs("[bbs-gateway]\nraw = yes\nlisten = 0.0.0.0:6310\n", &args), "");
  OrnpeOptions o;
  ASSERT_EQ(ParseOrnpeOptions(args, &o), "");
  EXPECT_TRUE(o.bbsGatewayRaw);
  EXPECT_EQ(o.bbsGatewayHost, "0.0.0.0");
  OrnpeOptions bad;
  EXPECT_NE(ParseOrnpeOptions({"--bbs-gateway", "h:6310,telnet"}, &bad), "");
}

TEST(OrnpeOptionsTest, EnginesKeepTheirOrder) {
  OrnpeOptions o;
  EXPECT_EQ(ParseOrnpeOptions({"--engine", "127.0.0.1:8001", "--ports", "2", "--engine", "[::1]:8010"}, &o), "");
  ASSERT_EQ(o.engines.size(), 2u);
  EXPECT_EQ(o.engines[0].host, "127.0.0.1");
  EXPECT_EQ(o.engines[0].port, 8001);
  EXPECT_EQ(o.engines[1].host, "::1");
  EXPECT_EQ(o.engines[1].port, 8010);
}

TEST(OrnpeOptionsTest, ConfigFileStandsForTheFlags) {
  const std::string ini =
      "; ornpe for the service\r\n"
      "[ornpe]\r\n"
      "listen = 127.0.0.1:8100   ; the BBS's ENGINEPORT\r\n"
      "# a comment of another kind\n"
      "ports=2\n"
      "Retry-MS=800\n"
      "log=/var/log/ornpe.log\n"
      "[engine direwolf]        ; first, so its ports come first\n"
      "address=127.0.0.1:8001\n"
      "[gateway]\n"
      "listen=0.0.0.0:6300\n"
      "bbs=xx9orn-1\n"
      "[bbs-gateway]\n"
      "listen=0.0.0.0:6310\n"
      "[dial XX5FBB]\n"
      "raw=yes\n"
      "address=fbb.example.net:6300\n"
      "[engine soundmodem]\n"
      "address=127.0.0.1:8002\n";
  std::vector<std::string> args;
  ASSERT_EQ(ConfigArgs(ini, &args), "");
  OrnpeOptions o;
  ASSERT_EQ(ParseOrnpeOptions(args, &o), "");
  EXPECT_EQ(o.apiPort, 8100);
  EXPECT_EQ(o.ports, 2);
  EXPECT_EQ(o.retryMs, 800);
  EXPECT_EQ(o.logFile, "/var/log/ornpe.log");
  EXPECT_EQ(o.gatewayHost, "0.0.0.0");
  EXPECT_EQ(o.bbs, "XX9ORN-1");
  EXPECT_EQ(o.bbsGatewayPort, 6310);
  ASSERT_EQ(o.dials.size(), 1u);
  EXPECT_EQ(o.dials[0].call, "XX5FBB");
  EXPECT_EQ(o.dials[0].host, "fbb.example.net");
  EXPECT_TRUE(o.dials[0].raw);
  ASSERT_EQ(o.engines.size(), 2u);
  EXPECT_EQ(o.engines[0].port, 8001);
  EXPECT_EQ(o.engines[1].port, 8002);

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"[radio]\n", "line 1: unknown section [radio]"},
      {"[ornpe]\nspeed=9600\n", "line 2: unknown key speed in [ornpe]"},
      {"listen=1:2\n", "line 1: unknown key listen"},
      {"[ornpe\n", "line 1: a section wants [NAME], not [ornpe"},
      {"[ornpe]\nlisten\n", "line 2: wants KEY=VALUE, not listen"},
      {"[dial XX5FBB]\nraw=1\n[ornpe]\n", "line 1: [dial XX5FBB] has no address"},
      {"[dial]\n", "line 1: [dial CALL] wants the callsign"},
      {"[ornpe]\nports=2\n[engine direwolf]\n", "line 3: [engine direwolf] has no address"},
      {"[engine a]\n; nothing\n[engine b]\naddress=1:2\n", "line 1: [engine a] has no address"},
      {"[ornpe]\nports=2\n[gateway]\n[ornpe]\n", "line 4: [ornpe] again (first at line 1)"},
      {"[dial XX5FBB]\naddress=a:1\n[Dial  xx5fbb]\n", "line 3: [Dial  xx5fbb] again (first at line 1)"},
      {"[engine a]\naddress=1:2\naddress=1:3\n", "line 3: address again (first at line 2)"},
      {"[dial XX5FBB]\naddress=a:1\nraw = maybe\n", "line 3: raw wants yes or no, not maybe"},
  };
  for (const auto& [text, why] : bad) {
    std::vector<std::string> ignored;
    EXPECT_EQ(ConfigArgs(text, &ignored), why) << text;
  }
}

}  // namespace
}  // namespace orn
