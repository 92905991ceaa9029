#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include "support/test_dir.h"

namespace orn {
namespace {

using test::TestDir;

const char* kSample =
    "; sysop's notes stay where they are\r\n"
    "[Personal]\r\n"
    "MyCall = XX9ORN-1\r\n"
    "FWDHEADER=R:$D/$Tz @:$V [XX9ORN ORNMBX(v)7.00]\r\n"
    "\r\n"
    "[RADIO]\r\n"
    "PORTS=2\r\n"
    "PACLEN=12abc\r\n"
    "NEG=-5\r\n"
    "EMPTY=\r\n";

TEST(IniFile, ReadsLikeTheProfileCalls) {
  TestDir dir;
  dir.Write("ORN.INI", kSample);
  IniFile ini(dir / "orn.ini");  // the file name itself matched without case

  struct Case {
    const char* section;
    const char* key;
    const char* want;
  } strings[] = {
      {"PERSONAL", "MYCALL", "XX9ORN-1"},
      {"personal", "mycall", "XX9ORN-1"},
      {"PERSONAL", "FWDHEADER", "R:$D/$Tz @:$V [XX9ORN ORNMBX(v)7.00]"},
      {"PERSONAL", "MYNAME", "dflt"},
      {"NOSUCH", "MYCALL", "dflt"},
      {"RADIO", "EMPTY", ""},
  };
  for (const auto& c : strings)
    EXPECT_EQ(ini.GetString(c.section, c.key, "dflt"), c.want) << c.section << "/" << c.key;

  struct IntCase {
    const char* key;
    long want;
  } ints[] = {{"PORTS", 2}, {"PACLEN", 12}, {"NEG", 0}, {"EMPTY", 7}, {"MISSING", 7}};
  for (const auto& c : ints) EXPECT_EQ(ini.GetInt("RADIO", c.key, 7), c.want) << c.key;

  EXPECT_EQ(ini.GetString("PERSONAL", "MYCALL", "", 5), "XX9O");
  EXPECT_EQ(IniFile(dir / "missing.ini").GetString("A", "B", "def"), "def");
}

TEST(IniFile, WriteChangesOneKeyAndKeepsTheRest) {
  TestDir dir;
  dir.Write("ORN.INI", kSample);
  IniFile ini(dir / "ORN.INI");

  ASSERT_TRUE(ini.WriteString("personal", "MYCALL", "XX1ABC"));
  ASSERT_TRUE(ini.WriteString("RADIO", "NEWKEY", "a $ / @ [ b"));
  ASSERT_TRUE(ini.WriteString("PATH", "BBSPATH", "/srv/bbs"));

  EXPECT_EQ(dir.Read("ORN.INI"),
            "; sysop's notes stay where they are\r\n"
            "[Personal]\r\n"
            "MYCALL=XX1ABC\r\n"
            "FWDHEADER=R:$D/$Tz @:$V [XX9ORN ORNMBX(v)7.00]\r\n"
            "\r\n"
            "[RADIO]\r\n"
            "PORTS=2\r\n"
            "PACLEN=12abc\r\n"
            "NEG=-5\r\n"
            "EMPTY=\r\n"
            "NEWKEY=a $ / @ [ b\r\n"
            "\r\n"
            "[PATH]\r\n"
            "BBSPATH=/srv/bbs\r\n");
  EXPECT_EQ(ini.GetString("RADIO", "NEWKEY", ""), "a $ / @ [ b");
}

TEST(IniFile, WriteCreatesFileAndSection) {
  TestDir dir;
  IniFile ini(dir / "ORN.INI");
  ASSERT_TRUE(ini.WriteInt("RADIO", "PORTS", 3));
  ASSERT_TRUE(ini.WriteInt("PORT0", "PACLEN", 128));
  ASSERT_TRUE(ini.WriteInt("RADIO", "ENGINEPORT", 8000));
  EXPECT_EQ(dir.Read("ORN.INI"), "[RADIO]\nPORTS=3\nENGINEPORT=8000\n\n[PORT0]\nPACLEN=128\n");
}

TEST(IniFile, WriteToUnwritablePlaceFails) {
  IniFile ini("/nonexistent-dir/ORN.INI");
  EXPECT_FALSE(ini.WriteString("A", "B", "C"));
}

}  // namespace
}  // namespace orn
