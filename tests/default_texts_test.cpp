#include "bbs/default_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "context/language.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "support/bbs_on_engine.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::TestDir;

const char* const kLanguages[] = {"english", "german"};
// The help topics: one file per command letter, "gen" for restricted
// sessions, and the language name alone for H without a topic.
const char* const kTopics[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l",
                               "m", "n", "r", "s", "t", "u", "v", "w", "x", "y", "z", "gen"};

std::string SourceData(const std::string& name) {
  std::string content;
  EXPECT_TRUE(ReadWholeFile(std::string(ORN_SOURCE_DIR) + "/data/" + name, &content)) << name;
  return content;
}

std::vector<size_t> WordStarts(const std::string& s) {
  std::vector<size_t> at;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] != ' ' && s[i] != '\r' && s[i] != '\n' && (i == 0 || s[i - 1] == ' ')) at.push_back(i);
  return at;
}

// Where the columns of a listing line start. Type, status and size run
// together, so their titles do too.
std::vector<size_t> ListingColumns() {
  MsgDB r{};
  r.MsgNo = 1234;
  CopyField(r.Type, "B");
  CopyField(r.Status, "N");
  r.Size = 532;
  CopyField(r.ToStation, "TOCALL");
  CopyField(r.FromStation, "FRCALL.#NRW");
  CopyField(r.AtBbs, "ATBBS");
  CopyField(r.MsgDate, "1530/970507");
  CopyField(r.MsgSubject, "SUBJECT");
  return WordStarts(FormatMsgHeader(r));
}

class ShippedTextsTest : public ::testing::Test {
 protected:
  ShippedTextsTest() {
    CreateDirIfDontExist(dir_.path(), "HELP");
    InstallDefaultTexts(dir_.path(), dir_ / "HELP");
  }
  TestDir dir_;
};

TEST_F(ShippedTextsTest, ProgramCarriesTheFilesOfTheSourceTree) {
  ASSERT_FALSE(ShippedFiles().empty());
  for (const ShippedFile& f : ShippedFiles()) {
    SCOPED_TRACE(f.name);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data), f.size), SourceData(f.name));
  }
}

TEST_F(ShippedTextsTest, EveryLanguageHasItsHelpAndInformationFiles) {
  for (const char* lang : kLanguages) {
    SCOPED_TRACE(lang);
    EXPECT_TRUE(FileExists(dir_ / (std::string(lang) + ".lng")));
    EXPECT_TRUE(FileExists(InfoFileName(dir_.path(), lang)));
    EXPECT_TRUE(FileExists(HelpFileName(dir_ / "HELP", lang, "", false)));
    for (const char* topic : kTopics) {
      const std::string path = HelpFileName(dir_ / "HELP", UpperAscii(lang), UpperAscii(topic), false);
      std::string content;
      ASSERT_TRUE(ReadWholeFile(path, &content)) << topic;
      // Files as a sysop's editor leaves them: lines of at most 79
      // characters, each ended by CR LF.
      EXPECT_TRUE(content.ends_with("\r\n")) << topic;
      size_t start = 0;
      for (size_t lf = content.find('\n'); lf != std::string::npos; lf = content.find('\n', start)) {
        EXPECT_TRUE(lf > start && content[lf - 1] == '\r') << topic;
        EXPECT_LE(lf - start, 80u) << topic;
        start = lf + 1;
      }
    }
  }
}

