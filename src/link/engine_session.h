// One connection to the packet engine: the set-up exchange, and the mapping
// between the BBS's own frames and the engine's API frames in both
// directions.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/api_frame.h"
#include "link/engine_transport.h"

namespace orn {

// A radio port as the engine lists it.
struct EnginePort {
  int number = 0;  // the engine's own port number
  std::string description;
};

// Reads the port list text: "<count>;" then one entry per port, each
// "Port<N> <description>" or a bare description, all separated by ";".
// Entries reading "INVALID CHANNEL" are not ports.
std::vector<EnginePort> ParsePortList(const std::string& text);

// The monitor's text of a monitor frame ('I', 'S', 'U', 'T') from engine
// port `port`: the engine's own text when it reads as a monitored AX.25
// frame, otherwise a one-line summary.
std::string MonitorLine(char kind, int port, const std::string& data);

class EngineSession : public EngineTransportListener {
 public:
  using Deliver = std::function<void(const std::string& innerFrame)>;
  using Lost = std::function<void()>;

  EngineSession(EngineTransport& transport, Deliver deliver, Lost lost);
  ~EngineSession() override;

  // The set-up exchange, in the order the link needs it.
  bool Open(const std::string& host, int port, int timeoutMs);
  bool MonitorOn();
  bool QueryVersion(int timeoutMs);
  bool RequestPorts(int timeoutMs, std::string* text);
  bool RegisterCall(int port, const std::string& call, int timeoutMs);
  // The set-up is over: further frames are delivered as they arrive.
  void StartAsync();

  bool IsOpen() const { return transport_.IsOpen(); }
  void Close();

  // Sends one outgoing BBS frame; frames the engine has no use for are
  // dropped. False when nothing could be handed over.
  bool Send(const std::string& outFrame);

  // EngineTransportListener
  void OnEngineBytes(const char* data, size_t n) override;
  void OnEngineClosed() override;

 private:
  bool Await(char kind, int timeoutMs, ApiFrame* out);
  bool WriteFrame(const ApiFrame& f);
  void Dispatch(const ApiFrame& f);
  void Broken();

  EngineTransport& transport_;
  Deliver deliver_;
  Lost lost_;
  ApiFrameReader reader_;
  bool async_ = false;
  std::deque<ApiFrame> held_;  // frames that arrived during the set-up
};

}  // namespace orn
