// The core's timers on Qt's event loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

#include "context/views.h"

namespace orn {

class QtTimerHost : public TimerHost {
 public:
  bool SetTimer(int id, int periodMs, TimerClient* client) override;
  void KillTimer(int id) override;
  void SetPeriod(int id, int periodMs, TimerClient* client) override;

 private:
  std::map<int, std::unique_ptr<QTimer>> timers_;
};

}  // namespace orn
