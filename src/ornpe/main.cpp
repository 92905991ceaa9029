// ornpe: a virtual packet engine for running and testing the BBS on a machine
// without radios.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <poll.h>

#include "link/engine_session.h"
#include "ornpe/engine_probe.h"
#include "ornpe/engine_server.h"
#include "ornpe/ornpe_options.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char b = 1;
  (void)!::write(g_signalPipe[1], &b, 1);
}

std::string Stamp() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

// Sleeps for `ms` unless a signal comes first; false then.
bool Pause(int64_t ms) {
  pollfd p{g_signalPipe[0], POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(ms)) == 0;
}

std::string Where(const orn::EngineTarget& e) {
  const std::string host = e.host.find(':') != std::string::npos ? "[" + e.host + "]" : e.host;
  return host + ":" + std::to_string(e.port);
}

// ornpe's port numbers depend on every engine's list: it waits for each
// engine in turn, asking again with a growing pause. False when a signal
// ended the wait.
template <typename Log>
bool LearnEnginePorts(const orn::OrnpeOptions& options, orn::PortTable* table, Log log) {
  for (const orn::EngineTarget& e : options.engines) {
    int64_t pause = orn::EngineRelay::kFirstPauseMs;
    std::string text;
    std::string why;
    while (!orn::AskPortList(e.host, e.port, 5000, &text, &why)) {
      log("engine " + Where(e) + ": " + why + "; asking again in " + std::to_string(pause / 1000) + " s");
      if (!Pause(pause)) return false;
      pause = std::min(pause * 2, orn::EngineRelay::kMaxPauseMs);
    }
    const std::vector<orn::EnginePort> ports = orn::ParsePortList(text);
    constexpr size_t kShown = 300;
    log("engine " + Where(e) + ": " + std::to_string(ports.size()) + " radio port(s): " + text.substr(0, kShown) +
        (text.size() > kShown ? "..." : ""));
    const int left = table->AddEngine(Where(e), ports);
    if (left > 0) {
      log("engine " + Where(e) + ": ornpe takes " + std::to_string(ports.size() - static_cast<size_t>(left)) +
          " of its ports and leaves out " + std::to_string(left) + " (at most " +
          std::to_string(orn::PortTable::kMaxEnginePorts) + " from an engine, " +
          std::to_string(orn::PortTable::kMaxRadioPorts) + " in all, numbers 1 to 256)");
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  orn::OrnpeOptions options;
  const std::string error = orn::ParseOrnpeOptions(std::vector<std::string>(argv + 1, argv + argc), &options);
  if (!error.empty()) {
    std::fprintf(stderr, "ornpe: %s\n%s", error.c_str(), orn::OrnpeUsage().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(orn::OrnpeUsage().c_str(), stdout);
    return 0;
  }
  std::FILE* logFile = stderr;
  if (!options.logFile.empty()) {
    logFile = std::fopen(options.logFile.c_str(), "a");
    if (!logFile) {
      std::fprintf(stderr, "ornpe: cannot open %s\n", options.logFile.c_str());
      return 1;
    }
  }
  auto log = [logFile](const std::string& line) {
    std::fprintf(logFile, "%s %s\n", Stamp().c_str(), line.c_str());
    std::fflush(logFile);
  };

  QCoreApplication app(argc, argv);
  std::signal(SIGPIPE, SIG_IGN);
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
    char b;
    while (::read(g_signalPipe[0], &b, 1) == 1) {
    }
    app.quit();
  });
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);

  int rc = 0;
  orn::PortTable ports;
  if (!LearnEnginePorts(options, &ports, log)) {
    log("ornpe: stopped before the engines answered");
    if (logFile != stderr) std::fclose(logFile);
    return 1;
  }
  {
    orn::EngineServer server(options, ports, log);
    const std::string failed = server.Listen();
    if (!failed.empty()) {
      std::fprintf(stderr, "ornpe: cannot listen: %s\n", failed.c_str());
      rc = 1;
    } else {
      const std::string bbsGateway = options.bbsGateway ? " bbs-gateway=" + server.bbsGatewayAddress() : "";
      std::vector<std::string> own;
      for (int p = 0; p < options.ports; ++p) {
        std::string text = "ornpe virtual radio";
        if (p == 0) {
          text += ", station gateway " + server.gatewayAddress();
          if (options.bbsGateway) text += ", BBS gateway " + server.bbsGatewayAddress();
        }
        for (const orn::DialTarget& d : options.dials) text += ", dial " + d.call;
        own.push_back(text);
      }
      ports.SetVirtual(own);
      for (const std::string& line : ports.Lines()) log("ornpe: " + line);
      const std::string portList = options.engines.empty() ? "" : " ports=" + ports.Summary();
      log("ornpe: " + std::to_string(options.ports) + " virtual port(s), API " + server.apiAddress() +
          ", gateway " + server.gatewayAddress() +
          (options.bbsGateway ? ", BBS gateway " + server.bbsGatewayAddress() : ""));
      std::printf("ornpe ready api=%s gateway=%s%s%s\n", server.apiAddress().c_str(),
                  server.gatewayAddress().c_str(), bbsGateway.c_str(), portList.c_str());
      std::fflush(stdout);
      app.exec();
      log("ornpe: stopped");
    }
  }
  if (logFile != stderr) std::fclose(logFile);
  return rc;
}
