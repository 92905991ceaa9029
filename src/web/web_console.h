// The sysop's web console: ornctl's requests as a JSON API under /api/,
// the live monitor and channels as server-sent events, and the page's
// files from the set compiled into the program. HttpServer (libmicrohttpd,
// on its own thread) reads and frames the requests; each whole request is
// handed to this object on the BBS's event loop, which answers it there.
#pragma once

#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/control.h"
#include "context/activity_log.h"
#include "platform/json.h"
#include "web/http_server.h"
#include "web/login_gate.h"
#include "web/login_throttle.h"
#include "web/web_peers.h"
#include "web/web_sessions.h"

namespace orn {

// ORN.INI's [WEB] section.
struct WebSettings {
  std::string listen;   // LISTEN=HOST:PORT
  std::string proxies;  // PROXIES=addresses of reverse proxies in front
  std::string hosts;    // HOSTS=names the console is reached by
};

class WebConsole : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxStreams = 8;
  // What a browser that opens the stream sees first of each window: the
  // last lines, at most this many bytes of them.
  static constexpr size_t kBacklogBytes = 32 * 1024;
  // A comment on quiet live streams, so that proxies keep them.
  static constexpr int kKeepAliveMs = 30000;
  // "changed" notices are gathered this long (an import changes the list
  // thousands of times).
  static constexpr int kChangedMs = 300;
  static constexpr int kStepMs = 40;
  // How often the sessions are checked against the clock and the password.
  static constexpr int kSweepMs = 2000;

  // `dir` holds WEB.PWD; `log` gets the console's audit lines.
  WebConsole(ControlSite site, ActivityLog* log, std::string dir, QObject* parent = nullptr);
  ~WebConsole() override;

  // Listens where `settings.listen` says; false with the reason.
  bool Listen(const WebSettings& settings, std::string* error);
  quint16 port() const;

  // What the BBS shows, for the live streams.
  void ChannelLine(int index, const std::string& text);
  void Page(int index, const std::string& text);
  void Changed(const char* what);

 private:
  using Answer = HttpResponse;
  using Exchange = std::shared_ptr<HttpExchange>;
  static Answer JsonAnswer(int code, const std::string& json);
  static Answer Error(int code, const std::string& why);

  // On the server's thread: what is refused before the body is read.
  std::optional<HttpResponse> Screen(const HttpRequest& r) const;
  void Handle(const Exchange& x);
  // An answer now, or none when the exchange is answered later.
  std::optional<Answer> Route(const Exchange& x, const std::string& client);
  Answer StaticFile(const std::string& rawPath, bool loggedIn);
  std::optional<Answer> Login(const Exchange& x, const std::string& client);
  void LoginChecked(const Exchange& x, const std::string& client, int check, const std::string& stamp);
  std::optional<Answer> Live(const Exchange& x, const std::string& sessionId);
  Answer Talk(const std::string& what, const Json& body);
  std::optional<Answer> Import(const Json& body, const Exchange& x);
  Answer Export(const std::vector<std::pair<std::string, std::string>>& query);
  Answer Control(const std::vector<std::string>& parts, const std::vector<std::pair<std::string, std::string>>& query,
                 const Json& body, bool post, const std::string& client);
  static Answer FromControl(const ControlAnswer& a);

  void Send(const char* event, const std::string& json);
  void SendChanged();
  void KeepAlive();
  void StepJob();
  // Ends what ran out, or what the password no longer covers, with its streams.
  void Sweep();
  void DropStreamsWithoutSession();
  void Audit(const std::string& what, const std::string& client);

  ControlSite site_;
  ControlHandler handler_;
  ActivityLog* log_;
  std::string dir_;
  WebPeers peers_;
  std::unique_ptr<HttpServer> server_;
  WebSessions sessions_;
  LoginThrottle throttle_;
  LoginGate gate_;
  QThreadPool hashers_;
  struct Stream {
    std::shared_ptr<HttpStream> stream;
    std::string session;
  };
  std::vector<Stream> streams_;
  // The last text of every window by its table index (0 the monitor).
  struct Backlog {
    std::deque<std::string> pieces;
    size_t bytes = 0;
  };
  std::map<int, Backlog> backlog_;
  void Remember(int index, const std::string& text);
  std::string BacklogJson() const;
  QTimer keepAlive_;
  QTimer changedTimer_;
  QTimer sweeper_;
  std::set<std::string> changed_;
  std::set<int> talks_;
  // The import under way and the request waiting for its answer.
  struct Job {
    std::shared_ptr<ControlJob> job;
    Exchange exchange;
    std::string file;
  };
  std::unique_ptr<Job> job_;
  QTimer stepper_;
};

// "HOST:PORT" as an address and port; false for anything else.
bool ParseListen(const std::string& text, std::string* host, int* port);

}  // namespace orn
