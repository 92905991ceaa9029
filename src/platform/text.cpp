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

}  // namespace orn
