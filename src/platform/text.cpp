#include "platform/text.h"

namespace orn {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

void Ltrim(char* s) {
  size_t n = 0;
  while (s[n] == ' ') ++n;
  if (n) std::memmove(s, s + n, std::strlen(s + n) + 1);
}

void UpCase(char* s) {
  for (; *s; ++s)
    if (*s >= 'a' && *s <= 'z') *s = static_cast<char>(*s - 'a' + 'A');
}

void CopyField(char* dst, size_t size, const std::string& src) {
  if (size == 0) return;
  size_t n = src.size() < size - 1 ? src.size() : size - 1;
  std::memcpy(dst, src.data(), n);
  std::memset(dst + n, 0, size - n);
}

std::string FieldText(const char* field, size_t size) {
  size_t n = 0;
  while (n < size && field[n]) ++n;
  return std::string(field, n);
}

std::string Cut(const std::string& s, size_t size) {
  if (size == 0 || s.size() < size) return s;
  return s.substr(0, size - 1);
}

bool LooksBinary(const std::string& text) {
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != 0x1A) || c == 0x7F) return true;
  }
  return false;
}

std::string ControlsShown::Feed(const char* data, size_t n) {
  // U+0080..U+009F in UTF-8: 0xC2 and a byte 0x80..0x9F.
  constexpr unsigned char kC1Lead = 0xC2;
  std::string out;
  out.reserve(n + 8);
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (held_) {
      held_ = false;
      if (c >= 0x80 && c <= 0x9F) {
        out += "M-^";
        out += static_cast<char>(c - 0x80 + 0x40);
        continue;
      }
      out += static_cast<char>(kC1Lead);
    }
    if (c == kC1Lead) {
      held_ = true;
    } else if ((c >= 0x20 && c != 0x7F) || (keepLayout_ && (c == '\n' || c == '\t'))) {
      out += static_cast<char>(c);
    } else {
      out += '^';
      out += static_cast<char>(c == 0x7F ? '?' : c + 0x40);
    }
  }
  return out;
}

std::string ControlsShown::Finish() {
  if (!held_) return {};
  held_ = false;
  return std::string(1, static_cast<char>(0xC2));
}

std::string ShowControls(const std::string& s, bool keepLayout) {
  ControlsShown shown(keepLayout);
  std::string out = shown.Feed(s.data(), s.size());
  return out + shown.Finish();
}

}  // namespace orn
