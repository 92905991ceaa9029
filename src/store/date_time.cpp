#include "store/date_time.h"

#include <cstdio>

namespace orn {
namespace {

struct Parts {
  int yy, mm, dd, hh, mi;
};

Parts Now(const Clock& clock) {
  const std::tm t = clock.LocalNow();
  // Years before 1900 cannot come from a clock counting from 1970; the modulo
  // keeps the field two digits wide whatever happens.
  const int year = t.tm_year + 1900;
  return {((year % 100) + 100) % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min};
}

}  // namespace

std::string GetDate(const Clock& clock, int mode) {
  const Parts p = Now(clock);
  char buf[32];
  std::snprintf(buf, sizeof buf, mode == 1 ? "%02d/%02d/%02d" : "%02d%02d%02d", p.yy, p.mm, p.dd);
  return buf;
}

std::string GetTime(const Clock& clock, int mode) {
  const Parts p = Now(clock);
  char buf[32];
  std::snprintf(buf, sizeof buf, mode == 1 ? "%02d:%02d" : "%02d%02d", p.hh, p.mi);
  return buf;
}

std::string FormatMsgDateTime(const Clock& clock) {
  const Parts p = Now(clock);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02d%02d/%02d%02d%02d", p.hh, p.mi, p.yy, p.mm, p.dd);
  return buf;
}

}  // namespace orn
