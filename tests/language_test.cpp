#include "context/language.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/code_pages.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::TestDir;

// The texts in the order a language file holds them, written down here on
// their own so that a slip in the loader's table shows.
const char* const kFileOrderNames[kLanguageTexts] = {
    "newuser", "regularuser", "xpertuser", "bye", "sysoppage", "sysopnotavailable", "sysopanswer",
    "sysopnotanswer", "timeout", "notfound", "nousage", "notenoughparameters", "invalidcommand",
    "invalidparameters", "thereisfile", "filenotfound", "nofilesfound", "subject", "ihavethisbid",
    "notallowedbids", "aborted", "direxists", "sendfile", "filestored", "notauthorized", "notauthortokill",
    "msgserased", "notauthortoread", "cannotusechannel", "cannottalktoyourself", "usemhomebbs",
    "invalidbbscall", "youhavebeenregistered", "changetoexpert", "changetonormal", "youhavemail",
    "hasbeenerased", "backinbbs", "nohelpfor", "noinfos", "psetypen", "ifnobbsfield", "pseusem",
    "invalidbidlength", "entertext", "finishwith", "rcvfileyapp", "sendfileyapp", "filesavailable",
    "hasbeenstored", "msgheld", "notenteredname", "notenteredzip", "notenteredhome", "availablelanguages",
    "languagechange", "pagemsg", "msgheader"};

// A language file whose block n is "Bn a", "Bn b" and whose line n is "Ln".
std::string NumberedFile(const std::string& eol) {
  std::string f;
  for (int i = 1; i <= 8; ++i) {
    const std::string n = std::to_string(i);
    f += 'B';
    f += n;
    f += " a" + eol;
    f += 'B';
    f += n;
    f += " b" + eol;
    f += "-" + eol;
  }
  for (int i = 9; i <= kLanguageTexts; ++i) {
    f += 'L';
    f += std::to_string(i);
    f += eol;
  }
  return f;
}

// n empty blocks.
std::string Dashes(int n) {
  std::string f;
  for (int i = 0; i < n; ++i) f += "-\r\n";
  return f;
}

Language Filled(char c) {
  Language l;
  std::memset(&l, c, sizeof l);
  return l;
}

class LanguageTest : public ::testing::Test {
 protected:
  LanguageLoad Load(const std::string& content, const CodePages* cp = nullptr) {
    dir_.Write("test.lng", content);
    return LoadLanguageFile(dir_ / "test.lng", cp, &lang_);
  }
  TestDir dir_;
  Language lang_ = Filled('#');
};

TEST_F(LanguageTest, FileOrderNamesEveryTextOnce) {
  const LanguageText* order = LanguageFileOrder();
  size_t bytes = 0;
  for (int i = 0; i < kLanguageTexts; ++i) {
    EXPECT_STREQ(order[i].name, kFileOrderNames[i]) << "text " << i + 1;
    bytes += order[i].size;
  }
  // Every field but channeltimeout has its place in the file.
  EXPECT_EQ(bytes + sizeof(Language::channeltimeout), sizeof(Language));
}

TEST_F(LanguageTest, CompleteFileFillsAllTextsInFileOrder) {
  for (const std::string eol : {"\r\n", "\n"}) {
    SCOPED_TRACE(eol.size() == 2 ? "CR LF" : "LF");
    lang_ = Filled('#');
    ASSERT_EQ(Load(NumberedFile(eol)), LanguageLoad::kLoaded);
    const LanguageText* order = LanguageFileOrder();
    for (int i = 0; i < kLanguageTexts; ++i) {
      const std::string n = std::to_string(i + 1);
      std::string want(1, i < 8 ? 'B' : 'L');
      want += n;
      if (i < 8) {
        want += " a\rB";
        want += n;
        want += " b";
      }
      want += '\r';
      EXPECT_EQ(LanguageField(lang_, order[i]), want) << order[i].name;
    }
    // The same by field, where the file order and the field order part.
    EXPECT_STREQ(lang_.newuser, "B1 a\rB1 b\r");
    EXPECT_STREQ(lang_.xpertuser, "B3 a\rB3 b\r");
    EXPECT_STREQ(lang_.bye, "B4 a\rB4 b\r");
    EXPECT_STREQ(lang_.sysopnotanswer, "B8 a\rB8 b\r");
    EXPECT_STREQ(lang_.timeout, "L9\r");
    EXPECT_STREQ(lang_.notfound, "L10\r");
    EXPECT_STREQ(lang_.nousage, "L11\r");
    EXPECT_STREQ(lang_.notenoughparameters, "L12\r");
    EXPECT_STREQ(lang_.hasbeenerased, "L37\r");
    EXPECT_STREQ(lang_.channeltimeout, "");
    EXPECT_STREQ(lang_.backinbbs, "L38\r");
    EXPECT_STREQ(lang_.msgheader, "L58\r");
  }
}

