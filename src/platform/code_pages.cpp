#include "platform/code_pages.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace orn {
namespace {

std::string IconvName(const std::string& cp) {
  if (!cp.empty() && cp.find_first_not_of("0123456789") == std::string::npos) return "CP" + cp;
  return cp;
}

// One iconv descriptor, reused for many conversions.
class Converter {
 public:
  Converter(const std::string& from, const std::string& to) : cd_(::iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) ::iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts one whole buffer; false on any failure.
  bool Run(const std::string& in, std::string* out) {
    if (!ok()) return false;
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> buf(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = buf.data();
    size_t dstLeft = buf.size();
    if (::iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
    out->assign(buf.data(), buf.size() - dstLeft);
    return true;
  }

 private:
  iconv_t cd_;
};

bool Convert(const std::string& from, const std::string& to, const std::string& in, std::string* out) {
  Converter c(from, to);
  return c.Run(in, out);
}

}  // namespace

CodePages::CodePages() { Configure("437", "1252"); }

bool CodePages::Configure(const std::string& oemCp, const std::string& ansiCp) {
  const std::string oem = IconvName(oemCp), ansi = IconvName(ansiCp);
  // Probe both names first so a bad one leaves the old tables in place.
  std::string probe;
  if (!Convert(oem, "UTF-8", "A", &probe) || !Convert(ansi, "UTF-8", "A", &probe)) return false;

  Converter oemIn(oem, "UTF-8"), ansiIn(ansi, "UTF-8"), oemOut("UTF-8", oem), ansiOut("UTF-8", ansi);
  // The byte of the other page that holds the same character, or -1.
  auto counterpart = [](Converter& in, Converter& out, int byte) {
    std::string utf8, mapped;
    if (!in.Run(std::string(1, static_cast<char>(byte)), &utf8) || !out.Run(utf8, &mapped) || mapped.size() != 1)
      return -1;
    return static_cast<int>(static_cast<unsigned char>(mapped[0]));
  };
  // Text may cross the conversion twice (a partner's message in, the same
  // message out to the next partner), so the two tables are exact inverses:
  // a byte with a counterpart maps to it; a byte that has none in either
  // page maps to itself; the bytes left over on each side (characters only
  // one page has) are paired in ascending order. A station thus reads its
  // own characters, and nothing that passes through both ways changes.
  constexpr int kFree = -1;
  std::array<int, 256> toAnsi, toOem;
  toAnsi.fill(kFree);
  toOem.fill(kFree);
  for (int o = 0; o < 256; ++o) {
    const int a = counterpart(oemIn, ansiOut, o);
    if (a < 0 || toOem[a] != kFree || counterpart(ansiIn, oemOut, a) != o) continue;
    toAnsi[o] = a;
    toOem[a] = o;
  }
  for (int b = 0; b < 256; ++b) {
    if (toAnsi[b] == kFree && toOem[b] == kFree) toAnsi[b] = toOem[b] = b;
  }
  for (int o = 0, a = 0; o < 256; ++o) {
    if (toAnsi[o] != kFree) continue;
    while (toOem[a] != kFree) ++a;  // as many free on each side: never past 255
    toAnsi[o] = a;
    toOem[a] = o;
  }
  for (int i = 0; i < 256; ++i) {
    oemToAnsi_[i] = static_cast<unsigned char>(toAnsi[i]);
    ansiToOem_[i] = static_cast<unsigned char>(toOem[i]);
    std::string utf8;
    ansiToUtf8_[i] = ansiIn.Run(std::string(1, static_cast<char>(i)), &utf8) ? utf8 : std::string("\xEF\xBF\xBD");
  }
  ansiName_ = ansi;
  return true;
}

std::string CodePages::Map(const std::string& s, const Table& t) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(t[static_cast<unsigned char>(c)]);
  return out;
}

void CodePages::OemToAnsiInPlace(char* s) const {
  for (; *s; ++s) *s = static_cast<char>(oemToAnsi_[static_cast<unsigned char>(*s)]);
}

void CodePages::AnsiToOemInPlace(char* s) const {
  for (; *s; ++s) *s = static_cast<char>(ansiToOem_[static_cast<unsigned char>(*s)]);
}

std::string CodePages::AnsiToUtf8(const std::string& s) const {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x80)
      out += static_cast<char>(c);
    else
      out += ansiToUtf8_[c];
  }
  return out;
}

std::string CodePages::Utf8ToAnsi(const std::string& s) const {
  std::string out;
  if (Convert("UTF-8", ansiName_ + "//TRANSLIT", s, &out)) return out;
  // Invalid UTF-8: keep the ASCII and mark the rest.
  out.clear();
  for (unsigned char c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace orn
