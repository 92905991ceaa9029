#include "app/qt/control_server.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/file_names.h"

namespace orn {
namespace {

ControlAnswer Refusal(const std::string& why) {
  ControlAnswer a;
  a.status = 1;
  a.error = why;
  return a;
}

}  // namespace

ControlServer::ControlServer(ControlSite site, QObject* parent)
    : QObject(parent), handler_(site), client_(site.client) {
  connect(&server_, &QLocalServer::newConnection, this, &ControlServer::Accept);
  // A zero timer runs once per turn of the event loop, after the stations'
  // frames and timers that were waiting.
  stepper_.setInterval(0);
  connect(&stepper_, &QTimer::timeout, this, &ControlServer::StepJobs);
}

ControlServer::~ControlServer() { Close(); }

namespace {

// Whether the process `pid` has `gid` among its groups, as the kernel holds
// them now (a sysop added to the group has it after logging in again).
bool InGroup(pid_t pid, gid_t gid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Groups:", 0) != 0) continue;
    std::istringstream groups(line.substr(7));
    unsigned long g;
    while (groups >> g)
      if (g == gid) return true;
    return false;
  }
  return false;
}

}  // namespace

bool ControlServer::Listen(const std::string& socketPath, std::string* error) {
  Close();
  // The socket is bound here rather than by QLocalServer, which would put a
  // relative name under the temporary directory: a relative path keeps deep
  // BBS directories within the address's length.
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof addr.sun_path) {
    *error = "socket path too long: " + socketPath;
    return false;
  }
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  // A stale socket goes (the caller holds the instance lock); anything else
  // at that name is the sysop's, and stays.
  struct stat st {};
  if (::lstat(socketPath.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
    const std::string shown = socketPath[0] == '/' ? socketPath
                              : JoinPath(CurrentDirectory(), socketPath.rfind("./", 0) == 0 ? socketPath.substr(2)
                                                                                            : socketPath);
    *error = "cannot listen on " + shown + ": " + (S_ISDIR(st.st_mode) ? "a directory" : "a file") +
             " of that name is in the way";
    ::close(fd);
    return false;
  }
  ::unlink(socketPath.c_str());
  // No moment in which the socket is open to others: it is made 0600, or
  // 0660 in a directory its group may write (the package's, shared with the
  // sysops in the service's group): whoever may change the files may ask.
  const size_t slash = socketPath.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : socketPath.substr(0, slash);
  struct stat dirStat {};
  groupShares_ = ::stat(dir.c_str(), &dirStat) == 0 && (dirStat.st_mode & S_IWGRP);
  const mode_t old = ::umask(groupShares_ ? 0117 : 0177);
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::umask(old);
  if (!bound || ::listen(fd, 16) != 0 || !server_.listen(fd)) {
    *error = std::string("cannot listen on ") + socketPath + ": " + std::strerror(errno);
    ::close(fd);
    if (bound) ::unlink(socketPath.c_str());
    return false;
  }
  path_ = socketPath;
  // A station that leaves ends the sysop's chat with it. Set once listening:
  // Close(), which Listen() begins with, takes it away.
  if (client_)
    client_->onSessionEnd = [this](int index) {
      for (const Talk& t : std::vector<Talk>(talks_))
        if (t.index == index) EndTalk(t.socket, "the station left");
    };
  return true;
}

void ControlServer::Close() {
  stepper_.stop();
  // Jobs under way tell their clients what was done before the BBS stopped.
  std::vector<Running> jobs;
  jobs.swap(jobs_);
  for (Running& r : jobs) {
    r.socket->write(QByteArray::fromStdString(ControlAnswerLine(r.job->Answer())));
    r.socket->flush();
    r.socket->waitForBytesWritten(1000);
    r.socket->abort();
  }
  for (QLocalSocket* s : monitors_) s->abort();
  monitors_.clear();
  // The stations in a chat go back to the BBS, which is stopping.
  std::vector<Talk> talks;
  talks.swap(talks_);
  for (Talk& t : talks) {
    handler_.TalkEnd(t.index);
    t.socket->abort();
  }
  if (client_) client_->onSessionEnd = nullptr;
  if (server_.isListening()) server_.close();
  if (!path_.empty()) {
    ::unlink(path_.c_str());
    path_.clear();
  }
}

namespace {

// Hands a stream's bytes to the kernel now, as far as its buffer takes them.
// Qt moves one block of its buffer a turn of the event loop; a turn that
// holds a step of a long job (an import) would let a busy monitor's buffer
// outgrow the limit below while its client reads all it gets. What is still
// held after this is what the client has not read.
qint64 Pending(QLocalSocket* s) {
  s->flush();
  return s->bytesToWrite();
}

// A client that does not read goes rather than let the BBS's memory grow.
constexpr qint64 kMaxPending = 1024 * 1024;

}  // namespace

void ControlServer::Broadcast(const std::string& line) {
  // A talk sees its own channel's lines, without the "[index caption] ".
  for (const Talk& t : std::vector<Talk>(talks_)) {
    std::string prefix(1, '[');
    prefix.append(std::to_string(t.index)).push_back(' ');
    const size_t text = line.find("] ");
    if (line.rfind(prefix, 0) != 0 || text == std::string::npos) continue;
    if (Pending(t.socket) > kMaxPending) {
      t.socket->abort();
      continue;
    }
    t.socket->write(QByteArray::fromStdString(line.substr(text + 2) + "\n"));
  }
  if (monitors_.empty()) return;
  const QByteArray bytes = QByteArray::fromStdString(line + "\n");
  for (QLocalSocket* s : std::vector<QLocalSocket*>(monitors_)) {
    if (Pending(s) > kMaxPending) {
      s->abort();
      continue;
    }
    s->write(bytes);
  }
}

