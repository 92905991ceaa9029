// The console's HTTP server: libmicrohttpd, run on a thread of its own.
// It parses and frames every request and answer (HTTP/1.0 and 1.1,
// keep-alive, HEAD, chunked bodies, time-outs); this class adds the bounds
// the console wants (connections per address, a body's size, hosts) and
// hands each whole request to the host, which answers it from its own
// thread whenever it is ready. Nothing here knows the console's paths.
//
// Threads: the handler and the screen run on the server's thread and must
// not block; HttpExchange and HttpStream may be used from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;
struct MHD_Response;

namespace orn {

struct HttpRequest {
  std::string method;   // "GET", "HEAD", "POST", ...
  std::string target;   // the path and query as the client wrote them, still encoded
  std::string version;  // "HTTP/1.1"
  std::string peer;     // the socket's address
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The first value of a header, its name in any case; empty when absent.
  std::string Header(const std::string& name) const;
  size_t HeaderCount(const std::string& name) const;
};

struct HttpResponse {
  int code = 200;
  std::string type = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  bool close = false;  // the connection ends with this answer
};

// An answer without an end (server-sent events): bytes pushed as they come.
class HttpStream {
 public:
  // A client that reads less than this falls behind and is let go.
  static constexpr size_t kMaxQueued = 1024 * 1024;

  // False once the stream has ended (closed, or its client gone or behind).
  bool Push(const std::string& bytes);
  // Ends the stream once what is queued has gone.
  void Close();
  bool open() const;
  bool idle() const;  // nothing waits to be sent

 private:
  friend class HttpServer;
  friend class HttpExchange;
  friend struct HttpServerGlue;
  mutable std::mutex mu_;
  MHD_Connection* conn_ = nullptr;  // null once the server let the connection go
  std::string pending_;
  bool closed_ = false;
  bool suspended_ = false;
};

// One request waiting for its answer.
class HttpExchange {
 public:
  const HttpRequest& request() const { return request_; }
  // The answer; once. Later calls, or calls after the client left, do nothing.
  void Answer(HttpResponse response);
  // Answers with `head`'s code and headers and a body that goes on: the
  // stream carries it.
  std::shared_ptr<HttpStream> Stream(HttpResponse head);

 private:
  friend class HttpServer;
  friend struct HttpServerGlue;
  enum class State { kWaiting, kAnswered, kStreaming, kDone };
  HttpRequest request_;
  std::mutex mu_;
  MHD_Connection* conn_ = nullptr;  // suspended until the answer comes
  State state_ = State::kWaiting;
  HttpResponse response_;
  std::shared_ptr<HttpStream> stream_;
  void Resume();  // with mu_ held
};

struct HttpLimits {
  size_t maxBody = 1024 * 1024;
  // A request's line and head must fit in this (and the connection's buffers).
  size_t connectionMemory = 24 * 1024;
  unsigned idleSeconds = 10;
  unsigned maxConnections = 256;
  unsigned perAddress = 16;
  // The last connections of all are kept for addresses that hold a session.
  unsigned reserved = 32;
  // Addresses not bound by perAddress (a reverse proxy speaks for many).
  std::set<std::string> unlimited;
};

class HttpServer {
 public:
  // Gets each whole request; answers through the exchange, now or later.
  using Handler = std::function<void(std::shared_ptr<HttpExchange>)>;
  // Looks at a request's head before its body is read: an answer here ends
  // the request (and its connection) without the body.
  using Screen = std::function<std::optional<HttpResponse>(const HttpRequest&)>;

  HttpServer(HttpLimits limits, Handler handler, Screen screen);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on an address ("127.0.0.1", "::1", "0.0.0.0"...) and port (0:
  // any); false with the reason.
  bool Listen(const std::string& address, int port, std::string* error);
  uint16_t port() const { return port_; }
  // Answers what still waits (503), ends the streams and stops.
  void Stop();

  // Addresses that hold a logged-in session: they may use the reserved
  // connections.
  void SetTrusted(std::set<std::string> addresses);
  int openConnections() const;

  // Headers every answer carries (security policy and the like).
  void SetCommonHeaders(std::vector<std::pair<std::string, std::string>> headers) { common_ = std::move(headers); }

 private:
  friend struct HttpServerGlue;  // libmicrohttpd's callbacks
  struct RequestCtx;
  int OnAccess(MHD_Connection* c, RequestCtx* ctx, const char* upload, size_t* uploadSize);
  bool QueueAnswer(MHD_Connection* c, const HttpResponse& r);
  void AddHeaders(MHD_Response* resp, const HttpResponse& r) const;
  void Forget(const std::shared_ptr<HttpExchange>& x);

  HttpLimits limits_;
  Handler handler_;
  Screen screen_;
  std::vector<std::pair<std::string, std::string>> common_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;

  mutable std::mutex mu_;
  bool stopping_ = false;
  std::map<std::string, unsigned> perAddress_;
  unsigned open_ = 0;
  std::set<std::string> trusted_;
  std::set<std::shared_ptr<HttpExchange>> waiting_;
  std::set<std::shared_ptr<HttpStream>> streams_;
};

// The text form of a socket address ("127.0.0.1", "::1"); empty for others.
std::string AddressText(const void* sockaddr);

}  // namespace orn
