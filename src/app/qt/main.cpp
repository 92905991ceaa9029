// ornbbs: the desktop by default, `--headless` for servers and tests.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/headless_view.h"
#include "app/ornbbs.h"
#include "app/qt/qt_timer_host.h"
#include "app/qt/signal_watcher.h"
#include "desktop/system_sound.h"
#include "app/qt/desktop_commands.h"
#include "desktop/icons.h"
#include "desktop/main_window.h"
#include "link/qt/tcp_engine_transport.h"
#include "platform/clock.h"

namespace {

// The headless display plays sounds like the desktop does.
class QtHeadlessView : public orn::HeadlessView {
 public:
  using HeadlessView::HeadlessView;
  void PlaySound(const std::string& file) override { orn::PlayWithSystemPlayer(file); }
};

void Usage() {
  std::fprintf(stderr,
               "usage: ornbbs [--headless] [--dir DIR]\n"
               "  --headless   run without a display: message boxes on standard error,\n"
               "               channel text on standard output\n"
               "  --dir DIR    serve the BBS in DIR (default: the working directory)\n");
}

int RunHeadless(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  orn::SystemClock clock;
  QtHeadlessView view(stderr, stdout);
  orn::QtTimerHost timers;
  orn::TcpEngineTransport engine;
  orn::ORNBBS bbs(clock, view, timers, engine);
  orn::SignalWatcher sigWatch;
  if (!bbs.Start()) {
    bbs.Shutdown();
    return bbs.quitCode();
  }
  QObject::connect(&sigWatch, &orn::SignalWatcher::terminateRequested, [&] {
    bbs.Shutdown();
    app.quit();
  });
  app.exec();
  bbs.Shutdown();
  return 0;
}

int RunDesktop(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("ornbbs");
  // Matches the installed ornbbs.desktop, so the desktop shows our icon and name.
  QGuiApplication::setDesktopFileName("ornbbs");
  QApplication::setWindowIcon(orn::AppIcon());
  orn::SystemClock clock;
  orn::QtTimerHost timers;
  orn::MainWindow window;
  orn::TcpEngineTransport engine;
  orn::ORNBBS bbs(clock, window, timers, engine);
  orn::SignalWatcher sigWatch;
  window.show();
  if (!bbs.Start()) {
    bbs.Shutdown();
    return bbs.quitCode();
  }
  window.setCloseQuestion([&] { return bbs.CanClose(true); });
  orn::DesktopCommands commands(window, bbs, clock);
  QObject::connect(&sigWatch, &orn::SignalWatcher::terminateRequested, [&] {
    window.setCloseQuestion(nullptr);
    window.close();
  });
  QObject::connect(&window, &orn::MainWindow::closed, [&] {
    bbs.Shutdown();
    app.quit();
  });
  app.exec();
  bbs.Shutdown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  const char* dir = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--headless")) {
      headless = true;
    } else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc) {
      dir = argv[++i];
    } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      Usage();
      return 0;
    } else if (argv[i][0] == '-' && std::strncmp(argv[i], "-platform", 9) != 0) {
      std::fprintf(stderr, "ornbbs: unknown option %s\n", argv[i]);
      Usage();
      return 2;
    }
  }
  if (dir && ::chdir(dir) != 0) {
    std::fprintf(stderr, "ornbbs: cannot change into %s: %s\n", dir, std::strerror(errno));
    return 2;
  }
  return headless ? RunHeadless(argc, argv) : RunDesktop(argc, argv);
}
