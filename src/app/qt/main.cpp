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
#include "app/qt/system_sound.h"
#include "desktop/main_window.h"
#include "desktop/msg_window.h"
#include "desktop/users_window.h"
#include "store/store.h"
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
  // The database windows, made when first asked for; hidden, not closed.
  orn::UsersWindow* users = nullptr;
  orn::MsgWindow* msgs = nullptr;
  window.addMenuCommand("&System", "&Users Data Base", [&] {
    if (!bbs.store()) return;
    if (!users) users = new orn::UsersWindow(bbs.store()->OpenDbase(), bbs.cfg().bbspath, bbs.client().codePages());
    window.ShowInArea(users);
  });
  window.addMenuCommand("&System", "&Messages Data Base", [&] {
    if (!bbs.store()) return;
    if (!msgs) {
      orn::MsgAdminContext ctx;
      ctx.store = bbs.store();
      ctx.clock = &clock;
      ctx.ownCall = bbs.cfg().MyCallOut;
      ctx.routingHeader = [&] {
        orn::TChannel* monitor = bbs.client().channel(0);
        return monitor ? monitor->Expand(bbs.cfg().FWDMSGHEADER) : std::string();
      };
      msgs = new orn::MsgWindow(std::move(ctx), bbs.store()->OpenDbase(), bbs.client().codePages());
    }
    window.ShowInArea(msgs);
  });
  window.onUsersChanged = [&](long) {
    if (users && users->isVisible()) users->ShowAllU();
  };
  window.onMsgsChanged = [&](long) {
    if (msgs && msgs->isVisible()) msgs->ShowAllM();
  };
  window.addMenuCommand(
      "&System", "&Optimizing DB",
      [&] {
        if (bbs.optimizer()) bbs.optimizer()->StartOptimize(true);
      },
      [&] { return bbs.optimizer() && bbs.optimizer()->repcheck; });
  window.addMenuCommand(
      "&System", "OemToChar", [&] { orn::ToggleOemAnsi(bbs.ini(), bbs.cfg()); }, [&] { return bbs.cfg().OEMANSI; });
  window.addMenuCommand(
      "&System", "CharToOem", [&] { orn::ToggleAnsiOem(bbs.ini(), bbs.cfg()); }, [&] { return bbs.cfg().ANSIOEM; });
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
