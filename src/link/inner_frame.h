// The BBS's own frames to and from the packet engine. Every sender builds an
// outgoing frame in this layout and every receiver reads an incoming one; the
// engine transport maps them to and from the engine's wire protocol.
//
// Outgoing: kind(1) port(1, 0 to 255) source(10) destination(10) n(int16 LE) data(n) NUL.
// Incoming: port(1, the engine's port 0 to 255) kind(1) then, by kind:
//   'C','I','S','U','T': n(16) text(n)
//   'D': n(16) callsign(11, NUL-terminated) data(n)
//   'M': q(16)            'Y': callsign at 4 (11) q(16) at 15
//   'H': callsign at 2 (11) first-heard(32) at 13, last-heard(32) at 17
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orn {

constexpr size_t kOutHeaderSize = 24;
// An incoming frame is delivered whole up to this size; more is cut off.
constexpr size_t kInFrameMax = 800;
constexpr size_t kInDataOffset = 15;  // data of a 'D' frame
constexpr int kMaxDigipeaters = 7;

struct OutFrame {
  char kind = 0;
  int port = 0;
  std::string source;       // at most 9 characters survive
  std::string destination;
  std::string data;
};

std::string BuildOutFrame(const OutFrame& f);
// False when the bytes are not a whole outgoing frame.
bool ParseOutFrame(const std::string& bytes, OutFrame* out);

// The digipeater block of a connect through digipeaters: count, then each
// call NUL-padded to 10 bytes. `via` holds calls separated by commas and/or
// blanks, in order.
std::string PrepareViaList(const std::string& via);
// The calls of a digipeater block (for the transport); empty when malformed.
std::vector<std::string> ParseViaList(const std::string& block);

std::string InTextFrame(char kind, int port, const std::string& text);
std::string InDataFrame(int port, const std::string& call, const std::string& data);
std::string InQueueFrame(int port, int q);
std::string InCallQueueFrame(int port, const std::string& call, int q);
std::string InHeardFrame(int port, const std::string& call, uint32_t first, uint32_t last);

// The callsign in an 11-byte field at `at`, up to its NUL.
std::string FieldCall(const char* frame, size_t size, size_t at);

}  // namespace orn
