#include "web/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orn {
namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

// One connection's own state, in libmicrohttpd's socket context.
struct ConnState {
  std::string address;
  std::unique_ptr<void, void (*)(void*)> request{nullptr, [](void*) {}};
};

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
  for (const auto& [k, v] : headers)
    if (SameName(k, name)) return v;
  return {};
}

size_t HttpRequest::HeaderCount(const std::string& name) const {
  return static_cast<size_t>(
      std::count_if(headers.begin(), headers.end(), [&](const auto& h) { return SameName(h.first, name); }));
}

std::string AddressText(const void* sockaddr) {
  const auto* sa = static_cast<const struct sockaddr*>(sockaddr);
  char text[INET6_ADDRSTRLEN] = {};
  if (sa->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
  } else if (sa->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
    // A v4 client on a dual-stack socket is known by its v4 address.
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
      inet_ntop(AF_INET, reinterpret_cast<const uint8_t*>(&in6->sin6_addr) + 12, text, sizeof text);
    else
      inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
  }
  return text;
}

struct HttpServer::RequestCtx {
  HttpRequest req;
  bool started = false;
  bool handed = false;
  std::shared_ptr<HttpExchange> exchange;
};

// ---- the host's side ----

void HttpExchange::Resume() {
  if (conn_) MHD_resume_connection(conn_);
}

void HttpExchange::Answer(HttpResponse response) {
  std::lock_guard<std::mutex> lock(mu_);
  if (state_ != State::kWaiting || !conn_) return;
  response_ = std::move(response);
  state_ = State::kAnswered;
  Resume();
}

std::shared_ptr<HttpStream> HttpExchange::Stream(HttpResponse head) {
  auto stream = std::make_shared<HttpStream>();
  std::lock_guard<std::mutex> lock(mu_);
  if (state_ != State::kWaiting || !conn_) {
    stream->closed_ = true;
    return stream;
  }
  stream->conn_ = conn_;
  stream_ = stream;
  response_ = std::move(head);
  state_ = State::kStreaming;
  Resume();
  return stream;
}

bool HttpStream::Push(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  if (closed_ || !conn_) return false;
  if (pending_.size() + bytes.size() > kMaxQueued) {
    // A client this far behind is let go; it may open the stream again.
    closed_ = true;
    pending_.clear();
  } else {
    pending_ += bytes;
  }
  if (suspended_) {
    suspended_ = false;
    MHD_resume_connection(conn_);
  }
  return !closed_;
}

void HttpStream::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  closed_ = true;
  if (suspended_ && conn_) {
    suspended_ = false;
    MHD_resume_connection(conn_);
  }
}

bool HttpStream::open() const {
  std::lock_guard<std::mutex> lock(mu_);
  return !closed_ && conn_;
}

bool HttpStream::idle() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pending_.empty();
}

// ---- libmicrohttpd's callbacks ----

struct HttpServerGlue {
  struct StreamHold {
    HttpServer* server;
    std::shared_ptr<HttpStream> stream;
  };

  static MHD_Result Accept(void* cls, const struct sockaddr* addr, socklen_t) {
    auto* s = static_cast<HttpServer*>(cls);
    const std::string a = AddressText(addr);
    std::lock_guard<std::mutex> lock(s->mu_);
    if (s->stopping_ || s->open_ >= s->limits_.maxConnections) return MHD_NO;
    if (s->open_ + s->limits_.reserved >= s->limits_.maxConnections && !s->trusted_.count(a)) return MHD_NO;
    auto it = s->perAddress_.find(a);
    if (it != s->perAddress_.end() && it->second >= s->limits_.perAddress && !s->limits_.unlimited.count(a))
      return MHD_NO;
    return MHD_YES;
  }

