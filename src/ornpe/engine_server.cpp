#include "ornpe/engine_server.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <ctime>

namespace orn {
namespace {

// A client that stops reading is dropped before its backlog eats the memory.
constexpr qint64 kMaxBacklog = 4 << 20;
constexpr int kTickMs = 20;

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

}  // namespace

EngineServer::EngineServer(const OrnpeOptions& options, Logger log, QObject* parent)
    : QObject(parent),
      options_(options),
      log_(std::move(log)),
      engine_(EngineOptions{options.ports, options.retryMs}, LocalHhMmSs, log_) {
  clock_.start();
  connect(&api_, &QTcpServer::newConnection, this, [this] { Accept(false); });
  connect(&gateway_, &QTcpServer::newConnection, this, [this] { Accept(true); });
  connect(&ticker_, &QTimer::timeout, this, [this] {
    Now();
    Flush();
  });
  ticker_.start(kTickMs);
}

EngineServer::~EngineServer() {
  for (auto& [id, c] : conns_) {
    c.socket->disconnect(this);
    c.socket->abort();
    delete c.socket;
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
  return {};
}

std::string EngineServer::Address(const QTcpServer& server) {
  std::string host = server.serverAddress().toString().toStdString();
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return host + ":" + std::to_string(server.serverPort());
}

void EngineServer::Now() { engine_.Advance(clock_.elapsed()); }

void EngineServer::Accept(bool gateway) {
  QTcpServer& server = gateway ? gateway_ : api_;
  while (QTcpSocket* s = server.nextPendingConnection()) {
    const int id = engine_.Open();
    Conn& c = conns_[id];
    c.socket = s;
    s->setParent(nullptr);
    log_((gateway ? "terminal " : "client ") + std::to_string(id) + " connected from " + Peer(s));
    // Queued: a socket may report its end from inside a write, in the middle
    // of a flush.
    connect(s, &QTcpSocket::disconnected, this, [this, id] { Dropped(id); }, Qt::QueuedConnection);
    if (gateway) {
      const std::string bbs = options_.bbs;
      c.session = std::make_unique<GatewaySession>(GatewayHooks{
          [this, bbs] { return bbs.empty() ? engine_.OldestRegistration(GatewaySession::kPort) : bbs; },
          [this](const std::string& call) { return engine_.CallInUse(GatewaySession::kPort, call); }});
      connect(s, &QTcpSocket::readyRead, this, [this, id] { ReadTerminal(id); });
      c.session->Start();
      ServiceSession(id);
    } else {
      connect(s, &QTcpSocket::readyRead, this, [this, id] { ReadClient(id); });
    }
  }
}

void EngineServer::ReadClient(int id) {
  auto it = conns_.find(id);
  if (it == conns_.end() || it->second.closing) return;
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
    engine_.Receive(id, f);
  }
  Flush();
}

void EngineServer::ReadTerminal(int id) {
  auto it = conns_.find(id);
  if (it == conns_.end() || it->second.closing) return;
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
    if (f.kind == 'C') log_("terminal " + std::to_string(id) + ": " + f.callFrom + " calls " + f.callTo);
    engine_.Receive(id, f);
  }
  const std::string text = c.session->TakeTerminalOutput();
  if (!text.empty() && !c.closing) c.socket->write(text.data(), static_cast<qint64>(text.size()));
  if (c.session->finished() && !c.closing) {
    c.closing = true;
    c.socket->disconnectFromHost();  // after what is written
  }
}

void EngineServer::Close(int id, const std::string& why) {
  auto it = conns_.find(id);
  if (it == conns_.end() || it->second.closing) return;
  log_((it->second.session ? "terminal " : "client ") + std::to_string(id) + " closed: " + why);
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
    c.session->TerminalClosed();
    for (const ApiFrame& f : c.session->TakeEngineFrames()) engine_.Receive(id, f);
  }
  // Unlike a real engine, which leaves the far stations to retry out, the
  // stations a vanished client was linked to hear a disconnect at once: on
  // one machine nothing is gained by making a BBS wait for it.
  engine_.Close(id, true);
  log_((c.session ? "terminal " : "client ") + std::to_string(id) + " gone");
  c.socket->deleteLater();
  conns_.erase(it);
  Flush();
}

void EngineServer::Flush() {
  for (;;) {
    std::vector<EngineOutput> out = engine_.TakeOutput();
    if (out.empty()) return;
    for (const EngineOutput& o : out) {
      auto it = conns_.find(o.endpoint);
      if (it == conns_.end() || it->second.closing) continue;
      Conn& c = it->second;
      if (c.session) {
        c.session->FromEngine(o.frame);
        ServiceSession(o.endpoint);
        continue;
      }
      const std::string bytes = EncodeApiFrame(o.frame);
      c.socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
      if (c.socket->bytesToWrite() > kMaxBacklog) Close(o.endpoint, "does not read what it is sent");
    }
  }
}

}  // namespace orn
