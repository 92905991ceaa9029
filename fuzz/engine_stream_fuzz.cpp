// Arbitrary bytes from the packet engine, after a normal set-up, into a BBS
// with channels on two ports. Nothing the engine sends may crash the BBS or
// make it write outside its buffers.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "fuzz_support.h"

#include "context/activity_log.h"
#include "context/config.h"
#include "channel/channel.h"
#include "channel/mdi_client.h"
#include "link/api_frame.h"
#include "platform/clock.h"
#include "platform/code_pages.h"

using namespace orn;
using namespace orn::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/ornfuzz.XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeClock clock(1'700'000'000);
  Config cfg;
  VarInit(cfg);
  cfg.MyCall = "XX9ORN-1";
  cfg.maxport = 2;
  cfg.Ports[0].paclen = 128;
  cfg.Ports[1].paclen = 256;
  ActivityLog log(clock);
  CodePages cp;
  NullView view;
  NullTimers timers;
  ScriptedEngine engine;
  MDIClient client(cfg, log, clock, cp, view, engine, timers);
  client.AddChannel();
  for (int port = 0; port < 2; ++port) {
    for (int c = 1; c <= 2; ++c) {
      TChannel* ch = client.AddChannel();
      ch->TncNumber = port + 1;
      ch->TncPortNumber = port;
      ch->ChannelNumber = c;
      ch->ResetChannel();
    }
  }
  client.link().SetupWindow();
  // The first byte sets how the stream is cut into reads.
  const size_t chunk = size ? 1 + data[0] % 64 : 1;
  for (size_t at = 1; at < size && engine.listener(); at += chunk) {
    const size_t n = std::min(chunk, size - at);
    engine.listener()->OnEngineBytes(reinterpret_cast<const char*>(data) + at, n);
    if (at % 7 == 0) client.link().FlushHeldOutput();
  }
  return 0;
}
