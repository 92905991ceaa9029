// A station that takes part on the air from a TCP connection: asks for a
// callsign, connects that station to the BBS, then carries the bytes both
// ways. Two kinds of caller:
//  - a person at a terminal (telnet, nc): lines typed end in LF or CR LF and
//    go out ending in CR, a packet per line; the BBS's CR reaches the
//    terminal as CR LF. Where the terminal agreed telnet BINARY for a
//    direction, that direction keeps its bytes as they are (YAPP over telnet).
//  - another BBS calling in, over telnet or raw TCP (LinBPQ's connect
//    script): after the callsign line every byte passes as it is, since its
//    forwarding blocks are binary. A caller that negotiates first speaks
//    telnet; a raw one never does, but neither does LinFBB, which still
//    doubles its 0xFF bytes. So until the caller tells, IAC IAC is one 0xFF,
//    and an IAC followed by anything else, which no telnet sender that
//    never negotiated puts on the wire (0xFF 0xD3 in a compressed block),
//    makes the rest of the connection raw, those two bytes included.
// Both speak telnet through TelnetStream, as far as they do. No sockets here: the host feeds
// terminal bytes and engine frames, and collects both directions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "link/api_frame.h"
#include "ornpe/telnet_stream.h"

namespace orn {

struct GatewayHooks {
  std::function<std::string()> bbsCall;                    // "" while no BBS is known
  std::function<bool(const std::string& call)> callInUse;  // another station has this call
};

class GatewaySession {
 public:
  static constexpr uint8_t kPort = 0;
  static constexpr int kMaxTries = 3;

  enum class Caller { Person, Bbs };

  // `raw`: a BBS caller is raw TCP from the start, whatever it sends.
  explicit GatewaySession(GatewayHooks hooks, Caller caller = Caller::Person, bool raw = false);

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
  // How the caller's bytes are read: "telnet", "raw TCP", or "not told yet".
  const char* wire() const;
  // True once when the caller has just shown itself raw.
  bool TakeTurnedRaw() { return std::exchange(turnedRaw_, false); }
  const std::string& call() const { return call_; }
  const std::string& bbs() const { return bbs_; }
  Caller caller() const { return caller_; }

 private:
  enum class State { AskCall, Connecting, Connected, Finished };
  // Bytes go out as they come rather than a line at a time.
  bool Transparent() const { return caller_ == Caller::Bbs || telnet_.binaryFromPeer(); }
  void Byte(char ch);
  void CallsignByte(char ch);
  void TypedByte(char ch);
  void TakeCallsign(const std::string& line);
  void SendTyped(bool all);
  void Notice(const ApiFrame& f);
  void ToTerminal(const std::string& data);
  void SendFrame(char kind, const std::string& data = {});

  GatewayHooks hooks_;
  Caller caller_;
  State state_ = State::AskCall;
  TelnetStream telnet_;
  bool guessing_ = false;  // a BBS caller that has not shown telnet or raw
  bool heard_ = false;     // the caller's first byte has come
  bool iacHeld_ = false;   // guessing: an IAC waits for the byte after it
  bool turnedRaw_ = false;
  bool lastCr_ = false;    // an LF or NUL next belongs to the line end
  bool skipLine_ = false;  // the rest of an over-long callsign line goes
  int tries_ = 0;
  std::string line_;   // the callsign being typed
  std::string typed_;  // text for the BBS not yet sent
  std::string call_;
  std::string bbs_;
  std::string terminalOut_;  // as it goes on the wire
  std::vector<ApiFrame> engineOut_;
};

}  // namespace orn
