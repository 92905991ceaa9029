// ornpe in front of real packet engines: each API client of ornpe gets a
// connection of its own to every engine it uses (an engine keeps
// registrations, links and the monitor per connection), and its frames for a
// radio port go to that port's engine with the engine's port number, the
// engine's answers come back with ornpe's.
//
// No sockets and no clock: the host opens and feeds the connections the
// relay asks for and tells it the time, as for the virtual engine.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "link/api_frame.h"
#include "ornpe/port_table.h"
#include "ornpe/virtual_engine.h"

namespace orn {

// What the host does with an engine connection of a client.
struct RelayAction {
  enum class Kind { Open, Send, Close };
  Kind kind = Kind::Send;
  int client = 0;
  int engine = 0;
  ApiFrame frame;  // Send only: the frame as the engine numbers its ports
};

class EngineRelay {
 public:
  using Logger = std::function<void(const std::string&)>;
  static constexpr int64_t kFirstPauseMs = 1000;
  static constexpr int64_t kMaxPauseMs = 30000;
  // A registration the engine has not answered within this is answered for
  // it and the engine counts as lost: the BBS waits a second for the answer
  // and gives up the whole engine connection, ornpe's own ports with it.
  static constexpr int64_t kAnswerMs = 600;
  // Frames an engine sends that ornpe cannot pass on are logged the first
  // time, then counted and summed up at most this often.
  static constexpr int64_t kDropReportMs = 60000;

  EngineRelay(const PortTable& ports, Logger log);

  // A frame from client `client`. True when the relay took it (a radio
  // port's, or one it answers itself); false when it belongs to the virtual
  // engine, with `f`'s port made the virtual engine's.
  bool FromClient(int client, ApiFrame& f);
  void ClientGone(int client);

  // The host's news about the connection of `client` to `engine`.
  void Connected(int client, int engine);
  void FromEngine(int client, int engine, const ApiFrame& f);
  void Lost(int client, int engine, const std::string& why, int64_t nowMs);

  // Starts the attempts due at `nowMs`; the next one is due at NextDeadline
  // (-1: none waits).
  void Advance(int64_t nowMs);
  int64_t NextDeadline() const;

  // A frame of the virtual engine for an API client, with ornpe's port.
  ApiFrame FromVirtual(ApiFrame f) const;

  std::vector<RelayAction> TakeActions() { return std::exchange(actions_, {}); }
  std::vector<EngineOutput> TakeToClients() { return std::exchange(toClients_, {}); }

 private:
  enum class State { Connecting, Up, Away };
  struct Registration {
    std::string call;
    int port = 0;  // ornpe's
  };
  struct PendingX {
    int port = 0;  // ornpe's, for the answer
    std::string call;
    bool silent = false;  // a registration made again after a loss
  };
  struct LinkInfo {
    int port = 0;  // ornpe's
    std::string own;
    std::string remote;
    bool up = false;
  };
  struct Upstream {
    State state = State::Connecting;
    int64_t retryAt = 0;
    int64_t pauseMs = kFirstPauseMs;
    std::vector<ApiFrame> waiting;  // ornpe's port numbers, sent once connected
    std::vector<Registration> registrations;
    std::vector<PendingX> answers;
    std::vector<LinkInfo> links;
    int64_t askedAt = -1;  // since then a registration waits for the engine's answer
  };
  // The dropped frames of one engine since the last line about them.
  struct Drops {
    int64_t since = 0;
    int64_t count = 0;
    std::string last;
  };
  using Key = std::pair<int, int>;  // client, engine

  Upstream& Use(int client, int engine);
  void Send(int client, int engine, Upstream& u, const ApiFrame& f);
  void AnswerAway(int client, int engine, Upstream& u, const ApiFrame& f);
  void ToClient(int client, ApiFrame f) { toClients_.push_back({client, std::move(f)}); }
  LinkInfo* FindLink(Upstream& u, int port, const std::string& own, const std::string& remote);
  std::string Name(int engine) const { return ports_.engineName(engine); }
  void Log(const std::string& line) const {
    if (log_) log_(line);
  }
  // A frame dropped for reason `why` (a word: the same reason, the same count).
  void Drop(int engine, const char* why, const std::string& line);
  void ReportDrops();
  // Engine `engine` failed its client: the host closes the connection.
  void Fail(int client, int engine, const std::string& why);

  const PortTable& ports_;
  Logger log_;
  std::map<Key, Upstream> up_;
  std::map<int, bool> monitor_;  // client: the monitor is on
  std::vector<RelayAction> actions_;
  std::vector<EngineOutput> toClients_;
  std::map<std::pair<int, std::string>, Drops> drops_;  // by engine and reason
  int64_t now_ = 0;
};

}  // namespace orn
