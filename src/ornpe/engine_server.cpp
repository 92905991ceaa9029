#include "ornpe/engine_server.h"

#include <algorithm>
#include <tuple>

#include <QHostAddress>
#include <QTcpSocket>
#include <ctime>

namespace orn {
namespace {

// A client that stops reading is dropped before its backlog eats the memory
// (never the BBS: nothing grows its backlog for long, see kPauseAbove).
constexpr qint64 kMaxBacklog = 4 << 20;
// What waits to go to the BBS is kept this small: past it, ornpe stops reading
// from everyone who sends the BBS data (terminals, dialled peers, other
// clients, its engines), and TCP holds them back as a full radio window
// would, until the BBS has taken all but kResumeBelow. A line from one
// station then queues behind a little of another's paste, never megabytes.
constexpr qint64 kPauseAbove = 32 << 10;
constexpr qint64 kResumeBelow = 8 << 10;
// The most ornpe takes from one such source at a time, so that a paste goes
// in bites between the other stations' lines.
constexpr qint64 kReadBite = 4 << 10;
// A client's frames are read in larger bites: the BBS's own output is never
// held back, and a forwarding block is a few of them.
constexpr qint64 kClientBite = 64 << 10;
// Kept small for the same reason as kPauseAbove: what the kernel holds for
// a client is on its way and cannot be held back any more.
constexpr int kClientSendBuffer = 64 << 10;

std::string LocalHhMmSs() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
  return buf;
}

std::string Peer(const QTcpSocket* s) {
  return s->peerAddress().toString().toStdString() + ":" + std::to_string(s->peerPort());
}

std::string Target(const DialTarget& t) {
  const std::string host = t.host.find(':') != std::string::npos ? "[" + t.host + "]" : t.host;
  return host + ":" + std::to_string(t.port);
}

}  // namespace

EngineServer::EngineServer(const OrnpeOptions& options, const PortTable& ports, Logger log, QObject* parent)
    : QObject(parent),
      options_(options),
      log_(std::move(log)),
      engine_(EngineOptions{options.ports, options.retryMs}, LocalHhMmSs, log_),
      ports_(ports),
      relay_(ports, log_) {
  clock_.start();
  connect(&api_, &QTcpServer::newConnection, this, [this] { Accept(api_); });
  connect(&gateway_, &QTcpServer::newConnection, this, [this] { Accept(gateway_); });
  connect(&bbsGateway_, &QTcpServer::newConnection, this, [this] { Accept(bbsGateway_); });
  // The timer runs only for the engine's next deadline (a retry, a time-out):
  // an idle engine sleeps until a client or a station does something.
  ticker_.setSingleShot(true);
  ticker_.setTimerType(Qt::PreciseTimer);
  connect(&ticker_, &QTimer::timeout, this, [this] {
    Now();
    Flush();
  });
  for (const DialTarget& t : options_.dials) {
    const int endpoint = engine_.Open();
    log_("dial station " + t.call + " is " + Target(t) + (t.raw ? ", raw" : ", telnet"));
    engine_.RegisterHeld(endpoint, t.call);
    dialStations_.push_back({t, endpoint});
  }
}

EngineServer::~EngineServer() {
  for (auto& [id, c] : conns_) {
    c.socket->disconnect(this);
    c.socket->abort();
    delete c.socket;
  }
  for (auto& [serial, d] : dialled_) {
    d.socket->disconnect(this);
    d.socket->abort();
    delete d.socket;
  }
  for (auto& [key, u] : upstreams_) {
    u.socket->disconnect(this);
    u.socket->abort();
    delete u.socket;
  }
}

std::string EngineServer::Listen() {
  if (!api_.listen(QHostAddress(QString::fromStdString(options_.apiHost)), options_.apiPort)) {
    return "engine API on " + options_.apiHost + ":" + std::to_string(options_.apiPort) + ": " +
           api_.errorString().toStdString();
  }
  if (!gateway_.listen(QHostAddress(QString::fromStdString(options_.gatewayHost)), options_.gatewayPort)) {
    return "gateway on " + options_.gatewayHost + ":" + std::to_string(options_.gatewayPort) + ": " +
           gateway_.errorString().toStdString();
  }
  if (options_.bbsGateway &&
      !bbsGateway_.listen(QHostAddress(QString::fromStdString(options_.bbsGatewayHost)), options_.bbsGatewayPort)) {
    return "BBS gateway on " + options_.bbsGatewayHost + ":" + std::to_string(options_.bbsGatewayPort) + ": " +
           bbsGateway_.errorString().toStdString();
  }
  return {};
}

