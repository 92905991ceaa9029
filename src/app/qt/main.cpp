// ornbbs: the desktop by default, `--headless` for servers and tests.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/headless_view.h"
#include "app/ornbbs.h"
#include "app/qt/qt_timer_host.h"
#include "app/qt/control_server.h"
#include "app/qt/signal_watcher.h"
#include "app/tap_view.h"
#include "desktop/system_sound.h"
#include "app/qt/desktop_commands.h"
#include "desktop/desktop_layout.h"
#include "desktop/icons.h"
#include "desktop/main_window.h"
#include "link/qt/tcp_engine_transport.h"
#include "platform/clock.h"
#include "platform/file_names.h"
#include "app/web_password.h"
#include "web/web_console.h"

namespace {

// The headless display plays sounds like the desktop does.
class QtHeadlessView : public orn::HeadlessView {
 public:
  using HeadlessView::HeadlessView;
  void PlaySound(const std::string& file) override { orn::PlayWithSystemPlayer(file); }
};

// What the sysop's requests reach in a running BBS.
orn::ControlSite RunningSite(orn::ORNBBS& bbs, const orn::Clock& clock) {
  orn::ControlSite site;
  site.running = true;
  site.cfg = &bbs.cfg();
  site.ini = &bbs.ini();
  site.store = bbs.store();
  site.client = &bbs.client();
  site.partners = bbs.partners();
  site.optimizer = bbs.optimizer();
  site.timers = bbs.serviceTimers();
  site.clock = &clock;
  // One import at a time for the whole BBS, whichever door it came in by.
  static const auto imports = std::make_shared<std::weak_ptr<orn::ControlJob>>();
  site.imports = imports;
  return site;
}

// The sysop's socket for ornctl, once the BBS is up; it goes before the BBS
// shuts down. A BBS without it still serves its stations.
std::unique_ptr<orn::ControlServer> StartControl(orn::ORNBBS& bbs, orn::TapView& tap, const orn::Clock& clock) {
  const orn::ControlSite site = RunningSite(bbs, clock);
  auto server = std::make_unique<orn::ControlServer>(site);
  std::string error;
  if (!server->Listen(std::string("./") + orn::kControlSocketName, &error)) {
    std::fprintf(stderr, "ornbbs: no ornctl socket: %s\n", error.c_str());
    return nullptr;
  }
  orn::ControlServer* s = server.get();
  tap.onLine = [s](const std::string& line) { s->Broadcast(line); };
  return server;
}

// The web console, when ORN.INI's [WEB] LISTEN names where; a BBS whose
// console cannot start serves its stations all the same.
std::unique_ptr<orn::WebConsole> StartWeb(orn::ORNBBS& bbs, orn::TapView& tap, const orn::Clock& clock) {
  const std::string listen = bbs.ini().GetString("WEB", "LISTEN", "");
  if (listen.empty()) return nullptr;
  orn::ControlSite site = RunningSite(bbs, clock);
  site.console = "web";
  auto web = std::make_unique<orn::WebConsole>(site, &bbs.log(), orn::CurrentDirectory());
  std::string error;
  orn::WebSettings settings;
  settings.listen = listen;
  settings.proxies = bbs.ini().GetString("WEB", "PROXIES", "");
  settings.hosts = bbs.ini().GetString("WEB", "HOSTS", "");
  if (!web->Listen(settings, &error)) {
    std::fprintf(stderr, "ornbbs: no web console: [WEB] %s\n", error.c_str());
    return nullptr;
  }
  const bool hasPassword = orn::CheckWebPassword(".", "") != orn::WebPasswordCheck::kNoPassword;
  std::fprintf(stderr, "ornbbs: web console on %s%s\n", listen.c_str(),
               hasPassword ? "" : " (no password set: every login is refused; set one with 'ornctl web password')");
  orn::WebConsole* w = web.get();
  tap.onChannelLine = [w](int index, const std::string& text) { w->ChannelLine(index, text); };
  tap.onPage = [w](int index, const std::string& text) { w->Page(index, text); };
  tap.onChanged = [w](const char* what) { w->Changed(what); };
  return web;
}

void StopWeb(orn::TapView& tap, std::unique_ptr<orn::WebConsole>& web) {
  tap.onChannelLine = nullptr;
  tap.onPage = nullptr;
  tap.onChanged = nullptr;
  web.reset();
}

void Usage() {
  std::fprintf(stderr,
               "usage: ornbbs [--headless] [--echo-channels] [--dir DIR]\n"
               "  --headless       run without a display: message boxes and events on standard\n"
               "                   error, status changes on standard output\n"
               "  --echo-channels  headless: every channel's and the monitor's text on standard\n"
               "                   output as well (ORN.INI [LOG] ECHOCHANNELS=1 does the same);\n"
               "                   off by default, as it holds the stations' private mail\n"
               "  --dir DIR        serve the BBS in DIR (default: the working directory)\n");
}

int RunHeadless(int argc, char** argv, bool echoChannels) {
  QCoreApplication app(argc, argv);
  orn::SystemClock clock;
  // Standard output and error are the journal of a service, readable by
  // more than the sysop and kept for long: the stations' text (their
  // private mail among it) goes there only when the sysop asks for it.
  if (orn::IniFile("ORN.INI").GetInt("LOG", "ECHOCHANNELS", 0) == 1) echoChannels = true;
  QtHeadlessView view(stderr, echoChannels ? stdout : nullptr, stdout);
  orn::TapView tap(view);
  orn::QtTimerHost timers;
  orn::TcpEngineTransport engine;
  orn::ORNBBS bbs(clock, tap, timers, engine);
  orn::SignalWatcher sigWatch;
  if (!bbs.Start()) {
    bbs.Shutdown();
    return bbs.quitCode();
  }
  std::unique_ptr<orn::ControlServer> control = StartControl(bbs, tap, clock);
  std::unique_ptr<orn::WebConsole> web = StartWeb(bbs, tap, clock);
  auto stop = [&] {
    StopWeb(tap, web);
    tap.onLine = nullptr;
    control.reset();
    bbs.Shutdown();
  };
  QObject::connect(&sigWatch, &orn::SignalWatcher::terminateRequested, [&] {
    stop();
    app.quit();
  });
  app.exec();
  stop();
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
  orn::TapView tap(window);
  orn::TcpEngineTransport engine;
  orn::ORNBBS bbs(clock, tap, timers, engine);
  orn::SignalWatcher sigWatch;
  window.show();
  if (!bbs.Start()) {
    bbs.Shutdown();
    return bbs.quitCode();
  }
  std::unique_ptr<orn::ControlServer> control = StartControl(bbs, tap, clock);
  std::unique_ptr<orn::WebConsole> web = StartWeb(bbs, tap, clock);
  auto stop = [&] {
    StopWeb(tap, web);
    tap.onLine = nullptr;
    control.reset();
    bbs.Shutdown();
  };
  window.setCloseQuestion([&] { return bbs.CanClose(true); });
  orn::DesktopCommands commands(window, bbs, clock);
  // The windows where the sysop left them the last time.
  QSettings layout(orn::DesktopLayoutFile(), QSettings::IniFormat);
  layout.beginGroup(orn::DesktopLayoutGroup(QDir::currentPath()));
  commands.RestoreLayout(layout);
  QObject::connect(&sigWatch, &orn::SignalWatcher::terminateRequested, [&] {
    window.setCloseQuestion(nullptr);
    window.close();
  });
  QObject::connect(&window, &orn::MainWindow::closed, [&] {
    commands.SaveLayout(layout);
    layout.sync();
    stop();
    app.quit();
  });
  app.exec();
  stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  bool echoChannels = false;
  const char* dir = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--headless")) {
      headless = true;
    } else if (!std::strcmp(argv[i], "--echo-channels")) {
      echoChannels = true;
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
  return headless ? RunHeadless(argc, argv, echoChannels) : RunDesktop(argc, argv);
}
