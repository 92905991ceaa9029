#include "ornpe/air_call.h"

namespace orn {
namespace {

bool IsUpperAlnum(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

bool IsAirCall(const std::string& call) {
  const size_t dash = call.find('-');
  const std::string base = call.substr(0, dash);
  if (base.empty() || base.size() > 6) return false;
  for (char c : base) {
    if (!IsUpperAlnum(c)) return false;
  }
  if (dash == std::string::npos) return true;
  const std::string ssid = call.substr(dash + 1);
  if (ssid.empty() || ssid.size() > 2) return false;
  for (char c : ssid) {
    if (c < '0' || c > '9') return false;
  }
  if (ssid.size() == 2 && ssid[0] == '0') return false;
  return std::stoi(ssid) <= 15;
}

std::string AirForm(const std::string& call) {
  if (call.size() >= 2 && call.compare(call.size() - 2, 2, "-0") == 0) return call.substr(0, call.size() - 2);
  return call;
}

}  // namespace orn