std::string EngineServer::Address(const QTcpServer& server) {
  std::string host = server.serverAddress().toString().toStdString();
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return host + ":" + std::to_string(server.serverPort());
}

void EngineServer::Now() {
  engine_.Advance(clock_.elapsed());
  relay_.Advance(clock_.elapsed());
}

const char* EngineServer::Kind(const Conn& c) const {
  if (!c.session) return "client ";
  return c.session->caller() == GatewaySession::Caller::Bbs ? "BBS caller " : "terminal ";
}

void EngineServer::Accept(QTcpServer& server) {
  const bool gateway = &server != &api_;
  while (QTcpSocket* s = server.nextPendingConnection()) {
    // Small frames and lines leave as they are written, not after the
    // peer's delayed ACK.
    s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const int id = engine_.Open();
    Conn& c = conns_[id];
    c.socket = s;
    s->setParent(nullptr);
    // Queued: a socket may report its end from inside a write, in the middle
    // of a flush.
    connect(s, &QTcpSocket::disconnected, this, [this, id] { Dropped(id); }, Qt::QueuedConnection);
    if (gateway) {
      s->setReadBufferSize(kReadBite);
    } else {
      s->setReadBufferSize(kClientBite);
      s->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kClientSendBuffer);
      connect(s, &QTcpSocket::bytesWritten, this, [this, id] { Drained(id); }, Qt::QueuedConnection);
    }
    if (gateway) {
      const std::string bbs = options_.bbs;
      c.session = std::make_unique<GatewaySession>(
          GatewayHooks{
              [this, bbs] { return bbs.empty() ? engine_.OldestRegistration(GatewaySession::kPort) : bbs; },
              [this](const std::string& call) { return engine_.CallInUse(GatewaySession::kPort, call); }},
          &server == &bbsGateway_ ? GatewaySession::Caller::Bbs : GatewaySession::Caller::Person,
          options_.bbsGatewayRaw);
      log_(Kind(c) + std::to_string(id) + " connected from " + Peer(s));
      connect(s, &QTcpSocket::readyRead, this, [this, id] { ReadTerminal(id); });
      c.session->Start();
      ServiceSession(id);
    } else {
      log_("client " + std::to_string(id) + " connected from " + Peer(s));
      connect(s, &QTcpSocket::readyRead, this, [this, id] { ReadClient(id); });
    }
  }
}

int EngineServer::BbsClient() const {
  const std::string call =
      options_.bbs.empty() ? engine_.OldestRegistration(GatewaySession::kPort) : options_.bbs;
  if (call.empty()) return 0;
  const int id = engine_.RegisteredBy(GatewaySession::kPort, call);
  auto it = conns_.find(id);
  return it == conns_.end() || it->second.session ? 0 : id;
}

bool EngineServer::Congested(int client) const {
  auto it = conns_.find(client);
  return it != conns_.end() && !it->second.closing && it->second.socket->bytesToWrite() > kPauseAbove;
}

bool EngineServer::Hold(int source) {
  const int bbs = BbsClient();
  if (bbs == 0 || bbs == source || !Congested(bbs)) return false;
  holding_ = true;
  return true;
}

void EngineServer::Drained(int id) {
  if (!holding_) return;
  auto it = conns_.find(id);
  if (it == conns_.end() || it->second.session || it->second.socket->bytesToWrite() > kResumeBelow) return;
  ReadHeld();
}

