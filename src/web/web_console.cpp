#include "web/web_console.h"

#include <QDateTime>
#include <algorithm>
#include <QFile>
#include <QHostAddress>
#include <QUrl>
#include <QUrlQuery>
#include <cstdio>

#include "app/web_password.h"
#include "channel/channel.h"
#include "platform/file_names.h"
#include "platform/json.h"
#include "web/api_args.h"
#include "web/static_paths.h"

// The page's files travel inside the program (a resource of a static library).
static void InitWebResources() { Q_INIT_RESOURCE(web_static); }

namespace orn {
namespace {

const char* const kCookie = "ornweb";

int64_t NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// Station text may be in any code page; the browser gets UTF-8.
std::string Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toStdString(); }

std::string Header(const QHttpServerRequest& r, const char* name) { return r.value(name).toStdString(); }

// The client ends the connection with this request's answer.
bool WantsClose(const QHttpServerRequest& r) { return r.value("Connection").trimmed().toLower() == "close"; }

const char* Reason(int code) {
  switch (code) {
    case 200: return "OK";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 429: return "Too Many Requests";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

// The requests a GET may make: they change nothing, so they need no CSRF token.
bool ReadOnly(const std::vector<std::string>& parts) {
  const std::string a = parts.empty() ? "" : parts[0];
  const std::string b = parts.size() > 1 ? parts[1] : "";
  if (parts.size() == 1) return a == "status" || a == "page" || a == "sysop";
  return (a == "user" && (b == "list" || b == "show")) ||
         (a == "msg" && (b == "list" || b == "read" || b == "choices")) || (a == "fwd" && b == "queue") ||
         (a == "optimize" && b == "progress");
}

std::vector<std::string> Split(const QString& path) {
  std::vector<std::string> parts;
  for (const QString& p : path.split('/', Qt::SkipEmptyParts)) parts.push_back(p.toStdString());
  return parts;
}

}  // namespace

bool ParseListen(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
  std::string h = text.substr(0, colon);
  if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  const std::string p = text.substr(colon + 1);
  if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
  const int n = std::stoi(p);
  if (n < 1 || n > 65535) return false;
  if (h != "localhost" && QHostAddress(QString::fromStdString(h)).isNull()) return false;
  *host = h;
  *port = n;
  return true;
}

WebConsole::WebConsole(ControlSite site, ActivityLog* log, std::string dir, QObject* parent)
    : QAbstractHttpServer(parent), site_(site), handler_(site), log_(log), dir_(std::move(dir)) {
  InitWebResources();
  keepAlive_.setInterval(kKeepAliveMs);
  connect(&keepAlive_, &QTimer::timeout, this, [this] { KeepAlive(); });
  changedTimer_.setSingleShot(true);
  changedTimer_.setInterval(kChangedMs);
  connect(&changedTimer_, &QTimer::timeout, this, [this] { SendChanged(); });
  stepper_.setSingleShot(true);
  connect(&stepper_, &QTimer::timeout, this, [this] { StepJob(); });
}

WebConsole::~WebConsole() {
  // The connections go first, while the console they report to is whole:
  // a socket deleted later by the server's base would tell a half-gone
  // console that its stream ended.
  if (guard_) {
    guard_->close();
    for (QTcpSocket* s : guard_->findChildren<QTcpSocket*>()) {
      s->disconnect(this);
      s->abort();
    }
  }
  streams_.clear();
  for (int index : talks_) handler_.TalkEnd(index);
  if (job_) {
    job_->job->Answer();
    if (!job_->file.empty()) std::remove(job_->file.c_str());
  }
}

bool WebConsole::Listen(const std::string& hostPort, std::string* error) {
  std::string host;
  int port = 0;
  if (!ParseListen(hostPort, &host, &port)) {
    *error = "LISTEN=" + hostPort + " is not HOST:PORT (e.g. 127.0.0.1:8088)";
    return false;
  }
  const QHostAddress address = host == "localhost" ? QHostAddress(QHostAddress::LocalHost)
                                                   : QHostAddress(QString::fromStdString(host));
  auto guard = std::make_unique<WebGuard>();
  if (!guard->listen(address, static_cast<quint16>(port))) {
    *error = "cannot listen on " + hostPort + ": " + guard->errorString().toStdString();
    return false;
  }
  guard_ = guard.release();
  bind(guard_);  // the server takes it
  return true;
}

quint16 WebConsole::port() const { return guard_ ? guard_->serverPort() : 0; }

// ---- answers ----

WebConsole::Answer WebConsole::JsonAnswer(int code, const std::string& json) {
  Answer a;
  a.code = code;
  a.body = QByteArray::fromStdString(json);
  return a;
}

WebConsole::Answer WebConsole::Error(int code, const std::string& why) {
  return JsonAnswer(code, Json::Object().Set("error", Utf8(why)).Write());
}

void WebConsole::Reply(QTcpSocket* socket, const Answer& a) {
  if (!socket || socket->state() != QAbstractSocket::ConnectedState) return;
  QByteArray out = "HTTP/1.1 " + QByteArray::number(a.code) + ' ' + Reason(a.code) + "\r\n";
  out += "Content-Type: " + a.type + "\r\n";
  out += "Content-Length: " + QByteArray::number(a.body.size()) + "\r\n";
  out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\n";
  out += "Referrer-Policy: no-referrer\r\n";
  out += "Content-Security-Policy: default-src 'self'; frame-ancestors 'none'\r\n";
  for (const auto& [k, v] : a.headers) out += k + ": " + v + "\r\n";
  if (a.close) out += "Connection: close\r\n";
  out += "\r\n";
  out += a.body;
  socket->write(out);
  if (a.close) {
    socket->disconnectFromHost();
    return;
  }
  WebGuard::Answered(socket);
}

void WebConsole::missingHandler(const QHttpServerRequest&, QTcpSocket* socket) { Reply(socket, Error(404, "no such path")); }

bool WebConsole::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  WebGuard::Busy(socket);
  bool later = false;
  Answer a = Route(request, socket, &later);
  a.close = WantsClose(request);
  if (!later) Reply(socket, a);
  return true;
}

WebConsole::Answer WebConsole::Route(const QHttpServerRequest& request, QTcpSocket* socket, bool* later) {
  const std::string raw = request.url().path(QUrl::FullyEncoded).toStdString();
  const bool post = request.method() == QHttpServerRequest::Method::Post;
  const bool get = request.method() == QHttpServerRequest::Method::Get;
  const WebSessions::Session* session =
      sessions_.Find(CookieValue(Header(request, "Cookie"), kCookie), NowMs());
  if (raw != "/api" && raw.rfind("/api/", 0) != 0) {
    if (!get) return Error(405, "pages are read with GET");
    return StaticFile(request, raw, session);
  }
  if (!get && !post) return Error(405, "the API takes GET and POST");
  // The path's words as the browser wrote them: an encoded slash or dot
  // in a word is no word of ours.
  if (raw.find('%') != std::string::npos) return Error(404, "no such path");
  std::vector<std::string> parts = Split(QString::fromStdString(raw.substr(4)));
  if (parts.size() == 1 && parts[0] == "login") {
    if (!post) return Error(405, "log in with POST");
    return Login(request, socket, later, WantsClose(request));
  }
  if (!session) return Error(401, "log in first");
  if (post && !WebSessions::CsrfMatches(*session, Header(request, "X-CSRF-Token")))
    return Error(403, "the request lacks the session's X-CSRF-Token");
  if (parts.size() == 1 && parts[0] == "session") {
    if (!get) return Error(405, "read the session with GET");
    return JsonAnswer(200, Json::Object().Set("csrf", session->csrf).Set("call", site_.cfg->MyCall).Write());
  }
  if (parts.size() == 1 && parts[0] == "logout") {
    if (!post) return Error(405, "log out with POST");
    sessions_.Remove(CookieValue(Header(request, "Cookie"), kCookie));
    Answer a = JsonAnswer(200, "{}");
    a.headers.push_back({"Set-Cookie", QByteArray(kCookie) + "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0"});
    return a;
  }
  if (parts.size() == 1 && parts[0] == "live") {
    if (!get) return Error(405, "the live stream is a GET");
    *later = true;
    Answer a = Live(socket);
    if (a.code != 200) *later = false;
    return a;
  }
  Json body;
  if (post && !request.body().isEmpty()) {
    std::string why;
    if (!ParseJson(request.body().toStdString(), &body, &why)) return Error(400, "the body is no JSON: " + why);
    if (!body.IsObject()) return Error(400, "the body is a JSON object");
  }
  if (!parts.empty() && parts[0] == "talk") {
    if (get && parts.size() == 1) return Talk("", body);  // the chats open
    if (!post || parts.size() != 2)
      return Error(405, "GET /api/talk lists the chats; talk/start, talk/line and talk/end are POSTs");
    return Talk(parts[1], body);
  }
  if (parts.size() == 2 && parts[0] == "msg" && parts[1] == "import") {
    if (!post) return Error(405, "import with POST");
    return Import(body, socket, later, WantsClose(request));
  }
  if (parts.size() == 2 && parts[0] == "msg" && parts[1] == "export") {
    if (!get) return Error(405, "export is a GET (a download)");
    return Export(request);
  }
  if (!parts.empty() && parts[0] == "monitor") return Error(400, "the monitor is GET /api/live");
  return Control(parts, request, body, post);
}

WebConsole::Answer WebConsole::StaticFile(const QHttpServerRequest&, const std::string& rawPath,
                                          const WebSessions::Session* s) {
  std::string name;
  if (!StaticName(rawPath, &name)) return Error(404, "no such file");
  if (!s && !StaticIsPublic(name)) {
    Answer a;
    a.code = 303;
    a.type = "text/plain; charset=utf-8";
    a.body = "log in first\n";
    a.headers.push_back({"Location", "/login.html"});
    return a;
  }
  // Resource paths (":/") never reach the disk.
  QFile f(QString::fromStdString(":/web/" + name));
  if (!f.open(QIODevice::ReadOnly)) return Error(404, "no such file");
  Answer a;
  a.type = QByteArray::fromStdString(StaticType(name));
  a.body = f.readAll();
  return a;
}

WebConsole::Answer WebConsole::Login(const QHttpServerRequest& request, QTcpSocket* socket, bool* later,
                                     bool close) {
  const std::string address = request.remoteAddress().toString().toStdString();
  if (throttle_.Busy(address, NowMs())) return Error(429, "wait for the answer to the last try");
  Json body;
  std::string why;
  if (!ParseJson(request.body().toStdString(), &body, &why) || !body.Get("password").IsString())
    return Error(400, "the body is {\"password\":\"...\"}");
  const WebPasswordCheck check = CheckWebPassword(dir_, body.Get("password").AsString());
  if (check == WebPasswordCheck::kNoPassword)
    return Error(401, "no console password is set: set one with 'ornctl web password'");
  if (check == WebPasswordCheck::kWrong) {
    const int64_t delay = throttle_.Failed(address, NowMs());
    const int failures = throttle_.failures(address);
    if (log_) log_->writelog(65, failures, address, "web console: wrong password");
    std::fprintf(stderr, "ornbbs: web console: wrong password from %s (%d in a row)\n", address.c_str(), failures);
    *later = true;
    QPointer<QTcpSocket> s(socket);
    QTimer::singleShot(static_cast<int>(delay), Qt::PreciseTimer, this, [this, s, address, close] {
      throttle_.Answered(address);
      Answer a = Error(401, "wrong password");
      a.close = close;
      if (s) Reply(s, a);
    });
    return {};
  }
  throttle_.Succeeded(address);
  std::string id;
  const WebSessions::Session& session = sessions_.Create(NowMs(), &id);
  Answer a = JsonAnswer(200, Json::Object().Set("csrf", session.csrf).Write());
  QByteArray cookie = QByteArray(kCookie) + "=" + QByteArray::fromStdString(id) + "; HttpOnly; SameSite=Strict; Path=/";
  if (request.value("X-Forwarded-Proto").trimmed().toLower() == "https") cookie += "; Secure";
  a.headers.push_back({"Set-Cookie", cookie});
  return a;
}

// ---- live ----

WebConsole::Answer WebConsole::Live(QTcpSocket* socket) {
  streams_.erase(std::remove_if(streams_.begin(), streams_.end(), [](const auto& p) { return !p; }), streams_.end());
  if (static_cast<int>(streams_.size()) >= kMaxStreams) return Error(503, "too many live streams open");
  WebGuard::Streaming(socket);
  socket->write(
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\nCache-Control: no-store\r\n"
      "X-Accel-Buffering: no\r\nX-Content-Type-Options: nosniff\r\n\r\n: ornbbs\n\n");
  socket->write(QByteArray("event: backlog\ndata: ") + QByteArray::fromStdString(BacklogJson()) + "\n\n");
  streams_.emplace_back(socket);
  connect(socket, &QTcpSocket::disconnected, this, [this, socket] { DropStream(socket); });
  if (!keepAlive_.isActive()) keepAlive_.start();
  return {};
}

void WebConsole::DropStream(QTcpSocket* socket) {
  streams_.erase(std::remove_if(streams_.begin(), streams_.end(), [&](const auto& p) { return !p || p == socket; }),
                 streams_.end());
  if (streams_.empty()) keepAlive_.stop();
}

void WebConsole::Send(const char* event, const std::string& json) {
  if (streams_.empty()) return;
  const QByteArray bytes = QByteArray("event: ") + event + "\ndata: " + QByteArray::fromStdString(json) + "\n\n";
  for (const QPointer<QTcpSocket>& s : std::vector<QPointer<QTcpSocket>>(streams_)) {
    if (!s) continue;
    // A browser that does not read goes; it can open the stream again.
    if (s->bytesToWrite() > 1024 * 1024) {
      s->abort();
      continue;
    }
    s->write(bytes);
  }
}

void WebConsole::KeepAlive() {
  for (const QPointer<QTcpSocket>& s : streams_)
    if (s && s->bytesToWrite() == 0) s->write(": keep-alive\n\n");
}

void WebConsole::Remember(int index, const std::string& text) {
  Backlog& b = backlog_[index];
  b.pieces.push_back(text);
  b.bytes += text.size();
  while (b.bytes > kBacklogBytes && b.pieces.size() > 1) {
    b.bytes -= b.pieces.front().size();
    b.pieces.pop_front();
  }
}

std::string WebConsole::BacklogJson() const {
  Json all = Json::Object();
  if (!site_.client) return all.Write();
  for (const auto& [index, b] : backlog_) {
    TChannel* ch = site_.client->channel(index);
    if (!ch) continue;
    Json lines = Json::Array();
    for (const std::string& piece : b.pieces) lines.Push(Json(Utf8(piece)));
    all.Set(ch->IsMonitor() ? std::string("monitor") : MDIClient::ChannelName(*ch), std::move(lines));
  }
  return all.Write();
}

void WebConsole::ChannelLine(int index, const std::string& text) {
  if (!site_.client) return;
  TChannel* ch = site_.client->channel(index);
  if (!ch) return;
  // Kept whether or not a browser watches: one that opens the console later
  // sees what went on before.
  Remember(index, text);
  if (streams_.empty()) return;
  if (ch->IsMonitor()) {
    Send("monitor", Json::Object().Set("line", Utf8(text)).Write());
    return;
  }
  Send("channel",
       Json::Object().Set("channel", MDIClient::ChannelName(*ch)).Set("line", Utf8(text)).Write());
}

void WebConsole::Page(int index, const std::string& text) {
  if (!site_.client) return;
  TChannel* ch = site_.client->channel(index);
  if (!ch) return;
  Send("page", Json::Object()
                   .Set("channel", MDIClient::ChannelName(*ch))
                   .Set("call", Utf8(ch->UserCallOnly))
                   .Set("text", Utf8(text))
                   .Write());
}

void WebConsole::Changed(const char* what) {
  if (streams_.empty()) return;
  changed_.insert(what);
  if (!changedTimer_.isActive()) changedTimer_.start();
}

void WebConsole::SendChanged() {
  const std::set<std::string> what = std::move(changed_);
  changed_.clear();
  for (const std::string& w : what) Send("changed", Json::Object().Set("what", w).Write());
}

// ---- requests ----

WebConsole::Answer WebConsole::FromControl(const ControlAnswer& a) {
  if (a.status == 1) return Error(409, a.error);
  if (a.status != 0) return Error(400, a.error);
  Json doc;
  std::string why;
  // A command that says only that it was done answers in words.
  if (!ParseJson(a.out, &doc, &why)) {
    std::string text = a.out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return JsonAnswer(200, Json::Object().Set("message", Utf8(text)).Write());
  }
  return JsonAnswer(200, a.out);
}

WebConsole::Answer WebConsole::Control(const std::vector<std::string>& parts, const QHttpServerRequest& request,
                                       const Json& body, bool post) {
  if (parts.empty()) return Error(404, "no command");
  if (!post && !ReadOnly(parts)) return Error(405, "a change is a POST with the X-CSRF-Token header");
  std::vector<std::pair<std::string, std::string>> query;
  for (const auto& [k, v] : request.query().queryItems(QUrl::FullyDecoded)) query.push_back({k.toStdString(), v.toStdString()});
  ApiCall call;
  std::string why;
  if (!MapApiCall(parts, query, body, &call, &why)) return Error(400, why);
  if (call.args[0] == "talk") return Error(400, "a talk is POST /api/talk/start");
  if (call.args[0] == "msg" && call.args.size() > 1 && (call.args[1] == "import" || call.args[1] == "export"))
    return Error(400, "import and export go through /api/msg/import and /api/msg/export");
  const ControlAnswer a = handler_.Handle(call.args, call.input);
  if (a.job) return Error(400, "this request is not served here");
  return FromControl(a);
}

WebConsole::Answer WebConsole::Talk(const std::string& what, const Json& body) {
  // A chat whose station left (or that the desktop gave back) is over: the
  // BBS has taken the channel out of terminal mode, and the console forgets it.
  auto forgetEnded = [this] { std::erase_if(talks_, [this](int index) { return !handler_.TalkOpen(index); }); };
  if (what.empty()) {
    forgetEnded();
    return FromControl(handler_.Handle({"talk", "list", "--json"}, ""));
  }
  const Json& channel = body.Get("channel");
  if (!channel.IsString()) return Error(400, "the body names the \"channel\" (e.g. \"1-1\")");
  const std::string name = channel.AsString();
  if (name == "list") return Error(400, "the chats open are GET /api/talk");
  if (what == "start") {
    forgetEnded();
    const ControlAnswer a = handler_.Handle({"talk", name}, "");
    if (a.status != 0) return FromControl(a);
    talks_.insert(a.talk);
    std::string text = a.out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return JsonAnswer(200, Json::Object().Set("channel", name).Set("message", Utf8(text)).Write());
  }
  if (what != "line" && what != "end") return Error(404, "talk/start, talk/line or talk/end");
  std::string why;
  const int index = site_.client ? site_.client->FindNamedChannel(name, &why) : 0;
  if (index == 0) return Error(409, why);
  if (!talks_.count(index)) return Error(409, "no talk on channel " + name + ": start one first");
  if (what == "end") {
    handler_.TalkEnd(index);
    talks_.erase(index);
    return JsonAnswer(200, Json::Object().Set("channel", name).Set("talk", false).Write());
  }
  const Json& line = body.Get("line");
  if (!line.IsString()) return Error(400, "the body has the \"line\" to send");
  if (line.AsString().find_first_of("\r\n") != std::string::npos) return Error(400, "one line at a time");
  const bool on = handler_.TalkLine(index, line.AsString());
  if (!on) talks_.erase(index);
  return JsonAnswer(200, Json::Object().Set("channel", name).Set("talk", on).Write());
}

WebConsole::Answer WebConsole::Import(const Json& body, QTcpSocket* socket, bool* later, bool close) {
  const Json& input = body.Get("input");
  if (!input.IsString() || input.AsString().empty()) return Error(400, "the body has the exchange file as \"input\"");
  if (job_) return Error(409, "an import is already under way: try again once it is done");
  // Inside the BBS directory, under a name no station or sysop file has.
  const std::string file = JoinPath(dir_, "WEBIMP-" + WebSessions::RandomToken(8) + ".TMP");
  {
    QFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        f.write(input.AsString().data(), static_cast<qint64>(input.AsString().size())) !=
            static_cast<qint64>(input.AsString().size()))
      return Error(409, "cannot write the uploaded file into the BBS directory");
  }
  const ControlAnswer a = handler_.Handle({"msg", "import", file, "--json"}, "");
  if (!a.job) {
    std::remove(file.c_str());
    return FromControl(a);
  }
  job_ = std::make_unique<Job>(Job{a.job, QPointer<QTcpSocket>(socket), file, close});
  *later = true;
  stepper_.start(0);
  return {};
}

