#include "context/activity_log.h"

#include <gtest/gtest.h>

#include "support/test_dir.h"

namespace orn {
namespace {

using test::ScopedChdir;
using test::TestDir;

class ActivityLogTest : public ::testing::Test {
 protected:
  ActivityLogTest() : cd_(dir_.path()), log_(clock_) { clock_.SetLocal(1997, 3, 15, 14, 23, 59); }

  void Configure(const std::string& logSection, bool createFile = true) {
    dir_.Write("ORN.INI", "[LOG]\n" + logSection);
    if (createFile) dir_.Write("BBS.LOG", "");
    log_.ReadLog(IniFile(dir_ / "ORN.INI"));
  }

  TestDir dir_;
  ScopedChdir cd_;
  FakeClock clock_;
  ActivityLog log_;
};

void WriteEveryEvent(ActivityLog& log) {
  for (int what : {55, 56, 57, 58, 59, 61, 62, 63, 64, 65, 66, 667, 668, 669, 99})
    log.writelog(what, 7, "XX1ABC", "extra");
}

TEST_F(ActivityLogTest, LogOffWritesNothing) {
  Configure("LOGOK=0\nLOGCON=1\nLOGREAD=1\n");
  WriteEveryEvent(log_);
  EXPECT_EQ(dir_.Read("BBS.LOG"), "");
}

TEST_F(ActivityLogTest, OnlyStartAndEndWithAllSwitchesOff) {
  Configure("LOGOK=1\n");
  WriteEveryEvent(log_);
  EXPECT_EQ(dir_.Read("BBS.LOG"), "970315:1423->BBS SERVER UP...\n970315:1423->BBS SERVER DOWN...\n");
}

TEST_F(ActivityLogTest, EveryEventText) {
  Configure("LOGOK=1\nLOGCON=1\nLOGTALK=1\nLOGUPLOAD=1\nLOGREAD=1\nLOGKILL=1\nLOGCONSOLE=1\nLOGOTHER=1\n");
  WriteEveryEvent(log_);
  EXPECT_EQ(dir_.Read("BBS.LOG"),
            "970315:1423->BBS SERVER UP...\n"
            "970315:1423->BBS SERVER DOWN...\n"
            "970315:1423-><Connect> XX1ABC Port=7...\n"
            "970315:1423-><Disconnect> XX1ABC Port=7...\n"
            "970315:1423-><Read> Msg#7 from XX1ABC...\n"
            "970315:1423-><Kill> Msg#7 from XX1ABC...\n"
            "970315:1423-><Upload> (File=extra) from XX1ABC...\n"
            "970315:1423-><Download> (File=extra) from XX1ABC...\n"
            "970315:1423-><Chat> Request from XX1ABC Port=7...\n"
            "970315:1423-><extra> 7 from XX1ABC...\n"
            "970315:1423-><Send> Msg#7 from XX1ABC Port=extra...\n"
            "970315:1423-><FWD Send> Msg#7 to XX1ABC, extra\n"
            "970315:1423-><FWD Rcv> Msg#7 from XX1ABC, extra\n"
            "970315:1423-><FWD Fail> XX1ABC: extra\n");
}

TEST_F(ActivityLogTest, SwitchesGateTheirEvents) {
  Configure("LOGOK=1\nLOGCON=5\n");  // any non-zero value turns a switch on
  log_.writelog(57, 1, "XX1ABC", "");
  log_.writelog(59, 1001, "XX1ABC", "");
  log_.writelog(64, 1, "XX1ABC", "");
  EXPECT_EQ(dir_.Read("BBS.LOG"), "970315:1423-><Connect> XX1ABC Port=1...\n");
}

TEST_F(ActivityLogTest, LongEventsAreCutTo83Characters) {
  Configure("LOGOK=1\nLOGUPLOAD=1\n");
  log_.writelog(62, 0, "XX1ABC", std::string(200, 'f'));
  const std::string line = dir_.Read("BBS.LOG");
  EXPECT_EQ(line.size(), 13 + 83 + 1u);
  EXPECT_EQ(line.substr(13, 14), "<Upload> (File");
  EXPECT_EQ(line.back(), '\n');
}

TEST_F(ActivityLogTest, EachLineIsOnDiskAtOnceAndAppended) {
  Configure("LOGOK=1\n");
  dir_.Write("BBS.LOG", "old line\n");
  log_.writelog(55, 0, "", "");
  EXPECT_EQ(dir_.Read("BBS.LOG"), "old line\n970315:1423->BBS SERVER UP...\n");
  clock_.SetLocal(2001, 1, 2, 3, 4);
  log_.writelog(56, 0, "", "");
  EXPECT_EQ(dir_.Read("BBS.LOG"), "old line\n970315:1423->BBS SERVER UP...\n010102:0304->BBS SERVER DOWN...\n");
}

TEST_F(ActivityLogTest, MissingLogFileTurnsLoggingOff) {
  Configure("LOGOK=1\nLOGFILE=nosuch.log\n", false);
  EXPECT_EQ(log_.switches().Logok, 0);
  EXPECT_EQ(log_.switches().Logfile, "");
  log_.writelog(55, 0, "", "");
  EXPECT_FALSE(dir_.Exists("nosuch.log"));
}

TEST_F(ActivityLogTest, LogFileNameMatchedWithoutCase) {
  Configure("LOGOK=1\nLOGFILE=bbs.log\n");
  log_.writelog(55, 0, "", "");
  EXPECT_EQ(dir_.Read("BBS.LOG"), "970315:1423->BBS SERVER UP...\n");
}

}  // namespace
}  // namespace orn