void EngineServer::ReadHeld() {
  holding_ = false;
  // What each source sent meanwhile waits in its socket, and no readyRead
  // comes for it again: each is read once now, in turn (those still held
  // back stop again at once).
  std::vector<int> ids;
  for (const auto& [n, c] : conns_) {
    if (c.socket->bytesAvailable() > 0) ids.push_back(n);
  }
  std::vector<int> dials;
  for (const auto& [n, d] : dialled_) {
    if (d.socket->bytesAvailable() > 0) dials.push_back(n);
  }
  std::vector<std::tuple<int, int, int>> engines;
  for (const auto& [key, u] : upstreams_) {
    if (u.socket->bytesAvailable() > 0) engines.emplace_back(key.first, key.second, u.serial);
  }
  for (int n : ids) {
    auto c = conns_.find(n);
    if (c == conns_.end()) continue;
    if (c->second.session) {
      ReadTerminal(n);
    } else {
      ReadClient(n);
    }
  }
  for (int n : dials) ReadDialled(n);
  for (const auto& [client, engine, serial] : engines) ReadUpstream(client, engine, serial);
}

void EngineServer::ReadClient(int id) {
  auto it = conns_.find(id);
  if (it == conns_.end() || it->second.closing) return;
  if (Hold(id)) return;
  Conn& c = it->second;
  const QByteArray bytes = c.socket->readAll();
  c.reader.Feed(bytes.constData(), static_cast<size_t>(bytes.size()));
  Now();
  ApiFrame f;
  for (;;) {
    const auto r = c.reader.Next(&f);
    if (r == ApiFrameReader::Result::NeedMore) break;
    if (r == ApiFrameReader::Result::Broken) {
      // The real engine closes such a client too: the stream cannot be trusted.
      Close(id, "announced more than " + std::to_string(kApiMaxData) + " data bytes");
      break;
    }
    if (!relay_.FromClient(id, f)) engine_.Receive(id, f);
  }
  Flush();
}

void EngineServer::ReadTerminal(int id) {
  auto it = conns_.find(id);
  if (it == conns_.end() || it->second.closing) return;
  if (Hold(id)) return;
  const QByteArray bytes = it->second.socket->readAll();
  Now();
  it->second.session->FromTerminal(bytes.toStdString());
  ServiceSession(id);
  Flush();
}

void EngineServer::ServiceSession(int id) {
  auto it = conns_.find(id);
  if (it == conns_.end()) return;
  Conn& c = it->second;
  for (const ApiFrame& f : c.session->TakeEngineFrames()) {
    if (f.kind == 'C') {
      const bool bbs = c.session->caller() == GatewaySession::Caller::Bbs;
      log_(Kind(c) + std::to_string(id) + ": " + f.callFrom + " calls " + f.callTo +
           (bbs ? std::string(" (") + c.session->wire() + ")" : ""));
    }
    engine_.Receive(id, f);
  }
  if (c.session->TakeTurnedRaw()) {
    log_(Kind(c) + std::to_string(id) + ": 0xFF and a byte no telnet sender puts after it: raw TCP from here on");
  }
  const std::string text = c.session->TakeTerminalOutput();
  if (!text.empty() && !c.closing) {
    c.socket->write(text.data(), static_cast<qint64>(text.size()));
    if (c.socket->bytesToWrite() > kMaxBacklog) {
      Close(id, "does not read what it is sent");
      return;
    }
  }
  if (c.session->finished() && !c.closing) {
    c.closing = true;
    c.socket->disconnectFromHost();  // after what is written
  }
}

void EngineServer::Close(int id, const std::string& why) {
  auto it = conns_.find(id);
  if (it == conns_.end() || it->second.closing) return;
  log_(Kind(it->second) + std::to_string(id) + " closed: " + why);
  it->second.closing = true;
  engine_.Close(id, true);
  it->second.socket->abort();
}

void EngineServer::Dropped(int id) {
  auto it = conns_.find(id);
  if (it == conns_.end()) return;
  Conn& c = it->second;
  Now();
  if (c.session) {
    // What the terminal sent last, held back or not, still goes.
    if (!c.closing) c.session->FromTerminal(c.socket->readAll().toStdString());
    c.session->TerminalClosed();
    for (const ApiFrame& f : c.session->TakeEngineFrames()) engine_.Receive(id, f);
  }
  // Unlike a real engine, which leaves the far stations to retry out, the
  // stations a vanished client was linked to hear a disconnect at once: on
  // one machine nothing is gained by making a BBS wait for it.
  engine_.Close(id, true);
  if (!c.session) relay_.ClientGone(id);
  log_(Kind(c) + std::to_string(id) + " gone");
  c.socket->deleteLater();
  conns_.erase(it);
  Flush();
  // Whoever waited for this client to read goes on.
  if (holding_) ReadHeld();
}