void ControlServer::FlushStreams() {
  for (QLocalSocket* s : monitors_) s->flush();
  for (const Talk& t : talks_) t.socket->flush();
}

void ControlServer::Accept() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QObject::destroyed, this, [this, socket] {
      monitors_.erase(std::remove(monitors_.begin(), monitors_.end(), socket), monitors_.end());
      // ornctl talk interrupted: the station is not left in terminal mode.
      for (size_t i = 0; i < talks_.size(); ++i)
        if (talks_[i].socket == socket) {
          const int index = talks_[i].index;
          talks_.erase(talks_.begin() + static_cast<std::ptrdiff_t>(i));
          handler_.TalkEnd(index);
          break;
        }
      // A client that goes away (ornctl interrupted) ends its job: what was
      // stored stays, and the same import later stores the rest.
      jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(), [socket](const Running& r) { return r.socket == socket; }),
                  jobs_.end());
    });
    ucred cred{};
    socklen_t len = sizeof cred;
    const int fd = static_cast<int>(socket->socketDescriptor());
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 ||
        (cred.uid != ::getuid() && cred.uid != 0 && !(groupShares_ && (cred.gid == ::getgid() || InGroup(cred.pid, ::getgid()))))) {
      Answer(socket, Refusal(groupShares_ ? "refused: only the BBS's own user, its group's members or root may send requests"
                                          : "refused: only the BBS's own user or root may send requests"));
      continue;
    }
    QTimer::singleShot(kRequestTimeoutMs, socket, [socket] {
      if (!socket->property("answered").toBool()) socket->abort();
    });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadRequest(socket); });
    if (socket->bytesAvailable()) ReadRequest(socket);
  }
}

void ControlServer::ReadRequest(QLocalSocket* socket) {
  if (socket->property("answered").toBool()) {
    if (std::any_of(talks_.begin(), talks_.end(), [socket](const Talk& t) { return t.socket == socket; })) {
      ReadTalk(socket);
      return;
    }
    socket->readAll();  // a monitor client has nothing more to say
    return;
  }
  QByteArray buffer = socket->property("request").toByteArray();
  buffer += socket->read(static_cast<qint64>(kMaxControlRequest) + 1 - buffer.size());
  const qsizetype end = buffer.indexOf('\n');
  if (end < 0) {
    if (static_cast<size_t>(buffer.size()) > kMaxControlRequest) {
      Answer(socket, Refusal("request too long"));
      return;
    }
    socket->setProperty("request", buffer);
    return;
  }
  const std::string line = buffer.left(end).toStdString();
  Answer(socket, handler_.HandleLine(line));
}

void ControlServer::Answer(QLocalSocket* socket, const ControlAnswer& answer) {
  socket->setProperty("answered", true);
  socket->setProperty("request", QByteArray());
  if (answer.job) {
    jobs_.push_back({socket, answer.job, 0});
    if (!stepper_.isActive()) stepper_.start();
    return;
  }
  socket->write(QByteArray::fromStdString(ControlAnswerLine(answer)));
  if (answer.talk > 0) {
    talks_.push_back({socket, answer.talk, QByteArray()});
    if (socket->bytesAvailable()) ReadTalk(socket);
    return;
  }
  if (answer.stream) {
    monitors_.push_back(socket);
    return;
  }
  socket->disconnectFromServer();
}

}  // namespace orn

namespace orn {

void ControlServer::ReadTalk(QLocalSocket* socket) {
  auto it = std::find_if(talks_.begin(), talks_.end(), [socket](const Talk& t) { return t.socket == socket; });
  if (it == talks_.end()) return;
  it->input += socket->readAll();
  for (;;) {
    it = std::find_if(talks_.begin(), talks_.end(), [socket](const Talk& t) { return t.socket == socket; });
    if (it == talks_.end()) return;
    const qsizetype end = it->input.indexOf('\n');
    if (end < 0) {
      // No line is that long from a terminal: a stream that is not one ends.
      if (it->input.size() > 4096) EndTalk(socket, "line too long");
      return;
    }
    const std::string line = it->input.left(end).toStdString();
    it->input.remove(0, end + 1);
    if (!handler_.TalkLine(it->index, line)) {
      EndTalk(socket, "back in the BBS");
      return;
    }
  }
}

void ControlServer::EndTalk(QLocalSocket* socket, const std::string& why) {
  auto it = std::find_if(talks_.begin(), talks_.end(), [socket](const Talk& t) { return t.socket == socket; });
  if (it == talks_.end()) return;
  const int index = it->index;
  talks_.erase(it);
  handler_.TalkEnd(index);
  std::string last("*** ");
  last.append(why).push_back('\n');
  socket->write(QByteArray::fromStdString(last));
  socket->disconnectFromServer();
}

void ControlServer::StepJobs() {
  if (jobs_.empty()) {
    stepper_.stop();
    return;
  }
  // What the streams hold leaves before the step: their clients read it
  // meanwhile.
  FlushStreams();
  // One job a turn, the oldest first; the others wait their turn.
  Running r = jobs_.front();
  const bool done = r.job->Step(kStepMs);
  if (jobs_.empty() || jobs_.front().socket != r.socket) return;  // its client went meanwhile
  if (done) {
    jobs_.erase(jobs_.begin());
    r.socket->write(QByteArray::fromStdString(ControlAnswerLine(r.job->Answer())));
    r.socket->disconnectFromServer();
    return;
  }
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  if (now - jobs_.front().lastProgress >= kProgressMs) {
    jobs_.front().lastProgress = now;
    r.socket->write(QByteArray::fromStdString(ControlProgressLine(r.job->Progress())));
  }
}

}  // namespace orn
