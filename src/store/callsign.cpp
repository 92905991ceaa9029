#include "store/callsign.h"

namespace orn {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool CallIsValid(const std::string& call) {
  if (call.size() < 4 || call.size() > 6) return false;
  if (IsDigit(call[0]) || !IsDigit(call[2])) return false;
  for (size_t i = 3; i < call.size(); ++i)
    if (IsDigit(call[i])) return false;
  return true;
}

std::string CallKey(const std::string& address) {
  const size_t begin = address.find_first_not_of('.');
  if (begin == std::string::npos) return {};
  const size_t end = address.find('.', begin);
  return address.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace orn
