#include "web/web_guard.h"

#include <unistd.h>

#include <QByteArray>
#include <QPointer>
#include <QTimer>

namespace orn {
namespace {

// One connection's watch; a child of its socket, so it goes with it.
class ConnWatch : public QObject {
 public:
  static constexpr const char* kName = "ornweb-watch";
  explicit ConnWatch(QTcpSocket* socket) : QObject(socket), socket_(socket) {
    setObjectName(kName);
    clock_.setSingleShot(true);
    connect(&clock_, &QTimer::timeout, this, [this] { Expired(); });
    clock_.start(WebGuard::kRequestMs);
    // Before the HTTP server's own reader: the bytes are counted before
    // it takes them.
    readConn_ = connect(socket, &QTcpSocket::readyRead, this, [this] { Count(); });
  }

  void Busy() { clock_.stop(); }
  void Answered() {
    if (closing_ || streaming_) return;
    head_ = body_ = 0;
    headDone_ = false;
    tail_.clear();
    clock_.start(WebGuard::kRequestMs);
  }
  void Streaming() {
    streaming_ = true;
    clock_.stop();
  }

 private:
  void Count() {
    if (closing_) return;
    const QByteArray chunk = socket_->peek(socket_->bytesAvailable());
    if (streaming_) {
      // A live stream's client has nothing more to say; it may not talk on and on.
      body_ += chunk.size();
      if (body_ > WebGuard::kMaxHead) Refuse(413, "Payload Too Large", "a live stream takes no request");
      return;
    }
    qsizetype from = 0;
    if (!headDone_) {
      // The blank line that ends the head may straddle two reads.
      const QByteArray seen = tail_ + chunk;
      qsizetype end = seen.indexOf("\r\n\r\n");
      qsizetype len = 4;
      if (end < 0) {
        end = seen.indexOf("\n\n");
        len = 2;
      }
      if (end < 0) {
        head_ += chunk.size();
        tail_ = seen.right(3);
        if (head_ > WebGuard::kMaxHead) Refuse(431, "Request Header Fields Too Large", "the request's head is too large");
        return;
      }
      headDone_ = true;
      head_ += end + len - tail_.size();
      from = end + len - tail_.size();
      if (head_ > WebGuard::kMaxHead) return Refuse(431, "Request Header Fields Too Large", "the request's head is too large");
    }
    body_ += chunk.size() - from;
    if (body_ > WebGuard::kMaxBody) Refuse(413, "Payload Too Large", "the request's body is over 1 MiB");
  }

  void Expired() {
    if (closing_) {
      socket_->abort();
      return;
    }
    // A quiet keep-alive connection just goes; a request begun and not
    // finished hears why.
    if (head_ == 0 && !headDone_) {
      closing_ = true;
      disconnect(readConn_);
      socket_->disconnectFromHost();
      clock_.start(1000);
      return;
    }
    Refuse(408, "Request Timeout", "the request did not arrive in time");
  }

  // A last answer, then the connection goes; a peer that does not take it
  // is cut off a moment later.
  void Refuse(int code, const char* reason, const char* why) {
    closing_ = true;
    disconnect(readConn_);
    const QByteArray body = QByteArray("{\"error\":\"") + why + "\"}";
    socket_->write("HTTP/1.1 " + QByteArray::number(code) + ' ' + reason +
                   "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket_->flush();
    QPointer<QTcpSocket> s(socket_);
    QTimer::singleShot(0, socket_, [s] {
      if (s) s->disconnectFromHost();
    });
    clock_.start(1000);
  }

  QTcpSocket* socket_;
  QTimer clock_;
  QMetaObject::Connection readConn_;
  qint64 head_ = 0, body_ = 0;
  bool headDone_ = false, streaming_ = false, closing_ = false;
  QByteArray tail_;
};

// Found by name: it has no meta-object of its own for findChild to tell it by.
ConnWatch* WatchOf(QTcpSocket* socket) {
  return socket ? static_cast<ConnWatch*>(socket->findChild<QObject*>(ConnWatch::kName, Qt::FindDirectChildrenOnly))
                : nullptr;
}

}  // namespace

void WebGuard::Busy(QTcpSocket* socket) {
  if (ConnWatch* w = WatchOf(socket)) w->Busy();
}
void WebGuard::Answered(QTcpSocket* socket) {
  if (ConnWatch* w = WatchOf(socket)) w->Answered();
}
void WebGuard::Streaming(QTcpSocket* socket) {
  if (ConnWatch* w = WatchOf(socket)) w->Streaming();
}

void WebGuard::incomingConnection(qintptr fd) {
  if (open_ >= kMaxConnections) {
    ::close(static_cast<int>(fd));
    return;
  }
  auto* socket = new QTcpSocket(this);
  if (!socket->setSocketDescriptor(fd)) {
    delete socket;
    ::close(static_cast<int>(fd));
    return;
  }
  // Whatever the HTTP server holds of a request stays within the bounds,
  // even where it stops listening to the socket.
  socket->setReadBufferSize(kMaxHead + kMaxBody + 64 * 1024);
  ++open_;
  connect(socket, &QObject::destroyed, this, [this] { --open_; });
  // A connection the HTTP server has let go of without closing is closed.
  connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  new ConnWatch(socket);
  addPendingConnection(socket);
}

}  // namespace orn
