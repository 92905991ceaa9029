#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/file_names.h"
#include "platform/text.h"
#include "store/date_time.h"
#include "store/file_operations.h"
#include "store/msg_text.h"
#include "support/store_files.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::TestDir;

TEST(DateTimeTest, TextsOfEveryProducer) {
  struct Case {
    int y, mo, d, h, mi;
    const char *date0, *date1, *time0, *time1, *msgDate;
  } cases[] = {
      {1997, 5, 7, 15, 30, "970507", "97/05/07", "1530", "15:30", "1530/970507"},
      {2000, 1, 1, 0, 5, "000101", "00/01/01", "0005", "00:05", "0005/000101"},
      {2009, 12, 31, 23, 59, "091231", "09/12/31", "2359", "23:59", "2359/091231"},
  };
  FakeClock clock;
  for (const Case& c : cases) {
    clock.SetLocal(c.y, c.mo, c.d, c.h, c.mi);
    EXPECT_EQ(GetDate(clock, 0), c.date0);
    EXPECT_EQ(GetDate(clock, 1), c.date1);
    EXPECT_EQ(GetTime(clock, 0), c.time0);
    EXPECT_EQ(GetTime(clock, 1), c.time1);
    EXPECT_EQ(FormatMsgDateTime(clock), c.msgDate);
  }
}

MsgDB Header(long no, const char* type, const char* status, long size, const char* to, const char* from,
             const char* at, const char* date, const char* subject) {
  MsgDB r{};
  r.MsgNo = static_cast<int32_t>(no);
  CopyField(r.Type, type);
  CopyField(r.Status, status);
  r.Size = static_cast<int32_t>(size);
  CopyField(r.ToStation, to);
  CopyField(r.FromStation, from);
  CopyField(r.AtBbs, at);
  CopyField(r.MsgDate, date);
  CopyField(r.MsgSubject, subject);
  return r;
}

TEST(MsgHeaderTest, ListingLineToTheColumn) {
  struct Case {
    MsgDB r;
    const char* line;
  } cases[] = {
      {Header(1234, "B", "N", 532, "ALL", "XX7ZZ.GRC.EU", "WW", "1530/970507", "HELLO"),
       "1234     BN532    ALL    XX7ZZ  WW     1530/970507    HELLO\r\n"},
      // An empty At field still takes its seven columns.
      {Header(1001, "P", "Y", 1, "XX7ZZ", "XX9ORN.GRC.EU", "", "0005/000101", "Hi"),
       "1001     PY1      XX7ZZ  XX9ORN        0005/000101    Hi\r\n"},
      // A wider field is not cut: the next column follows it directly.
      {Header(123456789, "B", "K", 1234567, "ABCDEFGHI", "XX7ZZ", "WW", "1530/970507", ""),
       "123456789BK1234567ABCDEFGHIXX7ZZ  WW     1530/970507    \r\n"},
  };
  TOrnDbase db(StoreSite{});
  for (const Case& c : cases) {
    EXPECT_EQ(FormatMsgHeader(c.r), c.line);
    std::string viaDb;
    db.FormatMsgHeader(&viaDb, c.r, 1);
    EXPECT_EQ(viaDb, c.line);
  }
}

TEST(MsgTextTest, FileNameIsTheNumberInTheMessageDirectory) {
  EXPECT_EQ(MsgFileName("/bbs/MAIL", 1234), "/bbs/MAIL/1234.amm");
  EXPECT_EQ(MsgFileName("/bbs/MAIL", 1001), "/bbs/MAIL/1001.amm");
}

TEST(MsgTextTest, WrittenWithCrLfAndReadBackAsTheSameText) {
  TestDir dir;
  const StoreSite site = test::MakeEmptyStore(dir);
  MsgDB r{};
  CopyField(r.FromStation, "XX7ZZ.GRC.EU");
  CopyField(r.ToStation, "XX9ORN");
  CopyField(r.AtBbs, "XX9ORN.GRC.EU");
  const std::string text =
      MsgTextHead("R:970507/1530z @:XX9ORN [XX9ORN ORNMBX(v)7.00]", r) + "Hello\n\nline with \xe9\n/last";
  const long size = WriteMsgText(site.mailDir, 1234, text);

  const std::string disk = dir.Read("MAIL/1234.amm");
  EXPECT_EQ(disk,
            "R:970507/1530z @:XX9ORN [XX9ORN ORNMBX(v)7.00]\r\n\r\nFrom:XX7ZZ.GRC.EU\r\nTo:XX9ORN@XX9ORN.GRC.EU\r\n"
            "\r\nHello\r\n\r\nline with \xe9\r\n/last");
  EXPECT_EQ(size, static_cast<long>(disk.size()));
  std::string back;
  ASSERT_TRUE(ReadMsgText(site.mailDir, 1234, &back));
  EXPECT_EQ(back, text);
  EXPECT_FALSE(ReadMsgText(site.mailDir, 1235, &back));
  // Nothing but the message file is left in the directory.
  EXPECT_EQ(ListDir(site.mailDir), std::vector<std::string>{"1234.amm"});
}

