// The conversion between the stations' code page and the stored texts'
// code page, checked byte by byte against iconv.
#include <gtest/gtest.h>
#include <iconv.h>

#include <set>
#include <string>

#include "platform/code_pages.h"

namespace orn {
namespace {

// The one byte of page `to` that holds the character byte `b` of page
// `from` has, or -1 when `to` lacks it (or `from` has none there).
int Counterpart(const char* from, const char* to, int b) {
  auto once = [](const char* f, const char* t, const std::string& in, std::string* out) {
    iconv_t cd = ::iconv_open(t, f);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char buf[16];
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    const bool ok = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0;
    ::iconv_close(cd);
    if (ok) out->assign(buf, sizeof buf - dstLeft);
    return ok;
  };
  std::string utf8, mapped;
  if (!once(from, "UTF-8", std::string(1, static_cast<char>(b)), &utf8) || !once("UTF-8", to, utf8, &mapped) ||
      mapped.size() != 1)
    return -1;
  return static_cast<unsigned char>(mapped[0]);
}

// Every byte value: both directions are permutations and each undoes the
// other, a byte whose character both pages have maps to that character's
// byte, and a byte that neither page can place elsewhere stays as it is.
TEST(CodePagesTest, TheTwoDirectionsAreInversesOverAllBytes) {
  struct Pages {
    const char *oem, *ansi, *oemIconv, *ansiIconv;
  } pages[] = {{"437", "1252", "CP437", "CP1252"},
               {"850", "1252", "CP850", "CP1252"},
               {"437", "437", "CP437", "CP437"}};
  for (const Pages& p : pages) {
    SCOPED_TRACE(std::string(p.oem) + "/" + p.ansi);
    CodePages cp;
    ASSERT_TRUE(cp.Configure(p.oem, p.ansi));
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string ansi = cp.OemToAnsi(all), oem = cp.AnsiToOem(all);
    EXPECT_EQ(cp.AnsiToOem(ansi), all);
    EXPECT_EQ(cp.OemToAnsi(oem), all);
    EXPECT_EQ(std::set<char>(ansi.begin(), ansi.end()).size(), 256u);
    auto at = [](const std::string& s, int i) {
      return static_cast<int>(static_cast<unsigned char>(s[static_cast<size_t>(i)]));
    };
    int alone = 0;
    for (int b = 0; b < 256; ++b) {
      SCOPED_TRACE(b);
      const int a = Counterpart(p.oemIconv, p.ansiIconv, b);
      if (a >= 0) {
        EXPECT_EQ(at(ansi, b), a);
      } else {
        ++alone;
        if (Counterpart(p.ansiIconv, p.oemIconv, b) < 0) {
          EXPECT_EQ(at(ansi, b), b);
        }
      }
      const int o = Counterpart(p.ansiIconv, p.oemIconv, b);
      if (o >= 0) {
        EXPECT_EQ(at(oem, b), o);
      }
    }
    // The stations' page has characters the stored one lacks, so the
    // pairing of the rest is really needed.
    if (std::string(p.oem) == "437") {
      EXPECT_EQ(alone, std::string(p.ansi) == "1252" ? 74 : 0);
    }
  }
  // The usual letters, both ways: e acute, u umlaut, the degree sign.
  CodePages cp;
  EXPECT_EQ(cp.OemToAnsi("\x82\x81\xF8"), "\xE9\xFC\xB0");
  EXPECT_EQ(cp.AnsiToOem("\xE9\xFC\xB0"), "\x82\x81\xF8");
  // A box-drawing byte no longer lands on the degree sign's place.
  EXPECT_EQ(cp.AnsiToOem(cp.OemToAnsi("\xB0")), "\xB0");
}

}  // namespace
}  // namespace orn
