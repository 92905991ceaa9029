#include "support/bbs_on_engine.h"

#include <cstdlib>

#include "app/service_timers.h"

namespace orn::test {

BbsOnEngine::BbsOnEngine() : cd_(dir_.path()) {
  ::setenv("XDG_DATA_HOME", (dir_ / "xdg").c_str(), 1);
  clock_.SetLocal(2026, 12, 10, 12, 0);
}

BbsOnEngine::~BbsOnEngine() {
  if (bbs_) bbs_->Shutdown();
  bbs_.reset();
  ::unsetenv("XDG_DATA_HOME");
}

void BbsOnEngine::StartWith(const std::string& ini) {
  std::string text = ini;
  if (text.find("[PERSONAL]") == std::string::npos) text += "\n[PERSONAL]\nMYCALL=XX9ORN-1\n";
  dir_.Write("ORN.INI", text);
  bbs_ = std::make_unique<ORNBBS>(clock_, view_, timers_, engine_);
  ASSERT_TRUE(bbs_->Start());
  engine_.Pump();
}

int BbsOnEngine::Connects(int port, const std::string& call) {
  engine_.Event(port, "*** CONNECTED To Station " + call + "\r");
  return Client().FindChannel(port, call);
}

std::string BbsOnEngine::Sent() {
  clock_.Advance(3);
  for (int i = 1; i < Client().numberchildren; ++i)
    if (Ch(i).transparent) Link().TxTrans(Ch(i));
  std::string all;
  for (const ApiFrame& f : engine_.Take("D")) all += f.data;
  return all;
}

std::vector<std::string> BbsOnEngine::Disconnects() {
  std::vector<std::string> calls;
  for (const ApiFrame& f : engine_.Take("d")) calls.push_back(std::to_string(f.port) + ":" + f.callTo);
  return calls;
}

void BbsOnEngine::QueueReport(const std::string& call, int queued) {
  ApiFrame y;
  y.kind = 'Y';
  y.callFrom = "XX9ORN-1";
  y.callTo = call;
  y.data = std::string(1, static_cast<char>(queued)) + std::string(3, '\0');
  engine_.Push(y);
}

std::string BbsOnEngine::TickWithRoom(int channel) {
  Ch(channel).framequeue = 0;
  timers_.Fire(bbs_->serviceTimers()->servicetimer_id);
  return Sent();
}

}  // namespace orn::test
