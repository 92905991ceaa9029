#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>

#include "app/service_timers.h"
#include "bbs/file_area.h"
#include "context/prompts.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "support/bbs_session.h"
#include "yapp/yapp_xfer.h"

namespace orn {
namespace {

using test::BbsSession;
using test::Marked;

class FileAreaTest : public BbsSession {
 protected:
  void LogIn(const std::function<void(UserDB&)>& edit = [](UserDB&) {}) {
    AddUser("XX1ABC", [&](UserDB& u) {
      CopyField(u.Type, "R");
      edit(u);
    });
    dir_.Write("BBS.LOG", "");
    StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\nBBSONLY=0\nLIMITED=0\nTIMEOUT=0\n[LOG]\nLOGOK=1\nLOGOTHER=1\n");
    ASSERT_EQ(Connects(0, "XX1ABC"), 1);
    Sent();
  }
  std::string Says(const std::string& line) {
    Type("XX1ABC", line);
    return Sent();
  }
  std::string Area(const std::string& name = "") { return dir_ / ("FILES/" + name); }
};

TEST(FileAreaPathTest, StationPathsStayInTheirArea) {
  test::TestDir dir;
  const struct {
    const char* typed;
    bool ok;
  } cases[] = {{"NOTE.TXT", true},      {"SUB\\NOTE.TXT", true}, {"SUB/NOTE.TXT", true}, {"LONGNAME.TEXT", false},
               {"../ORN.INI", false},   {"/etc/passwd", false},  {"SUB/../../X", false}, {"", false},
               {"SUB\\", false},        {"12345678.123", true}};
  for (const auto& c : cases) EXPECT_EQ(!FileAreaPath(dir.path(), c.typed).empty(), c.ok) << c.typed;
}

TEST_F(FileAreaTest, LinksInsideTheAreaDoNotLeadOut) {
  LogIn();
  test::TestDir outside;
  outside.Write("SECRET.TXT", "not for stations");
  ASSERT_EQ(::symlink(outside.path().c_str(), Area("OUT").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "SECRET.TXT").c_str(), Area("LINK.TXT").c_str()), 0);
  ASSERT_EQ(::symlink("SUB", Area("INSIDE").c_str()), 0);  // a link that stays is fine
  CreateDirIfDontExist(Area(), "SUB");
  dir_.Write("FILES/SUB/OK.TXT", "fine");
  EXPECT_EQ(Says("D LINK.TXT"), Marked("invalidparameters") + kFullPrompt);
  EXPECT_EQ(Says("D OUT\\SECRET.TXT"), Marked("invalidparameters") + kFullPrompt);
  EXPECT_EQ(Says("U OUT\\EVIL.TXT"), Marked("invalidparameters") + kFullPrompt);
  EXPECT_FALSE(FileExists(outside / "EVIL.TXT"));
  EXPECT_EQ(Says("D INSIDE\\OK.TXT"), "fine\r" + std::string(kFullPrompt));
  // Nor are they listed, or listed through.
  const std::string listing = Says("W");
  EXPECT_EQ(listing.find("OUT"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("LINK.TXT"), std::string::npos) << listing;
  EXPECT_NE(listing.find("INSIDE"), std::string::npos) << listing;
  EXPECT_NE(listing.find("SUB"), std::string::npos) << listing;
  EXPECT_EQ(Says("W OUT"), Marked("nofilesfound") + "\r" + kFullPrompt);
  EXPECT_NE(Says("W INSIDE").find("OK.TXT"), std::string::npos);
}

TEST_F(FileAreaTest, UploadStoresTheTextAndRefusesWhatExists) {
  LogIn();
  EXPECT_EQ(Says("U LONGNAME.TEXT"), Marked("invalidparameters") + kFullPrompt);
  EXPECT_EQ(Says("U ..\\ORN.INI"), Marked("invalidparameters") + kFullPrompt);
  EXPECT_EQ(Says("U"), Marked("notenoughparameters") + kFullPrompt);
  EXPECT_EQ(Says("U note.txt"), Marked("sendfile"));
  engine_.Data(0, "XX1ABC", "hello\r");
  EXPECT_FALSE(FileExists(Area("NOTE.TXT")));  // nothing under the real name yet
  engine_.Data(0, "XX1ABC", "73 de XX9ORN /EX\r");
  EXPECT_EQ(Sent(), Marked("filestored") + kFullPrompt);
  EXPECT_EQ(dir_.Read("FILES/NOTE.TXT"), "hello\r\n73 de XX9ORN\r\n");
  EXPECT_EQ(Says("U NOTE.TXT"), Marked("thereisfile") + kFullPrompt);
  // Into a subdirectory that exists.
  CreateDirIfDontExist(Area(), "SUB");
  EXPECT_EQ(Says("U SUB\\B.TXT"), Marked("sendfile"));
  engine_.Data(0, "XX1ABC", "x\x1A\r");
  EXPECT_EQ(Sent(), Marked("filestored") + kFullPrompt);
  EXPECT_EQ(dir_.Read("FILES/SUB/B.TXT"), "x");
}

TEST_F(FileAreaTest, AStationLeavingDuringAnUploadLeavesNoFile) {
  LogIn();
  EXPECT_EQ(Says("U HALF.TXT"), Marked("sendfile"));
  engine_.Data(0, "XX1ABC", "half a text\r");
  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  EXPECT_TRUE(ListDir(Area()).empty());
}

TEST_F(FileAreaTest, DownloadGoesInPacedChunks) {
  LogIn();
  std::string file;
  for (int i = 0; i < 5000; ++i) file += static_cast<char>('a' + i % 26);
  dir_.Write("FILES/BIG.TXT", file);
  EXPECT_EQ(Says("D NOPE.TXT"), Marked("notfound") + kFullPrompt);
  EXPECT_EQ(Says("D big.txt"), file.substr(0, 2048));  // the first chunk at once
  // Each further chunk once the engine's queue is below the window (4).
  Ch(1).framequeue = 4;
  timers_.Fire(bbs_->serviceTimers()->servicetimer_id);
  EXPECT_EQ(Sent(), "");
  EXPECT_EQ(TickWithRoom(), file.substr(2048, 2048));
  EXPECT_EQ(TickWithRoom(), file.substr(4096) + "\r" + kFullPrompt);
  EXPECT_EQ(Ch(1).Service, 0);
}

TEST_F(FileAreaTest, TheDownloadLimitCutsTheStationOff) {
  LogIn([](UserDB& u) { u.MaxDownload = 2; });
  dir_.Write("FILES/BIG.TXT", std::string(5000, 'x'));
  Says("D BIG.TXT");
  clock_.Advance(2);
  TickWithRoom();
  EXPECT_TRUE(Disconnects().empty());
  clock_.Advance(2);
  TickWithRoom();
  EXPECT_EQ(Disconnects(), std::vector<std::string>{"0:XX1ABC"});
}

TEST_F(FileAreaTest, ADuringADownloadAborts) {
  LogIn();
  dir_.Write("FILES/BIG.TXT", std::string(5000, 'x'));
  Says("D BIG.TXT");
  // The chunk that was due still goes, then the transfer ends.
  const std::string sent = Says("A");
  const std::string end = Marked("aborted") + kFullPrompt;
  EXPECT_EQ(sent.substr(sent.size() - end.size()), end);
  TickWithRoom();
  EXPECT_EQ(Sent(), "");
  EXPECT_EQ(Ch(1).Service, 0);
}

TEST_F(FileAreaTest, ListingTheArea) {
  LogIn();
  EXPECT_EQ(Says("W"), Marked("filesavailable") + "\r" + Marked("nofilesfound") + "\r" + kFullPrompt);
  dir_.Write("FILES/README.TXT", std::string(1234, 'r'));
  CreateDirIfDontExist(Area(), "OLD");
  EXPECT_EQ(Says("W"), Marked("filesavailable") + "\rOLD..............Dir README.TXT......1234 \r" + kFullPrompt);
  EXPECT_EQ(Says("W ..\\"), Marked("nofilesfound") + "\r" + kFullPrompt);
}

TEST_F(FileAreaTest, OnlyWhatWasUploadedInThisSessionIsErased) {
  LogIn();
  dir_.Write("FILES/OTHER.TXT", "x");
  EXPECT_EQ(Says("Z OTHER.TXT"), Marked("notauthorized") + kFullPrompt);
  EXPECT_EQ(Says("Z MISSING.TXT"), std::string("\r") + kFullPrompt);
  Says("U MINE.TXT");
  Says("text /EX");
  EXPECT_EQ(Says("Z MINE.TXT"), Marked("hasbeenerased") + kFullPrompt);
  EXPECT_FALSE(FileExists(Area("MINE.TXT")));
  // The log names the file, as it does for YZ.
  EXPECT_NE(dir_.Read("BBS.LOG").find("<Erase> 0 from XX1ABC...\nFile=FILES\\MINE.TXT...\n"), std::string::npos)
      << dir_.Read("BBS.LOG");
  EXPECT_TRUE(FileExists(Area("OTHER.TXT")));
  // A name that only contains an uploaded one is another file.
  Says("U AREADME.TXT");
  Says("x /EX");
  dir_.Write("FILES/README.TXT", "the sysop's");
  EXPECT_EQ(Says("Z README.TXT"), Marked("notauthorized") + kFullPrompt);
  EXPECT_EQ(Says("Z readme"), std::string("\r") + kFullPrompt);
  EXPECT_TRUE(FileExists(Area("README.TXT")));
  EXPECT_EQ(Says("Z areadme.txt"), Marked("hasbeenerased") + kFullPrompt);
}

TEST_F(FileAreaTest, YappPacketsLeaveAtOnceInFramesOfTheirOwn) {
  LogIn();
  dir_.Write("BIN/F.BIN", "abc");
  Type("XX1ABC", "YD F.BIN");
  engine_.Take("D");
  // The first step of the transfer: its send-init leaves with the step, not
  // seconds later with whatever follows, and alone.
  clock_.Advance(1);
  Ch(1).framequeue = 0;
  timers_.Fire(bbs_->serviceTimers()->servicetimer_id);
  const std::vector<ApiFrame> frames = engine_.Take("D");
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back().data, std::string("\x05\x01", 2));
}

TEST_F(FileAreaTest, AYappDownloadGoesAsTheLinkTakesIt) {
  LogIn();
  std::string file;
  for (int i = 0; i < 1000; ++i) file += static_cast<char>(i * 7);
  dir_.Write("BIN/F.BIN", file);
  std::string sent;
  auto out = [&] {
    for (const ApiFrame& f : engine_.Take("D")) sent += f.data;
    return sent;
  };
  auto station = [&](const std::string& bytes) { engine_.Data(0, "XX1ABC", bytes); };
  // The engine answers the BBS's questions about the link's queue, as many
  // as it is asked, with `queued` frames waiting.
  auto engineAnswers = [&](int queued) {
    for (int i = 0; i < 20 && !engine_.Take("Y").empty(); ++i) QueueReport("XX1ABC", queued);
  };
  auto has = [&](const char* packet) { return out().find(std::string(packet, 2)) != std::string::npos; };
  // No second passes: every packet goes when the station's answer comes or
  // the engine reports room on the link.
  Type("XX1ABC", "YD F.BIN");
  engineAnswers(0);
  EXPECT_TRUE(has("\x05\x01"));  // send-init
  station(std::string("\x06\x01", 2));
  engineAnswers(0);
  EXPECT_NE(out().find("F.BIN"), std::string::npos);  // the header
  station(std::string("\x06\x02", 2));
  // A full window holds the next packet back; the tick asks again.
  engineAnswers(4);
  const size_t before = out().size();
  engineAnswers(4);
  EXPECT_EQ(out().size(), before);
  timers_.Fire(bbs_->serviceTimers()->servicetimer_id);
  engineAnswers(0);
  EXPECT_TRUE(has("\x03\x01"));  // end of file
  std::string expected;
  for (size_t at = 0; at < file.size(); at += 256) {
    const std::string block = file.substr(at, 256);
    expected += std::string(1, '\x02') + static_cast<char>(block.size() & 0xFF) + block;
  }
  expected += std::string("\x03\x01", 2);
  const std::string all = out();
  ASSERT_GE(all.size(), expected.size());
  EXPECT_EQ(all.substr(all.size() - expected.size()), expected);
}

TEST_F(FileAreaTest, TwoStationsUploadingOneNameDoNotMix) {
  for (const char* call : {"XX1ABC", "XX2DEF"}) AddUser(call, [](UserDB& u) { CopyField(u.Type, "R"); });
  StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\nTIMEOUT=0\n");
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  ASSERT_EQ(Connects(0, "XX2DEF"), 2);
  Sent();
  Type("XX1ABC", "U SAME.TXT");
  Type("XX2DEF", "U SAME.TXT");
  Type("XX1ABC", "first one");
  Type("XX2DEF", "second one");
  Type("XX2DEF", "/EX");
  Type("XX1ABC", "/EX");
  const std::string sent = Sent();
  EXPECT_NE(sent.find(Marked("filestored")), std::string::npos) << sent;
  EXPECT_NE(sent.find(Marked("thereisfile")), std::string::npos) << sent;
  // The first to finish keeps the name; nothing of the other is left.
  EXPECT_EQ(dir_.Read("FILES/SAME.TXT"), "second one\r\n");
  EXPECT_EQ(ListDir(Area()), std::vector<std::string>{"SAME.TXT"});
}

}  // namespace
}  // namespace orn
