#include "app/qt/signal_watcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace orn {
namespace {

int g_pipe[2] = {-1, -1};

void OnSignal(int sig) {
  const unsigned char b = static_cast<unsigned char>(sig);
  (void)!::write(g_pipe[1], &b, 1);
}

}  // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SignalWatcher::readSignal);
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  // A station or engine that goes away mid-write must not kill the BBS.
  std::signal(SIGPIPE, SIG_IGN);
}

SignalWatcher::~SignalWatcher() {
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
}

void SignalWatcher::readSignal() {
  unsigned char b;
  while (::read(g_pipe[0], &b, 1) == 1) emit terminateRequested(b);
}

}  // namespace orn
