#include "ornpe/port_table.h"

#include "link/api_frame.h"

namespace orn {

int PortTable::AddEngine(const std::string& where, const std::vector<EnginePort>& ports) {
  const int engine = static_cast<int>(engines_.size());
  engines_.push_back(where);
  int taken = 0;
  int left = 0;
  for (const EnginePort& p : ports) {
    if (p.number < 0 || p.number > 255 || taken >= kMaxEnginePorts || radioPorts() >= kMaxRadioPorts) {
      ++left;
      continue;
    }
    radio_.push_back({engine, p.number, p.description});
    ++taken;
  }
  return left;
}

const RadioPort* PortTable::Radio(int port) const {
  if (port < 0 || port >= radioPorts()) return nullptr;
  return &radio_[static_cast<size_t>(port)];
}

int PortTable::PortOf(int engine, int enginePort) const {
  for (size_t i = 0; i < radio_.size(); ++i) {
    if (radio_[i].engine == engine && radio_[i].enginePort == enginePort) return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::string> PortTable::Lines() const {
  std::vector<std::string> out;
  int n = 0;
  for (const RadioPort& r : radio_) {
    out.push_back("port " + std::to_string(n++) + ": engine " + engineName(r.engine) + " port " +
                  std::to_string(r.enginePort) + " (" + r.description + ")");
  }
  for (const std::string& v : virtual_) out.push_back("port " + std::to_string(n++) + ": " + v);
  return out;
}

std::string PortTable::PortListText() const {
  // The BBS takes the list from one frame: descriptions are cut until it fits,
  // and the engine's address goes last.
  constexpr size_t kRoom = kApiMaxData - 1;  // the text ends in a NUL
  std::string text;
  for (const size_t cut : {std::string::npos, size_t{40}, size_t{24}, size_t{12}, size_t{0}}) {
    for (const bool via : {true, false}) {
      text = std::to_string(radio_.size() + virtual_.size()) + ";";
      int n = 1;
      for (const RadioPort& r : radio_) {
        text += "Port" + std::to_string(n++);
        const std::string d = r.description.substr(0, cut);
        if (!d.empty()) text += " " + d;
        if (via) text += " via " + engineName(r.engine) + " port " + std::to_string(r.enginePort);
        text += ";";
      }
      for (const std::string& v : virtual_) {
        text += "Port" + std::to_string(n++);
        const std::string d = v.substr(0, cut);
        text += (d.empty() ? " ornpe" : " " + d) + ";";
      }
      if (text.size() <= kRoom) return text;
      if (cut == std::string::npos) break;  // the whole descriptions keep the address or nothing
    }
  }
  return text.substr(0, kRoom);
}

std::string PortTable::Summary() const {
  std::vector<std::string> entries;
  for (const RadioPort& r : radio_) entries.push_back(engineName(r.engine) + "/" + std::to_string(r.enginePort));
  for (size_t i = 0; i < virtual_.size(); ++i) entries.push_back("ornpe");
  std::string s;
  for (size_t n = 0; n < entries.size(); ++n) {
    if (n) s += ',';
    s.append(std::to_string(n)).append("=").append(entries[n]);
  }
  return s;
}

std::string RenumberMonitor(const std::string& text, int port) {
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return text;
  size_t end = start;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  if (end == start || text.compare(end, 4, ":Fm ") != 0) return text;
  std::string out = text.substr(0, start);
  out.append(std::to_string(port + 1)).append(text, end, std::string::npos);
  return out;
}

}  // namespace orn
