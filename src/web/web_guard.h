// The bounds Qt HttpServer 6.4 does not keep by itself: how many
// connections, how large a request's head and body, and how long a request
// may take to arrive. It accepts the connections and hands them to the HTTP
// server; it only counts bytes and watches the clock, never reads a request.
#pragma once

#include <QTcpServer>
#include <QTcpSocket>

namespace orn {

class WebGuard : public QTcpServer {
  Q_OBJECT

 public:
  static constexpr int kMaxConnections = 16;
  static constexpr qint64 kMaxHead = 16 * 1024;
  static constexpr qint64 kMaxBody = 1024 * 1024;
  static constexpr int kRequestMs = 10000;

  explicit WebGuard(QObject* parent = nullptr) : QTcpServer(parent) {}
  int openConnections() const { return open_; }

  // The request on `socket` is with the server: the clock stops until its
  // answer has gone (Answered), which starts the count for the next one.
  static void Busy(QTcpSocket* socket);
  static void Answered(QTcpSocket* socket);
  // The connection carries a live stream from now on: no clock.
  static void Streaming(QTcpSocket* socket);

 protected:
  void incomingConnection(qintptr fd) override;

 private:
  int open_ = 0;
};

}  // namespace orn
