// ornpe's port numbers: the radio ports of the real engines first, in the
// order the engines were given, then ornpe's own virtual ports.
#pragma once

#include <string>
#include <vector>

#include "link/engine_session.h"

namespace orn {

struct RadioPort {
  int engine = 0;      // index into the engines, in option order
  int enginePort = 0;  // the engine's own port number
  std::string description;
};

class PortTable {
 public:
  // ornpe takes at most this many ports from one engine, and this many from
  // all of them: every port number fits the frame's byte, and the port list
  // the BBS asks for fits one frame.
  static constexpr int kMaxEnginePorts = 32;
  static constexpr int kMaxRadioPorts = 64;

  // The engine's own port list (its answer to 'G', parsed); `where` names
  // the engine in texts ("HOST:PORT"). Returns how many of its ports ornpe
  // left out: those past the limits, and those whose number no frame can
  // carry.
  int AddEngine(const std::string& where, const std::vector<EnginePort>& ports);
  // ornpe's virtual ports, after the radio ports.
  void SetVirtual(std::vector<std::string> descriptions) { virtual_ = std::move(descriptions); }

  int radioPorts() const { return static_cast<int>(radio_.size()); }
  int engines() const { return static_cast<int>(engines_.size()); }
  const std::string& engineName(int engine) const { return engines_[static_cast<size_t>(engine)]; }
  // The radio port behind ornpe's port `port`, or nullptr for a virtual one.
  const RadioPort* Radio(int port) const;
  // ornpe's number for an engine's port, or -1 when the engine did not list it.
  int PortOf(int engine, int enginePort) const;

  // The port list as ornpe answers 'G': every port, numbered from 1, in at
  // most kApiMaxData - 1 bytes (descriptions are cut short to fit).
  std::string PortListText() const;
  // One line per port: number, where it goes.
  std::vector<std::string> Lines() const;
  // "0=HOST:PORT/0,1=ornpe" for the ready line.
  std::string Summary() const;

 private:
  std::vector<std::string> engines_;
  std::vector<RadioPort> radio_;
  std::vector<std::string> virtual_;
};

// A monitor text " 1:Fm ..." renumbered for ornpe's port `port` (from 0);
// text that does not start that way is left as it is.
std::string RenumberMonitor(const std::string& text, int port);

}  // namespace orn
