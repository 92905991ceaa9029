#include "web/web_console.h"

#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
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
// The activity log's event for the console's audit lines.
constexpr int kAuditEvent = 70;

int64_t NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// Station text may be in any code page; the browser gets UTF-8.
std::string Utf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toStdString(); }

bool StartsWith(const std::string& s, const char* head) { return s.rfind(head, 0) == 0; }

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The requests a GET may make: they change nothing, so they need no CSRF
// token. A GET's query may name what it reads (`operand`) and nothing that
// would become another command word.
struct ReadRequest {
  std::vector<std::string> words;
  const char* operand;
};
const ReadRequest* FindRead(const std::vector<std::string>& parts) {
  static const std::vector<ReadRequest> kReads = {
      {{"status"}, nullptr},          {{"page"}, nullptr},          {{"sysop"}, nullptr},
      {{"user", "list"}, nullptr},    {{"user", "show"}, "call"},   {{"msg", "list"}, nullptr},
      {{"msg", "read"}, "number"},    {{"msg", "choices"}, nullptr}, {{"fwd", "queue"}, "call"},
      {{"optimize", "progress"}, nullptr}};
  for (const ReadRequest& r : kReads)
    if (r.words == parts) return &r;
  return nullptr;
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    if (end > pos) parts.push_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

std::vector<std::pair<std::string, std::string>> QueryItems(const std::string& query) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [k, v] : QUrlQuery(QString::fromUtf8(query.data(), static_cast<qsizetype>(query.size())))
                                .queryItems(QUrl::FullyDecoded))
    out.push_back({k.toStdString(), v.toStdString()});
  return out;
}

