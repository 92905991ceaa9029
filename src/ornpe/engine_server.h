// The sockets of ornpe: engine TCP API clients, gateway stations (people at
// terminals, BBSes calling in) and dialled TCP peers, each an endpoint of the
// virtual engine or a link of one, driven by the Qt event loop.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/api_frame.h"
#include "ornpe/engine_relay.h"
#include "ornpe/gateway_session.h"
#include "ornpe/ornpe_options.h"
#include "ornpe/telnet_stream.h"
#include "ornpe/virtual_engine.h"

class QTcpSocket;

namespace orn {

class EngineServer : public QObject {
  Q_OBJECT
 public:
  using Logger = std::function<void(const std::string&)>;

  // `ports` numbers the real engines' radio ports; the server keeps a
  // reference, and the host fills in the virtual ports' texts after Listen.
  EngineServer(const OrnpeOptions& options, const PortTable& ports, Logger log, QObject* parent = nullptr);
  ~EngineServer() override;

  // Opens the listening sockets. Returns "" or what failed.
  std::string Listen();
  std::string apiAddress() const { return Address(api_); }
  std::string gatewayAddress() const { return Address(gateway_); }
  std::string bbsGatewayAddress() const { return Address(bbsGateway_); }

 private:
  struct Conn {
    QTcpSocket* socket = nullptr;
    ApiFrameReader reader;
    std::unique_ptr<GatewaySession> session;  // set for gateway stations
    bool closing = false;
  };
  // A --dial station: one engine endpoint holds its call on every port.
  struct DialStation {
    DialTarget target;
    int endpoint = 0;
  };
  // One link of a dial station and the TCP connection behind it.
  // A client's connection to a real engine.
  struct Upstream {
    QTcpSocket* socket = nullptr;
    ApiFrameReader reader;
    int serial = 0;
  };
  struct Dialled {
    QTcpSocket* socket = nullptr;
    HeldCall call;
    TelnetStream telnet;
    bool up = false;       // the link came up
    bool closing = false;  // the link is gone; the socket closes
  };

  static std::string Address(const QTcpServer& server);
  void Accept(QTcpServer& server);
  // The API client the gateways lead to (the BBS), 0 while there is none.
  int BbsClient() const;
  // More than a little waits for the client to read.
  bool Congested(int client) const;
  // True when what `source` sends must wait for the BBS to read.
  bool Hold(int source);
  void Drained(int id);
  void ReadHeld();
  void ReadClient(int id);
  void ReadTerminal(int id);
  void Dropped(int id);
  void Close(int id, const std::string& why);
  void ServiceSession(int id);
  // Hands the engine's output to its clients, then sets the timer for the
  // engine's next deadline.
  void Flush();
  void Deliver();
  void Now();
  const char* Kind(const Conn& c) const;

  void Dial(const HeldCall& call);
  void DialUp(int serial);
  void DialFailed(int serial, const std::string& why);
  // `last`: the peer has gone, and what it sent goes whatever waits.
  void ReadDialled(int serial, bool last = false);
  void DialledGone(int serial);
  void ToDialled(const EngineOutput& o);
  Dialled* FindDialled(const HeldCall& call, int* serial = nullptr);
  const DialStation* Station(int endpoint) const;
  void Forget(int serial);

  // The relay's wishes: connections to open and close, frames to send, and
  // frames for clients.
  void RunRelay();
  void OpenUpstream(int client, int engine);
  void ReadUpstream(int client, int engine, int serial);
  void UpstreamLost(int client, int engine, int serial, const std::string& why);
  void DropUpstream(int client, int engine);
  void ToClient(const EngineOutput& o);

  OrnpeOptions options_;
  Logger log_;
  VirtualEngine engine_;
  const PortTable& ports_;
  EngineRelay relay_;
  std::map<std::pair<int, int>, Upstream> upstreams_;  // client, engine
  int nextUpstream_ = 1;
  QTcpServer api_;
  QTcpServer gateway_;
  QTcpServer bbsGateway_;
  QTimer ticker_;
  QElapsedTimer clock_;
  std::map<int, Conn> conns_;
  std::vector<DialStation> dialStations_;
  std::map<int, Dialled> dialled_;
  int nextDialled_ = 1;
  bool holding_ = false;  // a source waits for a client to read
};

}  // namespace orn
