#include "store/callsign.h"

namespace orn {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
}  // namespace

bool CallIsValid(const std::string& call) {
  if (call.size() > 6) return false;
  // The suffix: the letters at the end, one to four of them.
  size_t suffix = call.size();
  while (suffix > 0 && IsLetter(call[suffix - 1])) --suffix;
  const size_t letters = call.size() - suffix;
  if (letters < 1 || letters > 4 || suffix < 2 || !IsDigit(call[suffix - 1])) return false;
  // The prefix before the suffix's digit: one to three letters and digits,
  // at least one of them a letter ("9A1AA", "4X4ABC", "3DA0XX").
  const size_t prefix = suffix - 1;
  if (prefix < 1 || prefix > 3) return false;
  bool letter = false;
  for (size_t i = 0; i < prefix; ++i) {
    if (!IsDigit(call[i]) && !IsLetter(call[i])) return false;
    letter = letter || IsLetter(call[i]);
  }
  return letter;
}

std::string CallKey(const std::string& address) {
  const size_t begin = address.find_first_not_of('.');
  if (begin == std::string::npos) return {};
  const size_t end = address.find('.', begin);
  return address.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace orn
