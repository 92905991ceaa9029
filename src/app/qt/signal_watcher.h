// Turns SIGTERM and SIGINT into a Qt signal on the event loop, so that the
// BBS shuts down in order instead of dying in the middle of a write.
#pragma once

#include <QObject>
#include <QSocketNotifier>

namespace orn {

class SignalWatcher : public QObject {
  Q_OBJECT
 public:
  explicit SignalWatcher(QObject* parent = nullptr);
  ~SignalWatcher() override;

 signals:
  void terminateRequested(int signal);

 private:
  void readSignal();
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace orn
