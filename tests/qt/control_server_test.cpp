// ornctl's socket in a running BBS: the monitor's stream under a busy event
// loop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "app/control.h"
#include "app/qt/control_server.h"
#include "support/bbs_on_engine.h"

namespace orn {
namespace {

class ControlServerTest : public test::BbsOnEngine {
 protected:
  void SetUp() override {
    StartWith("[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=1\nBBSONLY=0\nLIMITED=0\n");
    ControlSite s;
    s.running = true;
    s.cfg = &bbs_->cfg();
    s.ini = &bbs_->ini();
    s.store = bbs_->store();
    s.client = &bbs_->client();
    s.clock = &clock_;
    server_ = std::make_unique<ControlServer>(s);
    std::string why;
    ASSERT_TRUE(server_->Listen(std::string("./") + kControlSocketName, &why)) << why;
  }
  void TearDown() override { server_.reset(); }

  // A request whose first answer line has come (in `answer`): a stream
  // follows.
  int Ask(const std::vector<std::string>& args, std::string* answer) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, kControlSocketName);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string req = ControlRequestLine(args, "");
    EXPECT_EQ(::send(fd, req.data(), req.size(), MSG_NOSIGNAL), static_cast<ssize_t>(req.size()));
    answer->clear();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (answer->find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
      QCoreApplication::processEvents();
      char c;
      if (::recv(fd, &c, 1, MSG_DONTWAIT) == 1) *answer += c;
    }
    // No test waits for ever on a stream that neither comes nor ends.
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
  }
  int Monitor() {
    std::string answer;
    const int fd = Ask({"monitor"}, &answer);
    EXPECT_EQ(answer, "{\"status\":0,\"stream\":true}\n");
    return fd;
  }

  std::unique_ptr<ControlServer> server_;
};

TEST_F(ControlServerTest, AMonitorThatReadsKeepsItsStreamThroughLongTurns) {
  const int fd = Monitor();
  // The client reads all it gets, as fast as it comes.
  std::atomic<size_t> got{0};
  std::atomic<bool> closed{false};
  std::thread reader([&] {
    char buf[65536];
    for (;;) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    closed = true;
  });
  // Turns of the event loop that each hold a job's step (an import's 40 ms),
  // with a busy monitor's worth of lines each.
  const std::string line = "[1 XX1ABC on PC(1-1)] " + std::string(100, 'x');
  constexpr int kTurns = 60, kLines = 600;
  for (int turn = 0; turn < kTurns && !closed; ++turn) {
    QCoreApplication::processEvents();
    for (int i = 0; i < kLines; ++i) server_->Broadcast(line);
    std::this_thread::sleep_for(std::chrono::milliseconds(ControlServer::kStepMs));
  }
  const size_t sent = static_cast<size_t>(kTurns) * kLines * (line.size() + 1);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!closed && got < sent && std::chrono::steady_clock::now() < end) QCoreApplication::processEvents();
  EXPECT_FALSE(closed) << "the stream was closed after " << got << " bytes";
  ::shutdown(fd, SHUT_RDWR);
  reader.join();
  ::close(fd);
  EXPECT_GE(got.load(), sent);
}

TEST_F(ControlServerTest, AMonitorThatDoesNotReadIsLetGo) {
  const int fd = Monitor();
  const std::string line(1000, 'x');
  for (int i = 0; i < 3000; ++i) server_->Broadcast(line);
  QCoreApplication::processEvents();
  char buf[65536];
  size_t got = 0;
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  // What the kernel had taken arrives; the rest never does.
  EXPECT_LT(got, 3000u * 1001u);
  ::close(fd);
}

TEST_F(ControlServerTest, ATalkEndsWhenItsStationLeaves) {
  ASSERT_EQ(Connects(0, "XX1ABC"), 1);
  std::string answer;
  const int fd = Ask({"talk", "1-1"}, &answer);
  ASSERT_NE(answer.find("talking with XX1ABC"), std::string::npos) << answer;
  ASSERT_TRUE(Ch(1).terminal);
  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  EXPECT_FALSE(Ch(1).terminal);
  // The client reads the end and then the connection's close.
  std::string rest;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    char buf[4096];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) rest.append(buf, static_cast<size_t>(n));
    closed = n == 0;
  }
  EXPECT_TRUE(closed) << rest;
  EXPECT_NE(rest.find("*** the station left\n"), std::string::npos) << rest;
  ::close(fd);
}

}  // namespace
}  // namespace orn