TEST_F(LanguageTest, CommentsAreSkippedBetweenLinesAndKeptInBlocks) {
  std::string f = "Welcome $U\r\n;x\r\n-\r\n" + Dashes(7);
  f += ";x\r\n;another\r\nTimeout\r\n;x\r\nNot found\r\n";
  ASSERT_EQ(Load(f), LanguageLoad::kLoaded);
  EXPECT_STREQ(lang_.newuser, "Welcome $U\r;x\r");
  EXPECT_STREQ(lang_.regularuser, "");
  EXPECT_STREQ(lang_.timeout, "Timeout\r");
  EXPECT_STREQ(lang_.notfound, "Not found\r");
  EXPECT_STREQ(lang_.nousage, "");
}

TEST_F(LanguageTest, LastLineWithoutLineEndKeepsNoCr) {
  const std::string f = Dashes(8) + "Timeout";
  ASSERT_EQ(Load(f), LanguageLoad::kLoaded);
  EXPECT_STREQ(lang_.timeout, "Timeout");
}

TEST_F(LanguageTest, OverLongTextsAreCutToTheirFieldAndKeepTheirCr) {
  const std::string longLine(1000, 'x');
  std::string f;
  // Block 1: many lines, far over its 500 bytes; block 2: one over-long line.
  for (int i = 0; i < 40; ++i) f += "line " + std::to_string(i) + " of a very long greeting text\r\n";
  f += "-\r\n" + longLine + "\r\n-\r\n" + Dashes(6);
  f += longLine + "\r\n";      // timeout: 80 bytes
  f += "Not found\r\n";        // notfound: still in its place
  f += ";" + longLine + "\r\n";  // an over-long comment is skipped whole
  f += "Nobody\r\n";
  ASSERT_EQ(Load(f), LanguageLoad::kLoaded);

  EXPECT_EQ(std::strlen(lang_.newuser), sizeof lang_.newuser - 1);
  EXPECT_EQ(std::string(lang_.newuser).back(), '\r');
  EXPECT_EQ(std::string(lang_.newuser).rfind("line 0 of", 0), 0u);
  EXPECT_EQ(std::string(lang_.regularuser), std::string(498, 'x') + "\r");
  EXPECT_STREQ(lang_.xpertuser, "");
  EXPECT_EQ(std::string(lang_.timeout), std::string(78, 'x') + "\r");
  EXPECT_STREQ(lang_.notfound, "Not found\r");
  EXPECT_STREQ(lang_.nousage, "Nobody\r");
}

