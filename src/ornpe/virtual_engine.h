// A packet engine without radios: the frames of the engine TCP API in and out,
// and virtual radio ports on which every client is a station of its own. A
// client hears what the other clients (and the gateway's stations) transmit,
// never itself, exactly as separate engines on one frequency would. The air is
// perfect and instant: a frame reaches every listener in the same call.
//
// No sockets and no clock of its own: the host feeds frames and the time, and
// collects what the engine sends. Behaviour visible to a client follows
// Direwolf 1.6 (link event texts, who gets an incoming connect, what a dropped
// client leaves behind unless the host hangs up for it).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/api_frame.h"
#include "ornpe/air_frame.h"

namespace orn {

struct EngineOptions {
  int ports = 1;            // virtual radio ports
  int64_t retryMs = 5000;   // an unanswered connect, disconnect or poll gives up after this long
};

struct EngineOutput {
  int endpoint = 0;
  ApiFrame frame;
};

// A connect to a held call (see VirtualEngine::RegisterHeld) that waits for
// the host's answer. `own` is the held call, `remote` the caller, as the
// held link names them.
struct HeldCall {
  int endpoint = 0;
  uint8_t port = 0;
  std::string own;
  std::string remote;
};

class VirtualEngine {
 public:
  static constexpr int kMaxPorts = 16;
  // Direwolf lists this many channels at least, unused ones as invalid.
  static constexpr int kListedChannels = 6;
  static constexpr int kPaclen = 256;
  static constexpr int kMaxFrame = 4;
  static constexpr int kRetries = 10;

  using TimeText = std::function<std::string()>;  // local time as "HH:MM:SS"
  using Logger = std::function<void(const std::string&)>;

  VirtualEngine(const EngineOptions& options, TimeText timeText, Logger log = nullptr);
  ~VirtualEngine();
  VirtualEngine(const VirtualEngine&) = delete;
  VirtualEngine& operator=(const VirtualEngine&) = delete;

  // A new client connection; the id addresses its frames.
  int Open();
  // A frame from a client. Unknown endpoints are ignored.
  void Receive(int endpoint, const ApiFrame& frame);
  // The connection ended. A dropped engine client loses its registrations and
  // links at once and nobody on the air is told. `hangUp` sends DISC on every
  // link first, as a station that disconnects before it goes away.
  void Close(int endpoint, bool hangUp);
  // Sets the time (milliseconds, any steady origin) and runs the timers due.
  void Advance(int64_t nowMs);
  // When Advance next has something to do (the earliest retry deadline of
  // any link), or -1 when nothing waits for time.
  int64_t NextDeadline() const;
  // Frames for clients produced since the last call, in order.
  std::vector<EngineOutput> TakeOutput();

  // A station that answers only once the host has something behind it (a
  // TCP peer to dial): `call` is on the air of every port for `endpoint`,
  // and a connect to it is held, neither answered nor refused, until the
  // host answers it or turns it down. The caller's retries meanwhile go
  // unanswered, as they would while a far station is busy.
  void RegisterHeld(int endpoint, const std::string& call);
  // Connects to held calls that arrived since the last call.
  std::vector<HeldCall> TakeHeldCalls();
  // Brings the held link up on both sides. False when the caller has given
  // up meanwhile: the held link is dropped then.
  bool AnswerHeld(const HeldCall& call);
  // The caller's attempt ends at once as one that retried out.
  void RefuseHeld(const HeldCall& call);

  // The longest-held registration on `port`, or "" when there is none; held
  // calls do not count.
  std::string OldestRegistration(uint8_t port) const;
  // True when a client registered `call` on `port` or a link uses it there.
  // A held call alone does not count: the TCP peer behind it may well call
  // in under the same call.
  bool CallInUse(uint8_t port, const std::string& call) const;
  // The endpoint whose registration of `call` on `port` a connect reaches,
  // or 0 for none.
  int RegisteredBy(uint8_t port, const std::string& call) const;
  int ports() const { return ports_; }

 private:
  struct Link;
  struct Endpoint {
    bool monitor = false;
    bool raw = false;
  };
  struct Registration {
    std::string call;
    uint8_t port = 0;
    int endpoint = 0;
    bool held = false;
  };
  struct OnAir {
    AirFrame frame;
    int from = 0;  // endpoint whose engine transmitted it, 0 for none
  };

  uint8_t ClampPort(uint8_t port);
  void Reply(int endpoint, const ApiFrame& f);
  void HandleRegister(int endpoint, const ApiFrame& f);
  void HandleConnect(int endpoint, const ApiFrame& f, std::vector<std::string> via);
  void HandleData(int endpoint, const ApiFrame& f);
  void HandleDisconnect(int endpoint, const ApiFrame& f);
  void HandleOutstanding(int endpoint, const ApiFrame& f);
  void HandleUnproto(int endpoint, const ApiFrame& f, const std::vector<std::string>& via, std::string info);

  Link* FindLink(int endpoint, uint8_t port, const std::string& own, const std::string& remote);
  Link* NewLink(int endpoint, uint8_t port, const std::string& own, const std::string& remote,
                std::vector<std::string> via);
  void RemoveLink(Link* link);
  const Registration* FindRegistration(uint8_t port, const std::string& call, int notEndpoint) const;

  void Transmit(Link& link, AirType type, AirRole role, bool pf, uint8_t pid = 0xF0, std::string info = {});
  void TransmitFrame(const AirFrame& f, int from);
  void Pump();
  void Deliver(const OnAir& item);
  void Hear(Link& link, const AirFrame& f);
  void AnswerUnknown(const AirFrame& f, int from);

  void StartConnect(Link& link);
  void SendQueued(Link& link);
  bool DropAcked(Link& link, int nr);
  void Acknowledge(Link& link, int nr);
  void ArmT1(Link& link);
  void Expire(Link& link);
  Link* HeldLink(const HeldCall& call);
  // The links calling the held link, still waiting for its answer.
  std::vector<Link*> Callers(const Link& held);
  void Notify(Link& link, char kind, const std::string& text);
  void Log(const std::string& line) const;

  const int ports_;
  const int64_t t1Ms_;
  TimeText timeText_;
  Logger log_;
  int64_t now_ = 0;
  int nextEndpoint_ = 1;
  uint64_t nextLinkId_ = 1;
  std::map<int, Endpoint> endpoints_;
  std::vector<Registration> registrations_;  // oldest first; lookups search from the newest
  std::vector<std::unique_ptr<Link>> links_;
  std::vector<OnAir> air_;
  size_t airPos_ = 0;
  std::vector<EngineOutput> out_;
  std::vector<HeldCall> held_;
};

}  // namespace orn
