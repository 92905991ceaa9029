#include "link/qt/tcp_engine_transport.h"

#include <QTimer>

namespace orn {

TcpEngineTransport::TcpEngineTransport(QObject* parent) : QObject(parent) {
  connect(&socket_, &QTcpSocket::readyRead, this, [this] {
    if (async_) Deliver();
  });
  // A failed write can report the loss from inside Write(), deep in the
  // BBS's own code (an operation sending its text); the BBS hears of it from
  // the event loop instead, where ending every session is safe.
  connect(&socket_, &QTcpSocket::disconnected, this, &TcpEngineTransport::Lost, Qt::QueuedConnection);
  connect(
      &socket_, &QTcpSocket::errorOccurred, this,
      [this](QAbstractSocket::SocketError) {
        if (socket_.state() != QAbstractSocket::ConnectedState) Lost();
      },
      Qt::QueuedConnection);
}

bool TcpEngineTransport::Open(const std::string& host, int port, int timeoutMs) {
  Close();
  socket_.connectToHost(QString::fromStdString(host), static_cast<quint16>(port));
  if (socket_.waitForConnected(timeoutMs)) {
    // Frames are small and each is written when it is ready: without this a
    // frame that follows another waits for the engine's delayed ACK (40 ms).
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
  }
  socket_.abort();
  return false;
}

bool TcpEngineTransport::IsOpen() const { return socket_.state() == QAbstractSocket::ConnectedState; }

bool TcpEngineTransport::Write(const std::string& bytes) {
  if (!IsOpen()) return false;
  if (socket_.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
    return false;
  socket_.flush();
  return true;
}

std::string TcpEngineTransport::Read(int timeoutMs) {
  if (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(timeoutMs)) return {};
  const QByteArray bytes = socket_.readAll();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void TcpEngineTransport::StartAsync() {
  async_ = true;
  // What arrived during the set-up is handed over from the event loop, once
  // the rest of the start-up has run.
  QTimer::singleShot(0, this, [this] {
    if (async_) Deliver();
  });
}

void TcpEngineTransport::Close() {
  async_ = false;
  socket_.abort();
}

void TcpEngineTransport::Deliver() {
  const QByteArray bytes = socket_.readAll();
  if (listener_) listener_->OnEngineBytes(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void TcpEngineTransport::Lost() {
  if (!async_) return;
  async_ = false;
  if (listener_) listener_->OnEngineClosed();
}

}  // namespace orn
