// The sysop's web console: ornctl's requests as a JSON API under /api/,
// the live monitor and channels as server-sent events, and the page's
// files from the set compiled into the program. Qt HttpServer reads the
// requests; WebGuard keeps the bounds in front of it.
//
// Every answer is written by Reply(): in Qt 6.4 a QHttpServerResponder
// holds on to the request object, which the server reuses for the next
// request of the connection and deletes with it, so an answer given later
// (a wrong password's, an import's, a live stream's) cannot keep one.
#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHttpServerRequest>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/control.h"
#include "context/activity_log.h"
#include "platform/json.h"
#include "web/login_throttle.h"
#include "web/web_guard.h"
#include "web/web_sessions.h"

namespace orn {

class WebConsole : public QAbstractHttpServer {
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

  // `dir` holds WEB.PWD; `log` hears of wrong passwords.
  WebConsole(ControlSite site, ActivityLog* log, std::string dir, QObject* parent = nullptr);
  ~WebConsole() override;

  // Listens on "HOST:PORT" (an address or "localhost"); false with the reason.
  bool Listen(const std::string& hostPort, std::string* error);
  quint16 port() const;

  // What the BBS shows, for the live streams.
  void ChannelLine(int index, const std::string& text);
  void Page(int index, const std::string& text);
  void Changed(const char* what);

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  struct Answer {
    int code = 200;
    QByteArray type = "application/json";
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    bool close = false;  // the client asked for the connection to end with it
  };
  static Answer JsonAnswer(int code, const std::string& json);
  static Answer Error(int code, const std::string& why);
  static void Reply(QTcpSocket* socket, const Answer& a);

  Answer Route(const QHttpServerRequest& request, QTcpSocket* socket, bool* later);
  Answer StaticFile(const QHttpServerRequest& request, const std::string& rawPath, const WebSessions::Session* s);
  Answer Login(const QHttpServerRequest& request, QTcpSocket* socket, bool* later, bool close);
  Answer Live(QTcpSocket* socket);
  Answer Talk(const std::string& what, const Json& body);
  Answer Import(const Json& body, QTcpSocket* socket, bool* later, bool close);
  Answer Export(const QHttpServerRequest& request);
  Answer Control(const std::vector<std::string>& parts, const QHttpServerRequest& request, const Json& body,
                 bool post);
  static Answer FromControl(const ControlAnswer& a);

  void Send(const char* event, const std::string& json);
  void SendChanged();
  void KeepAlive();
  void StepJob();
  void DropStream(QTcpSocket* socket);

  ControlSite site_;
  ControlHandler handler_;
  ActivityLog* log_;
  std::string dir_;
  WebGuard* guard_ = nullptr;
  WebSessions sessions_;
  LoginThrottle throttle_;
  std::vector<QPointer<QTcpSocket>> streams_;
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
  std::set<std::string> changed_;
  std::set<int> talks_;
  // The import under way and the connection waiting for its answer.
  struct Job {
    std::shared_ptr<ControlJob> job;
    QPointer<QTcpSocket> socket;
    std::string file;
    bool close;
  };
  std::unique_ptr<Job> job_;
  QTimer stepper_;
};

// "HOST:PORT" as an address and port; false for anything else.
bool ParseListen(const std::string& text, std::string* host, int* port);

}  // namespace orn