  static void Notify(void* cls, MHD_Connection* c, void** socketCtx, enum MHD_ConnectionNotificationCode what) {
    auto* s = static_cast<HttpServer*>(cls);
    if (what == MHD_CONNECTION_NOTIFY_STARTED) {
      auto* st = new ConnState;
      const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
      if (info && info->client_addr) st->address = AddressText(info->client_addr);
      *socketCtx = st;
      std::lock_guard<std::mutex> lock(s->mu_);
      ++s->open_;
      ++s->perAddress_[st->address];
      return;
    }
    auto* st = static_cast<ConnState*>(*socketCtx);
    if (!st) return;
    {
      std::lock_guard<std::mutex> lock(s->mu_);
      --s->open_;
      auto it = s->perAddress_.find(st->address);
      if (it != s->perAddress_.end() && --it->second == 0) s->perAddress_.erase(it);
    }
    delete st;
    *socketCtx = nullptr;
  }

  static ConnState* StateOf(MHD_Connection* c) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<ConnState*>(info->socket_context) : nullptr;
  }

  // The first thing known of a request: its target as written. The
  // request's state is kept with the connection, so one whose head never
  // completes is freed with it.
  static void* UriLog(void*, const char* uri, MHD_Connection* c) {
    auto* ctx = new HttpServer::RequestCtx;
    ctx->req.target = uri ? uri : "";
    if (ConnState* st = StateOf(c)) {
      ctx->req.peer = st->address;
      st->request = std::unique_ptr<void, void (*)(void*)>(
          ctx, [](void* p) { delete static_cast<HttpServer::RequestCtx*>(p); });
    }
    return ctx;
  }

  static void Completed(void* cls, MHD_Connection* c, void** reqCls, enum MHD_RequestTerminationCode) {
    auto* s = static_cast<HttpServer*>(cls);
    auto* ctx = static_cast<HttpServer::RequestCtx*>(*reqCls);
    if (!ctx) return;
    if (ctx->exchange) {
      {
        std::lock_guard<std::mutex> lock(ctx->exchange->mu_);
        ctx->exchange->conn_ = nullptr;
        ctx->exchange->state_ = HttpExchange::State::kDone;
      }
      s->Forget(ctx->exchange);
    }
    *reqCls = nullptr;
    ConnState* st = StateOf(c);
    if (st && st->request.get() == ctx) {
      st->request.reset();
    } else {
      delete ctx;
    }
  }

  static MHD_Result Header(void* cls, enum MHD_ValueKind, const char* key, const char* value) {
    static_cast<HttpRequest*>(cls)->headers.emplace_back(key ? key : "", value ? value : "");
    return MHD_YES;
  }

  static MHD_Result Access(void* cls, MHD_Connection* c, const char*, const char* method, const char* version,
                           const char* upload, size_t* uploadSize, void** reqCls) {
    auto* ctx = static_cast<HttpServer::RequestCtx*>(*reqCls);
    if (!ctx) return MHD_NO;
    if (!ctx->started) {
      ctx->req.method = method ? method : "";
      ctx->req.version = version ? version : "";
      MHD_get_connection_values(c, MHD_HEADER_KIND, &Header, &ctx->req);
    }
    return static_cast<HttpServer*>(cls)->OnAccess(c, ctx, upload, uploadSize) ? MHD_YES : MHD_NO;
  }

  static ssize_t Read(void* cls, uint64_t, char* buf, size_t max) {
    HttpStream& s = *static_cast<StreamHold*>(cls)->stream;
    std::lock_guard<std::mutex> lock(s.mu_);
    if (!s.pending_.empty()) {
      const size_t n = std::min(max, s.pending_.size());
      std::memcpy(buf, s.pending_.data(), n);
      s.pending_.erase(0, n);
      return static_cast<ssize_t>(n);
    }
    if (s.closed_ || !s.conn_) return MHD_CONTENT_READER_END_OF_STREAM;
    // Nothing to send: the connection sleeps until the next Push.
    s.suspended_ = true;
    MHD_suspend_connection(s.conn_);
    return 0;
  }

  static void Free(void* cls) {
    auto* hold = static_cast<StreamHold*>(cls);
    {
      std::lock_guard<std::mutex> lock(hold->stream->mu_);
      hold->stream->conn_ = nullptr;
      hold->stream->closed_ = true;
      hold->stream->suspended_ = false;
    }
    {
      std::lock_guard<std::mutex> lock(hold->server->mu_);
      hold->server->streams_.erase(hold->stream);
    }
    delete hold;
  }

  static MHD_Response* Stream(HttpServer* server, const std::shared_ptr<HttpStream>& stream) {
    auto* hold = new StreamHold{server, stream};
    MHD_Response* r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &Read, hold, &Free);
    if (!r) delete hold;
    return r;
  }
};

