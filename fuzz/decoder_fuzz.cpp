// Whatever a connected station sends, in whatever pieces: the whole BBS core
// (login, the command decoder, the operations, the store) takes it through
// the engine's frames, with the service timer ticking in between. Nothing may
// crash, overrun a buffer or leave the BBS directory.
//
// Input: the first byte sets the piece size; the rest is the station's text.
#include "fuzz_support.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "app/ornbbs.h"
#include "platform/clock.h"

using namespace orn;
using namespace orn::fuzz;

namespace {

FakeClock* clock_;
NullView* view_;
NullTimers* timers_;
ScriptedEngine* engine_;
ORNBBS* bbs_;

void Push(char kind, const std::string& from, const std::string& data) {
  ApiFrame f;
  f.kind = kind;
  f.callFrom = from;
  f.callTo = "XX9ORN-1";
  f.pid = 0xF0;
  f.data = data;
  const std::string bytes = EncodeApiFrame(f);
  if (EngineTransportListener* l = engine_->listener()) l->OnEngineBytes(bytes.data(), bytes.size());
}

void Tick() {
  clock_->Advance(1);
  timers_->FireAll();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/ornfuzz.XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
  std::ofstream("ORN.INI") << "[PERSONAL]\nMYCALL=XX9ORN-1\nSYSOP=1\n[RADIO]\nPORTS=1\n"
                              "[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\n";
  clock_ = new FakeClock(1'700'000'000);
  view_ = new NullView;
  timers_ = new NullTimers;
  engine_ = new ScriptedEngine;
  bbs_ = new ORNBBS(*clock_, *view_, *timers_, *engine_);
  if (!bbs_->Start()) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Push('C', "XX1ABC", std::string("*** CONNECTED To Station XX1ABC\r\0", 33));
  const size_t chunk = 1 + data[0] % 200;
  for (size_t at = 1; at < size; at += chunk) {
    Push('D', "XX1ABC", std::string(reinterpret_cast<const char*>(data) + at, std::min(chunk, size - at)));
    Tick();
  }
  for (int i = 0; i < 5; ++i) Tick();
  Push('d', "XX1ABC", std::string("*** DISCONNECTED From Station XX1ABC\r\0", 38));
  return 0;
}