void EngineServer::Flush() {
  Deliver();
  RunRelay();
  const int64_t ours = engine_.NextDeadline();
  const int64_t relays = relay_.NextDeadline();
  const int64_t due = ours < 0 ? relays : relays < 0 ? ours : std::min(ours, relays);
  if (due < 0) {
    ticker_.stop();
  } else {
    ticker_.start(static_cast<int>(std::clamp<int64_t>(due - clock_.elapsed(), 0, 1 << 30)));
  }
}

void EngineServer::Deliver() {
  for (;;) {
    const std::vector<EngineOutput> out = engine_.TakeOutput();
    const std::vector<HeldCall> held = engine_.TakeHeldCalls();
    if (out.empty() && held.empty()) return;
    for (const EngineOutput& o : out) {
      auto it = conns_.find(o.endpoint);
      if (it == conns_.end()) {
        if (Station(o.endpoint)) ToDialled(o);
        continue;
      }
      if (it->second.closing) continue;
      Conn& c = it->second;
      if (c.session) {
        c.session->FromEngine(o.frame);
        ServiceSession(o.endpoint);
        continue;
      }
      ToClient({o.endpoint, relay_.FromVirtual(o.frame)});
    }
    for (const HeldCall& h : held) Dial(h);
  }
}

const EngineServer::DialStation* EngineServer::Station(int endpoint) const {
  for (const DialStation& s : dialStations_) {
    if (s.endpoint == endpoint) return &s;
  }
  return nullptr;
}

EngineServer::Dialled* EngineServer::FindDialled(const HeldCall& call, int* serial) {
  for (auto& [n, d] : dialled_) {
    if (!d.closing && d.call.endpoint == call.endpoint && d.call.port == call.port && d.call.own == call.own &&
        d.call.remote == call.remote) {
      if (serial) *serial = n;
      return &d;
    }
  }
  return nullptr;
}

void EngineServer::Dial(const HeldCall& call) {
  const DialStation* station = Station(call.endpoint);
  if (!station) return;
  const int serial = nextDialled_++;
  Dialled& d = dialled_[serial];
  d.socket = new QTcpSocket;
  d.call = call;
  d.telnet = TelnetStream(station->target.raw);
  d.socket->setReadBufferSize(kReadBite);
  log_("dial " + std::to_string(serial) + ": " + call.remote + " calls " + call.own + " on port " +
       std::to_string(call.port) + ", dialling " + Target(station->target));
  QTcpSocket* s = d.socket;
  connect(s, &QTcpSocket::connected, this, [this, serial] { DialUp(serial); });
  connect(s, &QTcpSocket::readyRead, this, [this, serial] { ReadDialled(serial); });
  // Queued, as for clients: these may come from inside a write or a connect.
  connect(
      s, &QTcpSocket::errorOccurred, this,
      [this, serial] {
        auto it = dialled_.find(serial);
        if (it != dialled_.end() && !it->second.up) DialFailed(serial, it->second.socket->errorString().toStdString());
      },
      Qt::QueuedConnection);
  connect(s, &QTcpSocket::disconnected, this, [this, serial] { DialledGone(serial); }, Qt::QueuedConnection);
  // A peer that never answers is given up when the caller would give up.
  QTimer::singleShot(options_.retryMs, this, [this, serial] {
    auto it = dialled_.find(serial);
    if (it != dialled_.end() && !it->second.up) DialFailed(serial, "no answer");
  });
  s->connectToHost(QString::fromStdString(station->target.host), station->target.port);
}

void EngineServer::DialUp(int serial) {
  auto it = dialled_.find(serial);
  if (it == dialled_.end()) return;
  Dialled& d = it->second;
  Now();
  if (!engine_.AnswerHeld(d.call)) {
    log_("dial " + std::to_string(serial) + ": the caller gave up meanwhile");
    Forget(serial);
    Flush();
    return;
  }
  d.up = true;
  log_("dial " + std::to_string(serial) + ": connected to " + Peer(d.socket));
  Flush();
}