// Whatever a text holds, the disk form reads back as exactly that text.
TEST(MsgTextTest, DiskFormRoundTripsAnyText) {
  for (const std::string& text : {std::string(""), std::string("\n"), std::string("a\r\nb"), std::string("\r\r\n\n"),
                                 std::string("x\r"), std::string("\n\r"), std::string("a\0b\n", 4)}) {
    EXPECT_EQ(FromDiskLines(ToDiskLines(text)), text);
  }
}

TEST(MsgTextTest, RewritingReplacesTheWholeFile) {
  TestDir dir;
  const StoreSite site = test::MakeEmptyStore(dir);
  ASSERT_GT(WriteMsgText(site.mailDir, 1001, std::string(5000, 'a')), 0);
  ASSERT_EQ(WriteMsgText(site.mailDir, 1001, "short\n"), 7);
  EXPECT_EQ(dir.Read("MAIL/1001.amm"), "short\r\n");
}

TEST(MsgTextTest, UnwritableDirectoryLeavesNoFile) {
  TestDir dir;
  EXPECT_EQ(WriteMsgText(dir / "no-such-dir", 1001, "text\n"), -1);
  EXPECT_FALSE(dir.Exists("no-such-dir"));
}

TEST(MsgTextTest, WhatStopsATextFromBeingReadWholeIsSaid) {
  TestDir dir;
  const StoreSite site = test::MakeEmptyStore(dir);
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(site.mailDir.c_str(), 0755);
  const long size = WriteMsgText(site.mailDir, 1001, "line one\nline two\n");
  struct Case {
    const char* what;
    std::function<void()> make;
    long recordSize;
    const char* fault;
  } cases[] = {
      {"whole", [] {}, size, ""},
      {"longer than its record says", [] {}, size - 5, ""},
      {"cut short", [&] { dir.Write("MAIL/1001.amm", "line one\r\nli"); }, size, "cut short: 12 of 20 bytes"},
      {"empty", [&] { dir.Write("MAIL/1001.amm", ""); }, size, "cut short: 0 of 20 bytes"},
      {"missing", [&] { std::filesystem::remove(dir / "MAIL/1001.amm"); }, size, "no text file"},
      {"a directory",
       [&] {
         std::filesystem::remove(dir / "MAIL/1001.amm");
         std::filesystem::create_directory(dir / "MAIL/1001.amm");
       },
       size, "is a directory"},
      {"denied", [&] { ::chmod((dir / "MAIL/1001.amm").c_str(), 0); }, size, "permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir / "MAIL/1001.amm");
    ASSERT_EQ(WriteMsgText(site.mailDir, 1001, "line one\nline two\n"), size);
    c.make();
    EXPECT_EQ(test::AsNobody([&] { return MsgTextFault(site.mailDir, 1001, c.recordSize); }), c.fault);
  }
}

TEST(MsgTextTest, FormatTextSaveTurnsCrIntoLf) {
  char line[] = "one\rtwo\r";
  FormatTextSave(line, static_cast<long>(std::strlen(line)));
  EXPECT_STREQ(line, "one\ntwo\n");

  std::string longLine(10000, 'x');
  longLine[5] = '\r';
  FormatTextSave(longLine.data(), static_cast<long>(longLine.size()));
  EXPECT_EQ(longLine[5], '\r');

  CodePages cp;
  char oem[] = "\x82t\xe9\r";  // OEM 437: e acute, t, Greek theta
  FormatTextSave(oem, 4, &cp);
  EXPECT_EQ(std::string(oem), cp.OemToAnsi("\x82t\xe9\n"));
  EXPECT_EQ(static_cast<unsigned char>(oem[0]), 0xe9);  // e acute in 1252
}

// readln: the line reader of listings and transfers.
TEST(FileOperationsTest, CaseLookupsFollowChangesByTheBbsAndByOthers) {
  TestDir dir;
  auto found = [&](const std::string& asked) {
    const std::string real = ResolveCase(dir / asked);
    return real.substr(real.find_last_of('/') + 1);
  };
  EXPECT_EQ(found("NOTE.TXT"), "NOTE.TXT");  // nothing there: the spelling asked for
  // Added by the BBS, in capitals and in lower case.
  ASSERT_TRUE(WriteFileReplacing(dir / "Note.Txt", "a"));
  ASSERT_TRUE(WriteFileReplacing(dir / "1001.amm", "b"));
  EXPECT_EQ(found("NOTE.TXT"), "Note.Txt");
  EXPECT_EQ(found("1001.AMM"), "1001.amm");
  // Added and removed behind the BBS's back, at once and after a while.
  for (int wait : {0, 120}) {
    SCOPED_TRACE(wait);
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    EXPECT_EQ(found("README"), "README");
    dir.Write("ReadMe", "c");
    EXPECT_EQ(found("README"), "ReadMe");
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    ASSERT_EQ(::unlink((dir / "ReadMe").c_str()), 0);
    EXPECT_EQ(found("README"), "README");
  }
  // Removed by the BBS.
  EXPECT_TRUE(RemoveFile(dir / "NOTE.txt"));
  EXPECT_EQ(found("NOTE.TXT"), "NOTE.TXT");
  EXPECT_FALSE(RemoveFile(dir / "NOTE.txt"));
  EXPECT_TRUE(FileExists(dir / "1001.AMM"));
}

TEST(FileOperationsTest, ReadlnGivesTheLinesAsWritten) {
  TestDir dir;
  const std::string longLine(100, 'L');
  dir.Write("t.amm", "first\r\nsecond\nthird\r\r\n" + longLine + "\r\nlast");
  FILE* f = std::fopen((dir / "t.amm").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char line[kReadlnMax + 1];
  std::vector<std::string> lines;
  while (TFileOperations::readln(f, line)) lines.push_back(line);
  TFileOperations::closefile(f);
  EXPECT_EQ(f, nullptr);
  const std::vector<std::string> want = {"first\r", "second\r", "third\r", "\r", std::string(85, 'L'),
                                         std::string(15, 'L') + "\r", "last"};
  EXPECT_EQ(lines, want);
  EXPECT_FALSE(TFileOperations::readln(nullptr, line));
}

TEST(FileOperationsTest, PiecewiseReadingWritingAndCopying) {
  TestDir dir;
  dir.Write("a.bin", "0123456789");
  FILE* f = std::fopen((dir / "a.bin").c_str(), "rb");
  char buf[8] = {};
  EXPECT_TRUE(TFileOperations::readfromfile(3, 4, f, buf));
  EXPECT_EQ(std::string(buf, 4), "2345");
  EXPECT_FALSE(TFileOperations::readfromfile(8, 4, f, buf));  // only 3 bytes left
  EXPECT_FALSE(TFileOperations::readfromfile(0, 1, f, buf));
  EXPECT_FALSE(TFileOperations::readfromfile(1, 1, nullptr, buf));
  TFileOperations::closefile(f);

  FILE* out = std::fopen((dir / "b.bin").c_str(), "wb");
  EXPECT_TRUE(TFileOperations::writetofile(99, 3, out, "abc"));
  EXPECT_FALSE(TFileOperations::writetofile(1, 3, nullptr, "abc"));
  TFileOperations::closefile(out);
  EXPECT_EQ(dir.Read("b.bin"), "abc");

  EXPECT_TRUE(TFileOperations::fileexist(dir / "A.BIN"));  // any case
  EXPECT_TRUE(TFileOperations::filecopy(dir / "a.bin", dir / "b.bin"));
  EXPECT_EQ(dir.Read("b.bin"), "0123456789");
  EXPECT_FALSE(TFileOperations::filecopy(dir / "none", dir / "b.bin"));
  EXPECT_EQ(dir.Read("b.bin"), "0123456789");
  TFileOperations::filedelete(dir / "B.BIN");
  EXPECT_FALSE(dir.Exists("b.bin"));
  TFileOperations::filedelete(dir / "b.bin");  // gone already: nothing happens
}

}  // namespace
}  // namespace orn
