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
  };
  for (const auto& args : bad) {
    OrnpeOptions o;
    EXPECT_NE(ParseOrnpeOptions(args, &o), "") << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}

}  // namespace
}  // namespace orn
