#include <gtest/gtest.h>

#include "admin/config_files.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::TestDir;

TEST(ConfigFilesTest, LanguagesAreMadeFromEnglishAndKeptWhenDeleted) {
  TestDir dir;
  EXPECT_EQ(NewLanguage(dir.path(), "french"), NewLanguageResult::kNoDefault);
  dir.Write("ENGLISH.LNG", "texts");
  EXPECT_EQ(NewLanguage(dir.path(), "francais-long"), NewLanguageResult::kMade);
  EXPECT_EQ(dir.Read("francais.lng"), "texts");  // cut to 8 characters
  EXPECT_EQ(NewLanguage(dir.path(), "FRANCAIS"), NewLanguageResult::kExists);
  EXPECT_EQ(NewLanguage(dir.path(), "../x"), NewLanguageResult::kFailed);
  EXPECT_EQ(Languages(dir.path()), (std::vector<std::string>{"ENGLISH", "FRANCAIS"}));
  EXPECT_TRUE(DeleteLanguage(dir.path(), "FRANCAIS"));
  EXPECT_FALSE(dir.Exists("francais.lng"));
  EXPECT_EQ(dir.Read("FRANCAIS.kil"), "texts");
}

TEST(ConfigFilesTest, HelpFilesOfANewLanguageAreMadeEmptyAndOldOnesKept) {
  TestDir dir;
  dir.Write("SPANISH.gen", "kept");
  EXPECT_TRUE(NewHelpLanguage(dir.path(), "SPANISH"));
  EXPECT_EQ(dir.Read("SPANISH.gen"), "kept");
  EXPECT_TRUE(dir.Exists("SPANISH.a"));
  EXPECT_TRUE(dir.Exists("SPANISH.e"));
  EXPECT_EQ(dir.Read("SPANISH.z"), "");
}

TEST(ConfigFilesTest, MailServersAreStoredUpperCaseOnePerLine) {
  TestDir dir;
  EXPECT_TRUE(ReadServers(dir.path()).empty());
  EXPECT_TRUE(WriteServers(dir.path(), {"abc", " REQDIR "}));
  EXPECT_EQ(dir.Read("servers.inf"), "ABC\r\nREQDIR\r\n");
  EXPECT_EQ(ReadServers(dir.path()), (std::vector<std::string>{"ABC", "REQDIR"}));
}

}  // namespace
}  // namespace orn