TEST_F(ShippedTextsTest, LanguagesLoadWithEveryTextInPlace) {
  const std::string tokens = "ABbCDdTtVSHNUELlMq$";
  for (const char* name : kLanguages) {
    SCOPED_TRACE(name);
    Language lang;
    std::memset(&lang, '#', sizeof lang);
    ASSERT_EQ(LoadLanguage(dir_.path(), UpperAscii(name), nullptr, &lang), LanguageLoad::kLoaded);
    EXPECT_STREQ(lang.channeltimeout, "");
    for (int i = 0; i < kLanguageTexts; ++i) {
      const LanguageText& t = LanguageFileOrder()[i];
      const std::string text = LanguageField(lang, t);
      SCOPED_TRACE(t.name);
      // Non-empty, ended by a CR as replies are, and not cut to fit.
      ASSERT_FALSE(text.empty());
      EXPECT_EQ(text.back(), '\r');
      EXPECT_LT(text.size(), t.size - 1);
      // Only "$" tokens the expansion knows, none right after another token.
      for (size_t d = text.find('$'); d != std::string::npos; d = text.find('$', d + 2)) {
        ASSERT_LT(d + 1, text.size());
        EXPECT_NE(tokens.find(text[d + 1]), std::string::npos) << text;
        if (d + 2 < text.size()) {
          EXPECT_NE(text[d + 2], '$') << text;
        }
      }
    }
    // Texts that get more after them once their CR is dropped.
    for (const char* line : {lang.languagechange, lang.ifnobbsfield, lang.entertext})
      EXPECT_EQ(std::string(line).find('\r'), std::strlen(line) - 1) << line;
    EXPECT_EQ(WordStarts(lang.msgheader), ListingColumns()) << lang.msgheader;
  }
}

TEST(InstallDefaultTexts, NeverReplacesTheSysopsFiles) {
  TestDir dir;
  const std::string help = dir / "HELP";
  ASSERT_TRUE(CreateDirIfDontExist(dir.path(), "HELP"));
  dir.Write("HELP/English.Gen", "our own help\r\n");
  dir.Write("GERMAN.LNG", "unsere Texte\r\n");

  EXPECT_GT(InstallDefaultTexts(dir.path(), help), 0);
  EXPECT_EQ(dir.Read("HELP/English.Gen"), "our own help\r\n");
  EXPECT_EQ(dir.Read("GERMAN.LNG"), "unsere Texte\r\n");
  EXPECT_FALSE(dir.Exists("HELP/english.gen"));
  EXPECT_FALSE(dir.Exists("german.lng"));
  EXPECT_EQ(dir.Read("english.lng"), SourceData("lang/english.lng"));
  EXPECT_EQ(dir.Read("HELP/english.l"), SourceData("help/english.l"));

  // With english.lng in place nothing more is written, not even a file
  // that has gone missing since.
  std::remove((dir / "HELP/english.l").c_str());
  EXPECT_EQ(InstallDefaultTexts(dir.path(), help), 0);
  EXPECT_FALSE(dir.Exists("HELP/english.l"));
}

class StartupTextsTest : public test::BbsOnEngine {};

TEST_F(StartupTextsTest, NewBbsGetsTheDefaultTexts) {
  StartWith("[PATH]\nHELPPATH=Hilfe\n");
  EXPECT_EQ(dir_.Read("english.lng"), SourceData("lang/english.lng"));
  EXPECT_EQ(dir_.Read("german.lng"), SourceData("lang/german.lng"));
  EXPECT_EQ(dir_.Read("english.i"), SourceData("lang/english.i"));
  EXPECT_EQ(dir_.Read("Hilfe/english.gen"), SourceData("help/english.gen"));
  EXPECT_EQ(dir_.Read("Hilfe/german"), SourceData("help/german"));
}

TEST_F(StartupTextsTest, SysopsLanguageFileIsLeftAlone) {
  dir_.Write("ENGLISH.LNG", "Hello $U\r\n-\r\n");
  StartWith("");
  EXPECT_EQ(dir_.Read("ENGLISH.LNG"), "Hello $U\r\n-\r\n");
  EXPECT_FALSE(dir_.Exists("english.lng"));
  EXPECT_FALSE(dir_.Exists("german.lng"));
  EXPECT_FALSE(dir_.Exists("HELP/english.gen"));
}

}  // namespace
}  // namespace orn
