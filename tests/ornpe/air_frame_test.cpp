#include "ornpe/air_frame.h"

#include <gtest/gtest.h>

#include "ornpe/air_call.h"

namespace orn {
namespace {

using namespace std::string_literals;

TEST(AirCallTest, WhatAnAddressFieldCanHold) {
  for (const char* good : {"A", "XX9ORN", "XX9ORN-1", "XX9ORN-15", "XX9ORN-0", "123456-9", "CQ"}) {
    EXPECT_TRUE(IsAirCall(good)) << good;
  }
  for (const char* bad : {"", "xx9orn", "XX9ORNX", "XX9ORN-", "XX9ORN-16", "XX9ORN-01", "XX9ORN-1-2",
                          "-1", "XX 9", "XX9ORN-A", "XX9ORN-100"}) {
    EXPECT_FALSE(IsAirCall(bad)) << bad;
  }
  EXPECT_EQ(AirForm("XX1AAA-0"), "XX1AAA");
  EXPECT_EQ(AirForm("XX1AAA-10"), "XX1AAA-10");
  EXPECT_EQ(AirForm("XX1AAA"), "XX1AAA");
}

AirFrame Frame(AirType type, AirRole role, bool pf) {
  AirFrame f;
  f.port = 0;
  f.type = type;
  f.role = role;
  f.src = "XX1AAA";
  f.dst = "XX2BBB";
  f.pf = pf;
  return f;
}

TEST(AirFrameTest, MonitorLinesOfEachFrameKind) {
  AirFrame info = Frame(AirType::I, AirRole::Command, false);
  info.ns = 3;
  info.nr = 5;
  info.info = "mon\r";
  AirFrame binary = info;
  binary.info = "\x82\x80\0\x01"s;
  AirFrame ui = Frame(AirType::UI, AirRole::Unmarked, false);
  ui.dst = "ID";
  ui.via = {"RELAY", "WIDE2-2"};
  ui.info = "via test";
  ui.port = 2;
  AirFrame rr = Frame(AirType::RR, AirRole::Response, false);
  rr.nr = 1;
  AirFrame poll = Frame(AirType::RR, AirRole::Command, true);
  poll.nr = 7;
  AirFrame empty = Frame(AirType::I, AirRole::Command, false);
  empty.pid = 0xCF;
  struct Case {
    AirFrame frame;
    char kind;
    std::string text;
  };
  const Case cases[] = {
      {info, 'I', " 1:Fm XX1AAA To XX2BBB <I S3 R5 pid=0xF0 Len=4 P=0 >[01:05:26]\rmon\r\r"},
      {binary, 'I', " 1:Fm XX1AAA To XX2BBB <I S3 R5 pid=0xF0 Len=4 P=0 >[01:05:26]\r\x82\x80\r"},
      {empty, 'I', " 1:Fm XX1AAA To XX2BBB <I S0 R0 pid=0xCF Len=0 P=0 >[01:05:26]\r"},
      {ui, 'U', " 3:Fm XX1AAA To ID Via RELAY,WIDE2-2 <UI pid=F0 Len=8 PF=0 >[01:05:26]\rvia test\r"},
      {rr, 'S', " 1:Fm XX1AAA To XX2BBB <RR R1 F=0 >[01:05:26]\r"},
      {poll, 'S', " 1:Fm XX1AAA To XX2BBB <RR R7 P=1 >[01:05:26]\r"},
      {Frame(AirType::SABM, AirRole::Command, true), 'S', " 1:Fm XX1AAA To XX2BBB <SABM P=1 >[01:05:26]\r"},
      {Frame(AirType::UA, AirRole::Response, true), 'S', " 1:Fm XX1AAA To XX2BBB <UA F=1 >[01:05:26]\r"},
      {Frame(AirType::DISC, AirRole::Command, true), 'S', " 1:Fm XX1AAA To XX2BBB <DISC P=1 >[01:05:26]\r"},
      {Frame(AirType::DM, AirRole::Response, false), 'S', " 1:Fm XX1AAA To XX2BBB <DM F=0 >[01:05:26]\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MonitorKind(c.frame), c.kind);
    EXPECT_EQ(MonitorText(c.frame, "01:05:26"), c.text);
  }
}

}  // namespace
}  // namespace orn
