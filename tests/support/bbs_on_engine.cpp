#include "support/bbs_on_engine.h"

#include <cstdlib>

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

}  // namespace orn::test
