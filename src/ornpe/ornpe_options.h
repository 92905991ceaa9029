// The command line of ornpe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orn {

// A station on the air that is a TCP peer: a connect to `call` dials
// host:port.
struct DialTarget {
  std::string call;
  std::string host;
  uint16_t port = 0;
  bool raw = false;  // no telnet at all: bytes pass exactly as they are
};

// A real packet engine whose radio ports ornpe passes on.
struct EngineTarget {
  std::string host;
  uint16_t port = 0;
};

struct OrnpeOptions {
  std::string apiHost = "127.0.0.1";
  uint16_t apiPort = 8000;
  std::string gatewayHost = "127.0.0.1";
  uint16_t gatewayPort = 6300;
  bool bbsGateway = false;  // the gateway for BBSes calling in over telnet
  std::string bbsGatewayHost;
  uint16_t bbsGatewayPort = 0;
  bool bbsGatewayRaw = false;  // every caller is raw TCP, whatever it sends first
  std::vector<DialTarget> dials;
  std::vector<EngineTarget> engines;  // their ports come first, in this order
  int ports = 1;
  int64_t retryMs = 5000;
  std::string bbs;      // "" = the oldest registration on port 0
  std::string logFile;  // "" = standard error
  bool help = false;
};

// Fills `out` from the arguments (without the program name). Returns "" or
// what is wrong.
std::string ParseOrnpeOptions(const std::vector<std::string>& args, OrnpeOptions* out);

// The arguments an ini file stands for: [ornpe] listen, ports, retry-ms,
// bbs, log; [gateway] listen, bbs; [bbs-gateway] listen, raw; [engine NAME]
// address (one section per engine, in order); [dial CALL] address, raw.
// Returns "" or what is wrong, with the line.
std::string ConfigArgs(const std::string& text, std::vector<std::string>* args);

// "HOST:PORT", "[v6addr]:PORT"; port 0 lets the system choose.
bool ParseHostPort(const std::string& text, std::string* host, uint16_t* port);

std::string OrnpeUsage();

}  // namespace orn
