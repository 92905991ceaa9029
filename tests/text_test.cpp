#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace orn {
namespace {

// What a station may send to take over the sysop's terminal, as the sysop
// sees it.
TEST(ControlsShownTest, NothingReachesTheTerminalAsAControl) {
  const struct {
    const char* what;
    std::string in;
    std::string text;   // with line feeds and tabs kept
    std::string field;  // with them shown too
  } cases[] = {
      {"a window title", "\x1b]0;owned\x07", "^[]0;owned^G", "^[]0;owned^G"},
      {"a clear screen", "\x1b[2J\x1b[H", "^[[2J^[[H", "^[[2J^[[H"},
      {"a clipboard write", "\x1b]52;c;cm0gLXJmIH4K\x1b\\", "^[]52;c;cm0gLXJmIH4K^[\\", "^[]52;c;cm0gLXJmIH4K^[\\"},
      {"a cursor query", "\x1b[6n", "^[[6n", "^[[6n"},
      {"a CSI of eight bits", "\xc2\x9b" "6n", "M-^[6n", "M-^[6n"},
      {"the first and last C1", "\xc2\x80\xc2\x9f", "M-^@M-^_", "M-^@M-^_"},
      {"DEL, NUL, CR", std::string("a\x7f\0b\r", 5), "a^?^@b^M", "a^?^@b^M"},
      {"line ends and tabs", "a\tb\nc", "a\tb\nc", "a^Ib^Jc"},
      {"letters of other scripts", "\xc3\xa9\xc2\xa0\xce\xb1\xe2\x82\xac", "\xc3\xa9\xc2\xa0\xce\xb1\xe2\x82\xac",
       "\xc3\xa9\xc2\xa0\xce\xb1\xe2\x82\xac"},
      {"a lead byte at the end", "x\xc2", "x\xc2", "x\xc2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ShowControls(c.in, true), c.text);
    EXPECT_EQ(ShowControls(c.in, false), c.field);
    // A stream cut anywhere shows the same.
    for (size_t cut = 0; cut <= c.in.size(); ++cut) {
      ControlsShown shown(true);
      std::string got = shown.Feed(c.in.data(), cut);
      got += shown.Feed(c.in.data() + cut, c.in.size() - cut);
      got += shown.Finish();
      EXPECT_EQ(got, c.text) << "cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace orn