// What the audit line says of a request: its command words, never its
// values (a password, a message's text).
std::string AuditWords(const std::vector<std::string>& args) {
  std::string out;
  for (size_t i = 0; i < args.size() && i < 3; ++i) {
    if (StartsWith(args[i], "--") || args[i].find('=') != std::string::npos) break;
    if (!out.empty()) out += ' ';
    out += args[i];
  }
  return out.substr(0, 40);
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
    : QObject(parent), site_(site), handler_(site), log_(log), dir_(std::move(dir)) {
  InitWebResources();
  // Two hashes at a time at most: the stations keep a core.
  hashers_.setMaxThreadCount(2);
  keepAlive_.setInterval(kKeepAliveMs);
  connect(&keepAlive_, &QTimer::timeout, this, [this] { KeepAlive(); });
  changedTimer_.setSingleShot(true);
  changedTimer_.setInterval(kChangedMs);
  connect(&changedTimer_, &QTimer::timeout, this, [this] { SendChanged(); });
  stepper_.setSingleShot(true);
  connect(&stepper_, &QTimer::timeout, this, [this] { StepJob(); });
  sweeper_.setInterval(kSweepMs);
  connect(&sweeper_, &QTimer::timeout, this, [this] { Sweep(); });
}

WebConsole::~WebConsole() {
  // The logins being hashed post their results to this object: they end
  // first. Then the server answers what still waits and stops, before the
  // members its requests would reach go.
  hashers_.waitForDone();
  server_.reset();
  streams_.clear();
  for (int index : talks_) handler_.TalkEnd(index);
  if (job_) {
    job_->job->Answer();
    if (!job_->file.empty()) std::remove(job_->file.c_str());
  }
}

bool WebConsole::Listen(const WebSettings& settings, std::string* error) {
  std::string host;
  int port = 0;
  if (!ParseListen(settings.listen, &host, &port)) {
    *error = "LISTEN=" + settings.listen + " is not HOST:PORT (e.g. 127.0.0.1:8088)";
    return false;
  }
  peers_ = MakeWebPeers(host, settings.proxies, settings.hosts);
  HttpLimits limits;
  limits.unlimited = peers_.proxies;
  auto server = std::make_unique<HttpServer>(
      limits,
      // On the server's thread: the request is answered on the event loop.
      [this](std::shared_ptr<HttpExchange> x) {
        QMetaObject::invokeMethod(this, [this, x] { Handle(x); }, Qt::QueuedConnection);
      },
      [this](const HttpRequest& r) { return Screen(r); });
  server->SetCommonHeaders({{"Cache-Control", "no-store"},
                            {"X-Content-Type-Options", "nosniff"},
                            {"X-Frame-Options", "DENY"},
                            {"Referrer-Policy", "no-referrer"},
                            {"Content-Security-Policy",
                             "default-src 'self'; frame-ancestors 'none'; form-action 'self'; base-uri 'none'"}});
  std::string why;
  if (!server->Listen(host == "localhost" ? "127.0.0.1" : host, port, &why)) {
    *error = "cannot listen on " + settings.listen + ": " + why;
    return false;
  }
  server_ = std::move(server);
  return true;
}

quint16 WebConsole::port() const { return server_ ? server_->port() : 0; }

// ---- answers ----

WebConsole::Answer WebConsole::JsonAnswer(int code, const std::string& json) {
  Answer a;
  a.code = code;
  a.body = json;
  return a;
}

WebConsole::Answer WebConsole::Error(int code, const std::string& why) {
  return JsonAnswer(code, Json::Object().Set("error", Utf8(why)).Write());
}

std::optional<HttpResponse> WebConsole::Screen(const HttpRequest& r) const {
  if (r.method != "GET" && r.method != "HEAD" && r.method != "POST") {
    Answer a = Error(405, "the console takes GET, HEAD and POST");
    a.headers.push_back({"Allow", "GET, HEAD, POST"});
    return a;
  }
  const std::string host = r.Header("Host");
  if (host.empty()) return Error(400, "the request names no Host");
  if (!HostAllowed(peers_, host))
    return Error(421, "this console does not answer to " + host + " (ORN.INI [WEB] HOSTS names the others)");
  if (r.method == "POST") {
    // Another site's page may post to the console (no preflight for a
    // plain form or text); its Origin gives it away.
    if (!SameOrigin(r.Header("Origin"), host)) return Error(403, "a request from another site's page");
    const std::string path = r.target.substr(0, r.target.find('?'));
    if (path == "/api/login") {
      std::string type = Lower(r.Header("Content-Type"));
      type = type.substr(0, type.find(';'));
      while (!type.empty() && type.back() == ' ') type.pop_back();
      if (type != "application/json") return Error(415, "a login is sent as application/json");
    }
  }
  return std::nullopt;
}

void WebConsole::Handle(const Exchange& x) {
  const HttpRequest& r = x->request();
  const std::string client = ClientAddress(peers_, r.peer, r.Header("X-Forwarded-For"));
  if (!sessions_.empty()) Sweep();
  if (std::optional<Answer> a = Route(x, client)) x->Answer(std::move(*a));
}

std::optional<WebConsole::Answer> WebConsole::Route(const Exchange& x, const std::string& client) {
  const HttpRequest& request = x->request();
  const size_t q = request.target.find('?');
  const std::string raw = request.target.substr(0, q);
  const std::string queryText = q == std::string::npos ? std::string() : request.target.substr(q + 1);
  const bool post = request.method == "POST";
  const bool get = request.method == "GET";
  const std::string sessionId = CookieValue(request.Header("Cookie"), kCookie);
  const WebSessions::Session* session = sessions_.Find(sessionId, NowMs());
  if (raw != "/api" && !StartsWith(raw, "/api/")) {
    if (post) return Error(405, "pages are read with GET");
    return StaticFile(raw, session != nullptr);
  }
  if (!get && !post) return Error(405, "the API takes GET and POST");
  // The path's words as the browser wrote them: an encoded slash or dot
  // in a word is no word of ours.
  if (raw.find('%') != std::string::npos) return Error(404, "no such path");
  const std::vector<std::string> parts = Split(raw.substr(4));
  if (parts.size() == 1 && parts[0] == "login") {
    if (!post) return Error(405, "log in with POST");
    return Login(x, client);
  }
  if (!session) return Error(401, "log in first");
  if (post && !WebSessions::CsrfMatches(*session, request.Header("X-CSRF-Token")))
    return Error(403, "the request lacks the session's X-CSRF-Token");
  if (parts.size() == 1 && parts[0] == "session") {
    if (!get) return Error(405, "read the session with GET");
    return JsonAnswer(200, Json::Object().Set("csrf", session->csrf).Set("call", site_.cfg->MyCall).Write());
  }
  if (parts.size() == 1 && parts[0] == "logout") {
    if (!post) return Error(405, "log out with POST");
    sessions_.Remove(sessionId);
    DropStreamsWithoutSession();
    if (server_) server_->SetTrusted(sessions_.Addresses());
    Audit("logout", client);
    Answer a = JsonAnswer(200, "{}");
    a.headers.push_back({"Set-Cookie", std::string(kCookie) + "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0"});
    return a;
  }
  if (parts.size() == 1 && parts[0] == "live") {
    if (!get) return Error(405, "the live stream is a GET");
    return Live(x, sessionId);
  }
  Json body;
  if (post && !request.body.empty()) {
    std::string why;
    if (!ParseJson(request.body, &body, &why)) return Error(400, "the body is no JSON: " + why);
    if (!body.IsObject()) return Error(400, "the body is a JSON object");
  }
  if (!parts.empty() && parts[0] == "talk") {
    if (get && parts.size() == 1) return Talk("", body);  // the chats open
    if (!post || parts.size() != 2)
      return Error(405, "GET /api/talk lists the chats; talk/start, talk/line and talk/end are POSTs");
    if (parts[1] != "line") Audit("talk " + parts[1], client);
    return Talk(parts[1], body);
  }
  if (parts.size() == 2 && parts[0] == "msg" && parts[1] == "import") {
    if (!post) return Error(405, "import with POST");
    Audit("msg import", client);
    return Import(body, x);
  }
  if (parts.size() == 2 && parts[0] == "msg" && parts[1] == "export") {
    if (!get) return Error(405, "export is a GET (a download)");
    Audit("msg export", client);
    return Export(QueryItems(queryText));
  }
  if (!parts.empty() && parts[0] == "monitor") return Error(400, "the monitor is GET /api/live");
  return Control(parts, QueryItems(queryText), body, post, client);
}

WebConsole::Answer WebConsole::StaticFile(const std::string& rawPath, bool loggedIn) {
  std::string name;
  if (!StaticName(rawPath, &name)) return Error(404, "no such file");
  if (!loggedIn && !StaticIsPublic(name)) {
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
  a.type = StaticType(name);
  a.body = f.readAll().toStdString();
  return a;
}

std::optional<WebConsole::Answer> WebConsole::Login(const Exchange& x, const std::string& client) {
  Json body;
  std::string why;
  if (!ParseJson(x->request().body, &body, &why) || !body.IsObject() || !body.Get("password").IsString())
    return Error(400, "the body is {\"password\":\"...\"}");
  const int64_t now = NowMs();
  switch (gate_.Admit(throttle_.Suspect(client, now), now)) {
    case LoginGate::Verdict::kGo: break;
    case LoginGate::Verdict::kBusy: {
      Answer a = Error(429, "too many logins at once: try again in a moment");
      a.headers.push_back({"Retry-After", "1"});
      return a;
    }
    case LoginGate::Verdict::kTooMany: {
      Answer a = Error(429, "too many logins this minute: try again later");
      a.headers.push_back({"Retry-After", std::to_string(gate_.RetryAfterMs(now) / 1000 + 1)});
      return a;
    }
  }
  // The hash takes a good part of a second: off the stations' thread.
  const std::string dir = dir_;
  const std::string password = body.Get("password").AsString();
  hashers_.start([this, x, client, dir, password] {
    std::string stamp;
    const WebPasswordCheck check = CheckWebPassword(dir, password, &stamp);
    QMetaObject::invokeMethod(
        this, [this, x, client, check, stamp] { LoginChecked(x, client, static_cast<int>(check), stamp); },
        Qt::QueuedConnection);
  });
  return std::nullopt;
}

void WebConsole::LoginChecked(const Exchange& x, const std::string& client, int result, const std::string& stamp) {
  gate_.Done();
  const auto check = static_cast<WebPasswordCheck>(result);
  if (check == WebPasswordCheck::kNoPassword) {
    x->Answer(Error(401, "no console password is set: set one with 'ornctl web password'"));
    return;
  }
  const int64_t now = NowMs();
  if (check == WebPasswordCheck::kWrong) {
    const int64_t delay = throttle_.Failed(client, now);
    const int failures = throttle_.failures(client);
    if (log_) log_->writelog(65, failures, client, "web console: wrong password");
    std::fprintf(stderr, "ornbbs: web console: wrong password from %s (%d in a row)\n", client.c_str(), failures);
    // Only the failure waits; the connection stays the client's meanwhile.
    QTimer::singleShot(static_cast<int>(delay), Qt::PreciseTimer, this,
                       [x] { x->Answer(Error(401, "wrong password")); });
    return;
  }
  throttle_.Succeeded(client);
  std::string id;
  const WebSessions::Session& session = sessions_.Create(now, &id, stamp, x->request().peer);
  if (server_) server_->SetTrusted(sessions_.Addresses());
  if (!sweeper_.isActive()) sweeper_.start();
  Audit("login", client);
  Answer a = JsonAnswer(200, Json::Object().Set("csrf", session.csrf).Write());
  std::string cookie = std::string(kCookie) + "=" + id + "; HttpOnly; SameSite=Strict; Path=/";
  if (Lower(x->request().Header("X-Forwarded-Proto")) == "https") cookie += "; Secure";
  a.headers.push_back({"Set-Cookie", cookie});
  x->Answer(std::move(a));
}

void WebConsole::Sweep() {
  const std::string stamp = WebPasswordStamp(dir_);
  const bool hadSessions = !sessions_.empty();
  const size_t ended = sessions_.Expire(NowMs(), stamp);
  if (ended) {
    if (server_) server_->SetTrusted(sessions_.Addresses());
    Audit(std::string(hadSessions && stamp.empty() ? "password removed: " : "") + std::to_string(ended) +
              " session(s) ended",
          "-");
  }
  DropStreamsWithoutSession();
  if (sessions_.empty() && streams_.empty()) sweeper_.stop();
}

void WebConsole::DropStreamsWithoutSession() {
  streams_.erase(std::remove_if(streams_.begin(), streams_.end(),
                                [this](const Stream& s) {
                                  if (sessions_.Has(s.session) && s.stream->open()) return false;
                                  s.stream->Close();
                                  return true;
                                }),
                 streams_.end());
  if (streams_.empty()) keepAlive_.stop();
}

void WebConsole::Audit(const std::string& what, const std::string& client) {
  if (log_) log_->writelog(kAuditEvent, 0, client, what);
}

// ---- live ----

std::optional<WebConsole::Answer> WebConsole::Live(const Exchange& x, const std::string& sessionId) {
  DropStreamsWithoutSession();
  if (static_cast<int>(streams_.size()) >= kMaxStreams) return Error(503, "too many live streams open");
  Answer head;
  head.type = "text/event-stream; charset=utf-8";
  head.headers.push_back({"X-Accel-Buffering", "no"});
  std::shared_ptr<HttpStream> stream = x->Stream(head);
  stream->Push(": ornbbs\n\nevent: backlog\ndata: " + BacklogJson() + "\n\n");
  streams_.push_back({stream, sessionId});
  if (!keepAlive_.isActive()) keepAlive_.start();
  if (!sweeper_.isActive()) sweeper_.start();
  return std::nullopt;
}

void WebConsole::Send(const char* event, const std::string& json) {
  if (streams_.empty()) return;
  const std::string bytes = std::string("event: ") + event + "\ndata: " + json + "\n\n";
  // A browser that does not read goes; it can open the stream again.
  streams_.erase(std::remove_if(streams_.begin(), streams_.end(), [&](const Stream& s) { return !s.stream->Push(bytes); }),
                 streams_.end());
  if (streams_.empty()) keepAlive_.stop();
}

void WebConsole::KeepAlive() {
  for (const Stream& s : streams_)
    if (s.stream->idle()) s.stream->Push(": keep-alive\n\n");
  DropStreamsWithoutSession();
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

WebConsole::Answer WebConsole::Control(const std::vector<std::string>& parts,
                                       const std::vector<std::pair<std::string, std::string>>& query,
                                       const Json& body, bool post, const std::string& client) {
  if (parts.empty()) return Error(404, "no command");
  if (!post) {
    // A GET reads; what it may name is fixed by the path, so no query value
    // can become a command word ("sysop?call=off").
    const ReadRequest* read = FindRead(parts);
    if (!read) return Error(405, "a change is a POST with the X-CSRF-Token header");
    for (const auto& [key, value] : query)
      if ((key == "call" || key == "number" || key == "channel" || key == "args" || key == "input") &&
          !(read->operand && key == read->operand))
        return Error(400, "GET /api/" + parts[0] + (parts.size() > 1 ? "/" + parts[1] : "") + " takes no " + key);
  }
  ApiCall call;
  std::string why;
  if (!MapApiCall(parts, query, body, &call, &why)) return Error(400, why);
  const ControlAnswer a = handler_.HandleRemote(call.args, call.input);
  if (a.job) return Error(400, "this request is not served here");
  if (post && a.status == 0) Audit(AuditWords(call.args), client);
  return FromControl(a);
}

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

std::optional<WebConsole::Answer> WebConsole::Import(const Json& body, const Exchange& x) {
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
  job_ = std::make_unique<Job>(Job{a.job, x, file});
  stepper_.start(0);
  return std::nullopt;
}

void WebConsole::StepJob() {
  if (!job_) return;
  if (!job_->job->Step(kStepMs)) {
    stepper_.start(0);
    return;
  }
  const std::unique_ptr<Job> done = std::move(job_);
  std::remove(done->file.c_str());
  done->exchange->Answer(FromControl(done->job->Answer()));
  Changed("msgs");
}

WebConsole::Answer WebConsole::Export(const std::vector<std::pair<std::string, std::string>>& query) {
  std::vector<std::string> args{"msg", "export", ""};
  for (const auto& [k, v] : query) {
    if (k != "numbers") continue;
    for (const QString& n : QString::fromStdString(v).split(',', Qt::SkipEmptyParts)) {
      const std::string number = n.trimmed().toStdString();
      // Numbers only: nothing here may pass for an option of the export.
      if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return Error(400, "name the messages by number: ?numbers=12,13");
      args.push_back(number);
    }
  }
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
  out.body = data.toStdString();
  out.headers.push_back({"Content-Disposition", "attachment; filename=\"export.txt\""});
  return out;
}

}  // namespace orn