void EngineServer::DialFailed(int serial, const std::string& why) {
  auto it = dialled_.find(serial);
  if (it == dialled_.end()) return;
  log_("dial " + std::to_string(serial) + ": failed: " + why);
  Now();
  engine_.RefuseHeld(it->second.call);
  Forget(serial);
  Flush();
}

void EngineServer::ReadDialled(int serial, bool last) {
  auto it = dialled_.find(serial);
  if (it == dialled_.end()) return;
  Dialled& d = it->second;
  if (!last && d.up && !d.closing && Hold(0)) return;
  const std::string bytes = d.socket->readAll().toStdString();
  if (!d.up || d.closing) return;  // nobody on the air takes it any more
  Now();
  const std::string data = d.telnet.Decode(bytes);
  const std::string answers = d.telnet.TakeAnswers();
  if (!answers.empty()) d.socket->write(answers.data(), static_cast<qint64>(answers.size()));
  for (size_t pos = 0; pos < data.size(); pos += VirtualEngine::kPaclen) {
    engine_.Receive(d.call.endpoint, ApiFrame{d.call.port, 'D', 0xF0, d.call.own, d.call.remote,
                                              data.substr(pos, VirtualEngine::kPaclen)});
  }
  Flush();
}

void EngineServer::DialledGone(int serial) {
  auto it = dialled_.find(serial);
  if (it == dialled_.end()) return;
  Dialled& d = it->second;
  if (d.up && !d.closing) {
    // The peer hung up: what it sent last still goes, then the link is
    // taken down.
    ReadDialled(serial, true);
    log_("dial " + std::to_string(serial) + ": the peer closed");
    d.closing = true;
    Now();
    engine_.Receive(d.call.endpoint, ApiFrame{d.call.port, 'd', 0, d.call.own, d.call.remote, ""});
  } else {
    log_("dial " + std::to_string(serial) + ": closed");
  }
  Forget(serial);
  Flush();
}

void EngineServer::ToDialled(const EngineOutput& o) {
  int serial = 0;
  Dialled* d = FindDialled(HeldCall{o.endpoint, o.frame.port, o.frame.callTo, o.frame.callFrom}, &serial);
  if (!d || !d->up) return;
  if (o.frame.kind == 'D') {
    const std::string wire = d->telnet.Encode(o.frame.data);
    d->socket->write(wire.data(), static_cast<qint64>(wire.size()));
    if (d->socket->bytesToWrite() > kMaxBacklog) {
      log_("dial " + std::to_string(serial) + ": the peer does not read what it is sent");
      d->closing = true;
      engine_.Receive(d->call.endpoint, ApiFrame{d->call.port, 'd', 0, d->call.own, d->call.remote, ""});
      d->socket->abort();
    }
  } else if (o.frame.kind == 'd') {
    log_("dial " + std::to_string(serial) + ": the link is down, closing");
    d->closing = true;
    d->socket->disconnectFromHost();  // after what is written
  }
}

void EngineServer::ToClient(const EngineOutput& o) {
  auto it = conns_.find(o.endpoint);
  if (it == conns_.end() || it->second.closing || it->second.session) return;
  const std::string bytes = EncodeApiFrame(o.frame);
  it->second.socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
  if (it->second.socket->bytesToWrite() > kMaxBacklog && o.endpoint != BbsClient()) {
    Close(o.endpoint, "does not read what it is sent");
  }
}

void EngineServer::RunRelay() {
  for (;;) {
    const std::vector<RelayAction> actions = relay_.TakeActions();
    const std::vector<EngineOutput> out = relay_.TakeToClients();
    if (actions.empty() && out.empty()) return;
    std::vector<std::pair<RelayAction, int>> stalled;  // with the connection's serial
    for (const RelayAction& a : actions) {
      switch (a.kind) {
        case RelayAction::Kind::Open:
          OpenUpstream(a.client, a.engine);
          break;
        case RelayAction::Kind::Close:
          DropUpstream(a.client, a.engine);
          break;
        case RelayAction::Kind::Send: {
          auto it = upstreams_.find({a.client, a.engine});
          if (it == upstreams_.end() || it->second.socket->state() != QAbstractSocket::ConnectedState) break;
          const std::string bytes = EncodeApiFrame(a.frame);
          it->second.socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
          if (it->second.socket->bytesToWrite() > kMaxBacklog) stalled.push_back({a, it->second.serial});
          break;
        }
      }
    }
    for (const EngineOutput& o : out) ToClient(o);
    for (const auto& [a, serial] : stalled) UpstreamLost(a.client, a.engine, serial, "it does not read what it is sent");
  }
}

