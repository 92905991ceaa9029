// The packet engine over TCP, on the Qt event loop.
#pragma once

#include <QObject>
#include <QTcpSocket>

#include "link/engine_transport.h"

namespace orn {

class TcpEngineTransport : public QObject, public EngineTransport {
  Q_OBJECT

 public:
  explicit TcpEngineTransport(QObject* parent = nullptr);

  bool Open(const std::string& host, int port, int timeoutMs) override;
  bool IsOpen() const override;
  bool Write(const std::string& bytes) override;
  std::string Read(int timeoutMs) override;
  void StartAsync() override;
  void Close() override;

 private:
  void Deliver();
  void Lost();

  QTcpSocket socket_;
  bool async_ = false;
};

}  // namespace orn