TEST_F(LanguageTest, FileEndingEarlyLeavesTheRestEmpty) {
  struct Case {
    const char* what;
    std::string file;
    std::vector<std::pair<const char*, std::string>> want;  // field name, text
  };
  const std::vector<Case> cases = {
      {"block without its dash line", "Welcome\r\nto the BBS\r\n",
       {{"newuser", "Welcome\rto the BBS\r"}, {"regularuser", ""}, {"timeout", ""}, {"msgheader", ""}}},
      {"two blocks", "New\r\n-\r\nRegular\r\n-\r\n",
       {{"newuser", "New\r"}, {"regularuser", "Regular\r"}, {"xpertuser", ""}, {"msgheader", ""}}},
      {"blocks and a few lines", Dashes(8) + "T\r\nN\r\n;only a comment after\r\n",
       {{"timeout", "T\r"}, {"notfound", "N\r"}, {"nousage", ""}, {"msgheader", ""}}},
      {"a lone Ctrl-Z ends the file", "New\r\n-\r\n\x1a" "Regular\r\n-\r\n",
       {{"newuser", "New\r"}, {"regularuser", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    lang_ = Filled('#');
    ASSERT_EQ(Load(c.file), LanguageLoad::kLoaded);
    for (const auto& [name, text] : c.want) {
      for (int i = 0; i < kLanguageTexts; ++i) {
        const LanguageText& t = LanguageFileOrder()[i];
        if (std::strcmp(t.name, name) == 0) {
          EXPECT_EQ(LanguageField(lang_, t), text) << name;
        }
      }
    }
  }
}

TEST_F(LanguageTest, OemAnsiConvertsEachLineAsItIsRead) {
  // "Grüße" in the ANSI code page 1252.
  const std::string f = "Gr\xfc\xdf" "e\r\n;\xe4\r\n-\r\n" + Dashes(7) + "\xc4rger\r\n";
  CodePages cp;
  ASSERT_EQ(Load(f, &cp), LanguageLoad::kLoaded);
  // The same in the OEM code page 437.
  EXPECT_STREQ(lang_.newuser, "Gr\x81\xe1" "e\r;\x84\r");
  EXPECT_STREQ(lang_.timeout, "\x8erger\r");

  ASSERT_EQ(Load(f, nullptr), LanguageLoad::kLoaded);
  EXPECT_STREQ(lang_.newuser, "Gr\xfc\xdf" "e\r;\xe4\r");
  EXPECT_STREQ(lang_.timeout, "\xc4rger\r");
}

TEST_F(LanguageTest, MissingOrEmptyFileFailsAndKeepsTheTexts) {
  Language before = Filled('#');
  lang_ = before;
  EXPECT_EQ(LoadLanguage(dir_.path(), "KLINGON", nullptr, &lang_), LanguageLoad::kNoFile);
  EXPECT_EQ(std::memcmp(&lang_, &before, sizeof lang_), 0);
  EXPECT_STREQ(LanguageFailureText(LanguageLoad::kNoFile), "Station has no language set..\r");

  dir_.Write("klingon.lng", "");
  EXPECT_EQ(LoadLanguage(dir_.path(), "KLINGON", nullptr, &lang_), LanguageLoad::kEmptyFile);
  EXPECT_EQ(std::memcmp(&lang_, &before, sizeof lang_), 0);
  EXPECT_STREQ(LanguageFailureText(LanguageLoad::kEmptyFile), "Station has no language text..\r");
  EXPECT_STREQ(LanguageFailureText(LanguageLoad::kLoaded), "");
}

TEST_F(LanguageTest, StationLanguageChoosesTheFile) {
  dir_.Write("english.lng", "English\r\n-\r\n");
  dir_.Write("Greek.LNG", "Greek\r\n-\r\n");
  struct Case {
    const char* language;
    LanguageLoad result;
    const char* newuser;
  } cases[] = {
      {"ENGLISH", LanguageLoad::kLoaded, "English\r"},
      {"", LanguageLoad::kLoaded, "English\r"},
      {"?????", LanguageLoad::kLoaded, "English\r"},
      {"GREEK", LanguageLoad::kLoaded, "Greek\r"},
      {"greek", LanguageLoad::kLoaded, "Greek\r"},
      {"FRENCH", LanguageLoad::kNoFile, ""},
      // A name that would leave the BBS directory is no language.
      {"../english", LanguageLoad::kNoFile, ""},
      {"sub\\english", LanguageLoad::kNoFile, ""},
      {".", LanguageLoad::kNoFile, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    Language l{};
    EXPECT_EQ(LoadLanguage(dir_.path(), c.language, nullptr, &l), c.result);
    EXPECT_STREQ(l.newuser, c.newuser);
  }
}

TEST_F(LanguageTest, HelpAndInformationFileNames) {
  dir_.Write("ENGLISH.L", "");
  const std::string d = dir_.path();
  struct Case {
    const char* language;
    const char* topic;
    bool restricted;
    std::string want;
  } cases[] = {
      {"ENGLISH", "L", false, d + "/ENGLISH.L"},
      {"english", "l", false, d + "/ENGLISH.L"},  // the file as the sysop spelt it
      {"ENGLISH", "K", false, d + "/ENGLISH.K"},
      {"ENGLISH", "", false, d + "/ENGLISH"},
      {"ENGLISH", "L", true, d + "/ENGLISH.gen"},
      {"ENGLISH", "", true, d + "/ENGLISH.gen"},
      {"?????", "L", false, d + "/ENGLISH.L"},
      {"ENGLISH", "/../../etc/passwd", false, ""},
      {"ENGLISH", "X\\Y", false, ""},
      {"../ENGLISH", "L", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.language) + " " + c.topic);
    EXPECT_EQ(HelpFileName(d, c.language, c.topic, c.restricted), c.want);
  }
  EXPECT_EQ(InfoFileName(d, "GERMAN"), d + "/GERMAN.i");
  EXPECT_EQ(InfoFileName(d, ""), d + "/english.i");
  EXPECT_EQ(InfoFileName(d, "a/b"), "");
}

}  // namespace
}  // namespace orn
