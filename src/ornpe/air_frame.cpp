#include "ornpe/air_frame.h"

#include <cstdio>

namespace orn {
namespace {

std::string PollFinal(const AirFrame& f) {
  std::string s = f.role == AirRole::Command ? "P" : f.role == AirRole::Response ? "F" : "PF";
  s += f.pf ? "=1" : "=0";
  return s;
}

std::string Unnumbered(const char* name, const AirFrame& f) {
  std::string s = "<";
  s += name;
  s += ' ';
  s += PollFinal(f);
  s += " >";
  return s;
}

std::string Describe(const AirFrame& f) {
  char buf[96];
  switch (f.type) {
    case AirType::I:
      std::snprintf(buf, sizeof buf, "<I S%d R%d pid=0x%02X Len=%zu %s >", f.ns, f.nr, f.pid, f.info.size(),
                    PollFinal(f).c_str());
      return buf;
    case AirType::UI:
      std::snprintf(buf, sizeof buf, "<UI pid=%02X Len=%zu %s >", f.pid, f.info.size(), PollFinal(f).c_str());
      return buf;
    case AirType::RR:
      std::snprintf(buf, sizeof buf, "<RR R%d %s >", f.nr, PollFinal(f).c_str());
      return buf;
    case AirType::SABM:
      return Unnumbered("SABM", f);
    case AirType::UA:
      return Unnumbered("UA", f);
    case AirType::DISC:
      return Unnumbered("DISC", f);
    case AirType::DM:
      return Unnumbered("DM", f);
  }
  return "<U other??? >";
}

}  // namespace

char MonitorKind(const AirFrame& f) {
  if (f.type == AirType::I) return 'I';
  if (f.type == AirType::UI) return 'U';
  return 'S';
}

std::string MonitorText(const AirFrame& f, const std::string& hhmmss) {
  std::string s = " ";
  s += std::to_string(f.port + 1);
  s += ":Fm ";
  s += f.src;
  s += " To ";
  s += f.dst;
  for (size_t i = 0; i < f.via.size(); ++i) {
    s += i ? "," : " Via ";
    s += f.via[i];
  }
  s += ' ';
  s += Describe(f);
  s += '[';
  s += hhmmss;
  s += "]\r";
  if ((f.type == AirType::I || f.type == AirType::UI) && !f.info.empty()) {
    s.append(f.info, 0, f.info.find('\0'));
    s += '\r';
  }
  return s;
}

}  // namespace orn
