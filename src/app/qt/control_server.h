// The running BBS's end of ornctl: a Unix-domain socket in the BBS directory
// (mode 0600, removed at shutdown) that takes one request line per
// connection from the BBS's own user or root, hands it to the ControlHandler
// on the event loop and answers with one line. A "monitor" connection stays
// open and receives the channel and monitor lines until the client goes; a
// "talk" connection carries one channel's text out and the sysop's lines in.
#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/control.h"

namespace orn {

class ControlServer : public QObject {
  Q_OBJECT

 public:
  explicit ControlServer(ControlSite site, QObject* parent = nullptr);
  ~ControlServer() override;

  // Listens on `socketPath` (a stale socket there is removed: the caller
  // holds the instance lock). False with the reason when it cannot.
  bool Listen(const std::string& socketPath, std::string* error);
  // Stops listening, drops every client and removes the socket.
  void Close();
  // One line for every monitor client.
  void Broadcast(const std::string& line);

  // Idle connections that send no complete request are closed after this.
  static constexpr int kRequestTimeoutMs = 10000;
  // A job's step between two turns of the event loop, and how often its
  // client hears how far it is.
  static constexpr int kStepMs = 40;
  static constexpr int kProgressMs = 1000;

 private:
  struct Running {
    QLocalSocket* socket;
    std::shared_ptr<ControlJob> job;
    qint64 lastProgress;
  };
  void Accept();
  void ReadRequest(QLocalSocket* socket);
  void Answer(QLocalSocket* socket, const ControlAnswer& answer);
  void StepJobs();
  // Hands what the monitors and talks hold to the kernel.
  void FlushStreams();
  struct Talk {
    QLocalSocket* socket;
    int index;
    QByteArray input;
  };
  void ReadTalk(QLocalSocket* socket);
  // The talk on this socket is over: a last line, then the connection closes.
  void EndTalk(QLocalSocket* socket, const std::string& why);

  ControlHandler handler_;
  std::vector<QLocalSocket*> monitors_;
  std::vector<Running> jobs_;
  std::vector<Talk> talks_;
  MDIClient* client_;
  QTimer stepper_;
  std::string path_;
  // The directory is its group's: the group's members may ask too.
  bool groupShares_ = false;
  // Last, so that it goes first: its connections take themselves out of
  // monitors_ as they are deleted.
  QLocalServer server_;
};

}  // namespace orn
