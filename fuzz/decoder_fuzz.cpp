// Whatever a connected station sends, in whatever pieces: the whole BBS core
// (login, the command decoder, the operations, the store) takes it through
// the engine's frames, with the service timer ticking in between. Nothing may
// crash, overrun a buffer or leave the BBS directory.
//
// Input: the first byte sets the piece size; the rest is the station's text.
#include "fuzz_support.h"

#include <cstdint>
#include <string>

using namespace orn::fuzz;

namespace {

FuzzBbs* bbs_;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  bbs_ = new FuzzBbs("ornfuzz",
                     "[PERSONAL]\nMYCALL=XX9ORN-1\nSYSOP=1\n[RADIO]\nPORTS=1\n"
                     "[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\n",
                     [] {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bbs_->Connected("XX1ABC");
  const size_t chunk = 1 + data[0] % 200;
  for (size_t at = 1; at < size; at += chunk) {
    bbs_->Push('D', "XX1ABC", std::string(reinterpret_cast<const char*>(data) + at, std::min(chunk, size - at)));
    bbs_->Tick();
  }
  for (int i = 0; i < 5; ++i) bbs_->Tick();
  bbs_->Disconnected("XX1ABC");
  return 0;
}
