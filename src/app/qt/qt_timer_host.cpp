#include "app/qt/qt_timer_host.h"

namespace orn {

bool QtTimerHost::SetTimer(int id, int periodMs, TimerClient* client) {
  if (timers_.count(id)) return false;
  auto timer = std::make_unique<QTimer>();
  timer->setInterval(periodMs);
  timer->setTimerType(Qt::CoarseTimer);
  QObject::connect(timer.get(), &QTimer::timeout, [client, id] { client->OnTimer(id); });
  timer->start();
  timers_[id] = std::move(timer);
  return true;
}

void QtTimerHost::KillTimer(int id) { timers_.erase(id); }

void QtTimerHost::SetPeriod(int id, int periodMs, TimerClient* client) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) {
    SetTimer(id, periodMs, client);
    return;
  }
  // The timer may be the one whose tick is running: it is kept, not remade.
  it->second->setInterval(periodMs);
}

}  // namespace orn
