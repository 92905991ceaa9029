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
  EXPECT_FALSE(o.help);
}

TEST(OrnpeOptionsTest, EveryOption) {
  OrnpeOptions o;
  EXPECT_EQ(ParseOrnpeOptions({"--listen", "127.0.0.2:0", "--gateway", "[::1]:6301", "--ports", "3", "--retry-ms",
                               "250", "--bbs", "xx9orn-1", "--log", "/tmp/x.log", "--help"},
                              &o),
            "");
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
  };
  for (const auto& args : bad) {
    OrnpeOptions o;
    EXPECT_NE(ParseOrnpeOptions(args, &o), "") << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}

}  // namespace
}  // namespace orn
