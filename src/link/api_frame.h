// Frames of the packet-engine TCP API: a 36-byte header (port, kind, pid, two
// callsigns, data length) and the data. Used by the BBS's transport and by the
// virtual engine alike. Integers are little-endian on every host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace orn {

constexpr size_t kApiHeaderSize = 36;
// The engine closes a client that announces more than this, and loses the slot.
constexpr uint32_t kApiMaxData = 2122;

struct ApiFrame {
  uint8_t port = 0;
  char kind = 0;
  uint8_t pid = 0;
  std::string callFrom;  // at most 9 characters go on the wire
  std::string callTo;
  std::string data;
};

// The wire bytes of a frame. Callsigns are cut to 9 characters and NUL-padded.
std::string EncodeApiFrame(const ApiFrame& f);

// Splits a byte stream into frames. A partial frame waits for its remaining
// bytes; a length field over kApiMaxData is a broken stream.
class ApiFrameReader {
 public:
  enum class Result { Frame, NeedMore, Broken };

  void Feed(const char* bytes, size_t n) { buf_.append(bytes, n); }
  void Feed(const std::string& bytes) { buf_ += bytes; }
  // Takes the next whole frame off the stream.
  Result Next(ApiFrame* out);
  size_t buffered() const { return buf_.size() - pos_; }
  void Clear() {
    buf_.clear();
    pos_ = 0;
  }

 private:
  std::string buf_;
  size_t pos_ = 0;
};

// A callsign as the engine wants it: upper case, at most 9 characters, and
// SSID 0 written without "-0".
std::string EngineCall(const std::string& call);

}  // namespace orn