// ---- the server ----

HttpServer::HttpServer(HttpLimits limits, Handler handler, Screen screen)
    : limits_(std::move(limits)), handler_(std::move(handler)), screen_(std::move(screen)) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Listen(const std::string& address, int port, std::string* error) {
  sockaddr_storage ss{};
  socklen_t len = 0;
  bool v6 = false;
  auto* in4 = reinterpret_cast<sockaddr_in*>(&ss);
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&ss);
  if (inet_pton(AF_INET, address.c_str(), &in4->sin_addr) == 1) {
    in4->sin_family = AF_INET;
    in4->sin_port = htons(static_cast<uint16_t>(port));
    len = sizeof *in4;
  } else if (inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<uint16_t>(port));
    len = sizeof *in6;
    v6 = true;
  } else {
    *error = address + " is no IP address";
    return false;
  }
  const int fd = ::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (v6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, 64) != 0) {
    *error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  sockaddr_storage bound{};
  socklen_t boundLen = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLen);
  port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                   : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
  if (v6) flags |= MHD_USE_IPv6;
  daemon_ = MHD_start_daemon(
      flags, 0, &HttpServerGlue::Accept, this, &HttpServerGlue::Access, this,
      MHD_OPTION_LISTEN_SOCKET, fd,
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(limits_.maxConnections + 8),
      MHD_OPTION_CONNECTION_TIMEOUT, limits_.idleSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits_.connectionMemory,
      MHD_OPTION_URI_LOG_CALLBACK, &HttpServerGlue::UriLog, this,
      MHD_OPTION_NOTIFY_COMPLETED, &HttpServerGlue::Completed, this,
      MHD_OPTION_NOTIFY_CONNECTION, &HttpServerGlue::Notify, this,
      MHD_OPTION_STRICT_FOR_CLIENT, 1,
      MHD_OPTION_END);
  if (!daemon_) {
    ::close(fd);
    *error = "the HTTP server did not start";
    return false;
  }
  return true;
}

void HttpServer::Stop() {
  if (!daemon_) return;
  std::set<std::shared_ptr<HttpExchange>> waiting;
  std::set<std::shared_ptr<HttpStream>> streams;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    waiting = waiting_;
    streams = streams_;
  }
  // Nothing may sleep when the server stops: every waiting request is
  // answered and every stream woken to its end.
  HttpResponse bye;
  bye.code = 503;
  bye.body = "{\"error\":\"the BBS is stopping\"}";
  bye.close = true;
  for (const auto& x : waiting) x->Answer(bye);
  for (const auto& s : streams) s->Close();
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  for (const auto& x : waiting) {
    std::lock_guard<std::mutex> lock(x->mu_);
    x->conn_ = nullptr;
    x->state_ = HttpExchange::State::kDone;
  }
  for (const auto& s : streams) {
    std::lock_guard<std::mutex> lock(s->mu_);
    s->conn_ = nullptr;
    s->closed_ = true;
  }
  std::lock_guard<std::mutex> lock(mu_);
  waiting_.clear();
  streams_.clear();
}

void HttpServer::SetTrusted(std::set<std::string> addresses) {
  std::lock_guard<std::mutex> lock(mu_);
  trusted_ = std::move(addresses);
}

int HttpServer::openConnections() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(open_);
}

void HttpServer::Forget(const std::shared_ptr<HttpExchange>& x) {
  std::lock_guard<std::mutex> lock(mu_);
  waiting_.erase(x);
}