void EngineServer::OpenUpstream(int client, int engine) {
  DropUpstream(client, engine);
  const EngineTarget& target = options_.engines[static_cast<size_t>(engine)];
  const int serial = nextUpstream_++;
  Upstream& u = upstreams_[{client, engine}];
  u.socket = new QTcpSocket;
  u.serial = serial;
  QTcpSocket* s = u.socket;
  s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  s->setReadBufferSize(kReadBite);
  connect(s, &QTcpSocket::connected, this, [this, client, engine, serial] {
    auto it = upstreams_.find({client, engine});
    if (it == upstreams_.end() || it->second.serial != serial) return;
    Now();
    relay_.Connected(client, engine);
    Flush();
  });
  connect(s, &QTcpSocket::readyRead, this, [this, client, engine, serial] { ReadUpstream(client, engine, serial); });
  // Queued: these may come from inside a write.
  connect(
      s, &QTcpSocket::errorOccurred, this,
      [this, client, engine, serial, s] { UpstreamLost(client, engine, serial, s->errorString().toStdString()); },
      Qt::QueuedConnection);
  connect(
      s, &QTcpSocket::disconnected, this,
      [this, client, engine, serial] { UpstreamLost(client, engine, serial, "the engine closed the connection"); },
      Qt::QueuedConnection);
  // An engine that takes the connection but never completes it counts as away.
  QTimer::singleShot(options_.retryMs, this, [this, client, engine, serial] {
    auto it = upstreams_.find({client, engine});
    if (it != upstreams_.end() && it->second.serial == serial &&
        it->second.socket->state() != QAbstractSocket::ConnectedState) {
      UpstreamLost(client, engine, serial, "no answer");
    }
  });
  s->connectToHost(QString::fromStdString(target.host), target.port);
}

void EngineServer::ReadUpstream(int client, int engine, int serial) {
  auto it = upstreams_.find({client, engine});
  if (it == upstreams_.end() || it->second.serial != serial) return;
  Upstream& u = it->second;
  // An engine's data waits in TCP while its client has not taken the last.
  if (Congested(client)) {
    holding_ = true;
    return;
  }
  const QByteArray bytes = u.socket->readAll();
  u.reader.Feed(bytes.constData(), static_cast<size_t>(bytes.size()));
  Now();
  ApiFrame f;
  for (;;) {
    const auto r = u.reader.Next(&f);
    if (r == ApiFrameReader::Result::NeedMore) break;
    if (r == ApiFrameReader::Result::Broken) {
      UpstreamLost(client, engine, serial,
                   "it sent garbage: a frame of more than " + std::to_string(kApiMaxData) + " data bytes");
      return;
    }
    relay_.FromEngine(client, engine, f);
  }
  Flush();
}

void EngineServer::UpstreamLost(int client, int engine, int serial, const std::string& why) {
  auto it = upstreams_.find({client, engine});
  if (it == upstreams_.end() || it->second.serial != serial) return;
  DropUpstream(client, engine);
  Now();
  relay_.Lost(client, engine, why, clock_.elapsed());
  Flush();
}

void EngineServer::DropUpstream(int client, int engine) {
  auto it = upstreams_.find({client, engine});
  if (it == upstreams_.end()) return;
  QTcpSocket* s = it->second.socket;
  s->disconnect(this);
  s->abort();
  s->deleteLater();
  upstreams_.erase(it);
}

void EngineServer::Forget(int serial) {
  auto it = dialled_.find(serial);
  if (it == dialled_.end()) return;
  QTcpSocket* s = it->second.socket;
  s->disconnect(this);
  s->abort();
  s->deleteLater();
  dialled_.erase(it);
}

}  // namespace orn
