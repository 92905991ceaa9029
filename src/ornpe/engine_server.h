// The sockets of ornpe: engine TCP API clients and gateway terminals, each an
// endpoint of the virtual engine, driven by the Qt event loop.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "link/api_frame.h"
#include "ornpe/gateway_session.h"
#include "ornpe/ornpe_options.h"
#include "ornpe/virtual_engine.h"

class QTcpSocket;

namespace orn {

class EngineServer : public QObject {
  Q_OBJECT
 public:
  using Logger = std::function<void(const std::string&)>;

  EngineServer(const OrnpeOptions& options, Logger log, QObject* parent = nullptr);
  ~EngineServer() override;

  // Opens both listening sockets. Returns "" or what failed.
  std::string Listen();
  std::string apiAddress() const { return Address(api_); }
  std::string gatewayAddress() const { return Address(gateway_); }

 private:
  struct Conn {
    QTcpSocket* socket = nullptr;
    ApiFrameReader reader;
    std::unique_ptr<GatewaySession> session;  // set for gateway terminals
    bool closing = false;
  };

  static std::string Address(const QTcpServer& server);
  void Accept(bool gateway);
  void ReadClient(int id);
  void ReadTerminal(int id);
  void Dropped(int id);
  void Close(int id, const std::string& why);
  void ServiceSession(int id);
  void Flush();
  void Now();

  OrnpeOptions options_;
  Logger log_;
  VirtualEngine engine_;
  QTcpServer api_;
  QTcpServer gateway_;
  QTimer ticker_;
  QElapsedTimer clock_;
  std::map<int, Conn> conns_;
};

}  // namespace orn