void WebConsole::StepJob() {
  if (!job_) return;
  if (!job_->job->Step(kStepMs)) {
    stepper_.start(0);
    return;
  }
  const std::unique_ptr<Job> done = std::move(job_);
  std::remove(done->file.c_str());
  Answer a = FromControl(done->job->Answer());
  a.close = done->close;
  if (done->socket) Reply(done->socket, a);
  Changed("msgs");
}

WebConsole::Answer WebConsole::Export(const QHttpServerRequest& request) {
  std::vector<std::string> args{"msg", "export", ""};
  const QString numbers = request.query().queryItemValue("numbers");
  for (const QString& n : numbers.split(',', Qt::SkipEmptyParts)) args.push_back(n.trimmed().toStdString());
  if (args.size() == 3) return Error(400, "name the messages: ?numbers=12,13");
  const std::string file = JoinPath(dir_, "WEBEXP-" + WebSessions::RandomToken(8) + ".TMP");
  args[2] = file;
  const ControlAnswer a = handler_.Handle(args, "");
  QFile f(QString::fromStdString(file));
  QByteArray data;
  if (a.status == 0 && f.open(QIODevice::ReadOnly)) data = f.readAll();
  f.close();
  std::remove(file.c_str());
  if (a.status != 0) return FromControl(a);
  Answer out;
  out.type = "text/plain; charset=utf-8";
  out.body = data;
  out.headers.push_back({"Content-Disposition", "attachment; filename=\"export.txt\""});
  return out;
}

}  // namespace orn
