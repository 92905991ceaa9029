// The frames that travel on a virtual radio port, and the monitor lines an
// engine client sees for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orn {

enum class AirType { I, RR, UI, SABM, UA, DISC, DM };

// Command/response marking of a frame. Frames built from an unproto request
// carry none, and their poll/final bit shows as "PF".
enum class AirRole { Command, Response, Unmarked };

struct AirFrame {
  uint8_t port = 0;
  AirType type = AirType::UI;
  AirRole role = AirRole::Command;
  std::string src;                // address texts, SSID 0 without "-0"
  std::string dst;
  std::vector<std::string> via;   // digipeaters in path order
  bool pf = false;                // poll (command) or final (response) bit
  int ns = 0;                     // I frames: send sequence number
  int nr = 0;                     // I and RR frames: receive sequence number
  uint8_t pid = 0xF0;             // I and UI frames
  std::string info;               // I and UI frames
};

// 'I' for I frames, 'U' for UI frames, 'S' for every other kind.
char MonitorKind(const AirFrame& f);

// The monitor line of a frame without its terminating NUL:
// " 1:Fm SRC To DST [Via D1,D2 ]<desc>[HH:MM:SS]\r[info\r]". The info stops at
// its first NUL byte; `hhmmss` is the local time the frame went out.
std::string MonitorText(const AirFrame& f, const std::string& hhmmss);

}  // namespace orn
