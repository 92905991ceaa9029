// One person at a plain TCP terminal (telnet, nc) who takes part on the air as
// a station: asks for a callsign, connects that station to the BBS, then
// carries the text both ways. Lines typed end in LF or CR LF and go out ending
// in CR; the BBS's CR reaches the terminal as CR LF. No sockets here: the host
// feeds terminal bytes and engine frames, and collects both directions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/api_frame.h"

namespace orn {

struct GatewayHooks {
  std::function<std::string()> bbsCall;                    // "" while no BBS is known
  std::function<bool(const std::string& call)> callInUse;  // another station has this call
};

class GatewaySession {
 public:
  static constexpr uint8_t kPort = 0;
  static constexpr int kMaxTries = 3;

  explicit GatewaySession(GatewayHooks hooks);

  // Greets the terminal; call once when it connects.
  void Start();
  void FromTerminal(const std::string& bytes);
  // A frame the engine sent to this station.
  void FromEngine(const ApiFrame& f);
  // The terminal went away: a partial line still goes out before the link
  // is taken down.
  void TerminalClosed();

  std::string TakeTerminalOutput();
  std::vector<ApiFrame> TakeEngineFrames();
  // Nothing more will happen: the host closes the terminal once the output
  // is written.
  bool finished() const { return state_ == State::Finished; }
  bool connected() const { return state_ == State::Connected; }
  const std::string& call() const { return call_; }
  const std::string& bbs() const { return bbs_; }

 private:
  enum class State { AskCall, Connecting, Connected, Finished };
  enum class Telnet { Data, Command, Option, Sub, SubCommand };

  // Telnet commands are dropped and line ends become CR.
  std::string FromTerminalBytes(const std::string& bytes);
  void TakeCallsign(const std::string& line);
  void SendTyped(bool all);
  void ToTerminal(const std::string& engineText);
  void SendFrame(char kind, const std::string& data = {});

  GatewayHooks hooks_;
  State state_ = State::AskCall;
  Telnet telnet_ = Telnet::Data;
  bool lastCr_ = false;
  int tries_ = 0;
  std::string line_;   // the callsign being typed
  std::string typed_;  // text for the BBS not yet sent
  std::string call_;
  std::string bbs_;
  std::string terminalOut_;
  std::vector<ApiFrame> engineOut_;
};

}  // namespace orn
