#include "fwd/fwd_rules.h"

#include <cstdlib>

#include "platform/text.h"

namespace orn {

long DayCount(const std::string& text) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos || text.size() < slash + 7) return -1;
  long v[3];
  for (int i = 0; i < 3; ++i) {
    const char a = text[slash + 1 + 2 * static_cast<size_t>(i)], b = text[slash + 2 + 2 * static_cast<size_t>(i)];
    if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
    v[i] = (a - '0') * 10 + (b - '0');
  }
  return v[0] * 365 + v[1] * 30 + v[2];
}

bool SizeFits(const Howtoconnect& entry, long size) {
  std::string rule = Trim(FieldText(entry.mlength));
  char sense = '<';
  if (!rule.empty() && (rule[0] == '<' || rule[0] == '>')) {
    sense = rule[0];
    rule = Trim(rule.substr(1));
  }
  const long n = std::atol(rule.c_str());
  // Beyond this a rule cannot tell sizes apart any more than no rule.
  if (n <= 0 || n > 2000000) return true;
  return sense == '>' ? size > n * 1000 : size < n * 1000;
}

bool AgeFits(const Howtoconnect& entry, const UserFwdPriv& slot, long today) {
  const long days = std::atol(FieldText(entry.daysago).c_str());
  if (days <= 0) return true;
  const long dated = DayCount(FieldText(slot.ExpDays));
  if (dated < 0 || today < 0) return true;
  return today - dated <= days;
}

bool Offerable(const UserFwdPriv& slot) {
  return slot.FwdMsgNumbers > 0 && slot.Status[0] != 'K' && slot.Status[0] != 'Y';
}

bool HourWindowHas(const Howtoconnect& entry, int hour) {
  const std::string h = FieldText(entry.hours);
  if (h.size() != 4) return false;
  for (char c : h)
    if (c < '0' || c > '9') return false;
  const int start = (h[0] - '0') * 10 + (h[1] - '0');
  const int end = (h[2] - '0') * 10 + (h[3] - '0');
  return start <= hour && hour <= end;
}

int EntryForHour(const UserDB& u, int hour) {
  for (int i = 0; i < kHowtoconnectCount; ++i)
    if (HourWindowHas(u.Hcon[i], hour)) return i;
  return -1;
}

}  // namespace orn