void HttpServer::AddHeaders(MHD_Response* resp, const HttpResponse& r) const {
  if (!r.type.empty()) MHD_add_response_header(resp, "Content-Type", r.type.c_str());
  for (const auto& [k, v] : common_) MHD_add_response_header(resp, k.c_str(), v.c_str());
  for (const auto& [k, v] : r.headers) MHD_add_response_header(resp, k.c_str(), v.c_str());
  if (r.close) MHD_add_response_header(resp, "Connection", "close");
}

// libmicrohttpd leaves out the body of an answer to HEAD by itself.
bool HttpServer::QueueAnswer(MHD_Connection* c, const HttpResponse& r) {
  MHD_Response* resp =
      MHD_create_response_from_buffer(r.body.size(), const_cast<char*>(r.body.data()), MHD_RESPMEM_MUST_COPY);
  if (!resp) return false;
  AddHeaders(resp, r);
  const bool ok = MHD_queue_response(c, static_cast<unsigned>(r.code), resp) == MHD_YES;
  MHD_destroy_response(resp);
  return ok;
}

int HttpServer::OnAccess(MHD_Connection* c, RequestCtx* ctx, const char* upload, size_t* uploadSize) {
  HttpRequest& req = ctx->req;
  auto refuse = [&](int code, const char* why) {
    HttpResponse r;
    r.code = code;
    r.body = std::string("{\"error\":\"") + why + "\"}";
    r.close = true;
    return QueueAnswer(c, r) ? 1 : 0;
  };
  if (!ctx->started) {
    ctx->started = true;
    // A request whose length is told two ways could be read two ways by a
    // proxy in front: one may smuggle a second request in.
    const std::string length = req.Header("Content-Length");
    if (req.HeaderCount("Content-Length") > 1 || (!length.empty() && req.HeaderCount("Transfer-Encoding")))
      return refuse(400, "the request's length is told twice");
    if (!length.empty()) {
      if (length.size() > 12 || length.find_first_not_of("0123456789") != std::string::npos)
        return refuse(400, "a bad Content-Length");
      if (std::stoull(length) > limits_.maxBody) return refuse(413, "the request's body is over 1 MiB");
    }
    if (screen_) {
      if (std::optional<HttpResponse> r = screen_(req)) {
        r->close = true;
        return QueueAnswer(c, *r) ? 1 : 0;
      }
    }
    return 1;
  }
  if (*uploadSize) {
    // A chunked body past the bound: nothing more is read, the connection goes.
    if (!upload || req.body.size() + *uploadSize > limits_.maxBody) return 0;
    req.body.append(upload, *uploadSize);
    *uploadSize = 0;
    return 1;
  }
  if (!ctx->handed) {
    ctx->handed = true;
    auto x = std::make_shared<HttpExchange>();
    x->request_ = req;
    x->conn_ = c;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return refuse(503, "the BBS is stopping");
      waiting_.insert(x);
    }
    ctx->exchange = x;
    MHD_suspend_connection(c);
    handler_(x);
    return 1;
  }
  // Resumed: the host has answered.
  const std::shared_ptr<HttpExchange> x = ctx->exchange;
  if (!x) return 0;
  int result = 1;
  std::shared_ptr<HttpStream> stream;
  {
    std::lock_guard<std::mutex> lock(x->mu_);
    if (x->state_ == HttpExchange::State::kAnswered) {
      result = QueueAnswer(c, x->response_) ? 1 : 0;
    } else if (x->state_ == HttpExchange::State::kStreaming) {
      stream = x->stream_;
      MHD_Response* r = HttpServerGlue::Stream(this, stream);
      if (!r) {
        result = 0;
      } else {
        AddHeaders(r, x->response_);
        result = MHD_queue_response(c, static_cast<unsigned>(x->response_.code), r) == MHD_YES ? 1 : 0;
        MHD_destroy_response(r);
      }
    } else {
      result = 0;
    }
    x->state_ = HttpExchange::State::kDone;
  }
  if (stream && result) {
    std::lock_guard<std::mutex> lock(mu_);
    streams_.insert(stream);
  }
  Forget(x);
  return result;
}

}  // namespace orn
