#include "context/port_map.h"

#include <algorithm>

namespace orn {
namespace {

int PortCount(const Config& c) { return std::clamp(c.maxport, 0, kMaxPorts); }

}  // namespace

int EnginePortOf(const Config& c, int port) {
  if (port < 0 || port >= PortCount(c)) return -1;
  const int e = c.Ports[static_cast<size_t>(port)].engineport;
  return e >= 0 && e <= kMaxEnginePort ? e : -1;
}

int ConfigPortOf(const Config& c, int enginePort) {
  if (enginePort < 0 || enginePort > kMaxEnginePort) return -1;
  int disabled = -1;
  for (int p = 0; p < PortCount(c); ++p) {
    if (EnginePortOf(c, p) != enginePort) continue;
    if (c.Ports[static_cast<size_t>(p)].enabled) return p;
    if (disabled < 0) disabled = p;
  }
  return disabled;
}

const Auxes* PortRecordOf(const Config& c, int enginePort) {
  const int p = ConfigPortOf(c, enginePort);
  return p < 0 ? nullptr : &c.Ports[static_cast<size_t>(p)];
}

bool EnginePortInUse(const Config& c, int enginePort) {
  const Auxes* a = PortRecordOf(c, enginePort);
  return a && a->enabled;
}

std::vector<int> EnginePortsInUse(const Config& c) {
  std::vector<int> ports;
  for (int p = 0; p < PortCount(c); ++p) {
    const int e = EnginePortOf(c, p);
    if (e >= 0 && c.Ports[static_cast<size_t>(p)].enabled) ports.push_back(e);
  }
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

}  // namespace orn
