// Output for one station held back for a moment, so that a short answer and
// what follows it leave in one frame instead of many small ones.
#pragma once

#include <cstdint>
#include <string>

namespace orn {

// The hold buffer holds at most one packet.
constexpr int kMaxHeld = 256;

class HeldOutput {
 public:
  virtual ~HeldOutput() = default;
  // Where the held bytes go: the engine port and the station's call.
  virtual int HeldPort() const = 0;
  virtual std::string HeldCall() const = 0;

  bool transparent = false;      // bytes are held
  int64_t transparenttimer = 0;  // when they leave at the latest, in ms (Clock::NowMs)
  char trans[kMaxHeld] = {};
  int transcount = 0;
  // Connected frames handed to the engine so far: a paced step that put any
  // out asks for the link's queue before it takes the next.
  uint64_t framesSent = 0;
};

}  // namespace orn
