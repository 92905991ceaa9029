#include "ornpe/virtual_engine.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "ornpe/air_call.h"
#include "platform/text.h"

namespace orn {

// One station's end of a connection, kept by the engine of the client that
// owns it. The callsigns are the texts the client gave (outgoing links) or
// the registered call and the on-air text of the caller (incoming links).
struct VirtualEngine::Link {
  // Held: an incoming connect that waits for the host's answer.
  enum class State { Connecting, Connected, Disconnecting, Held };
  struct Block {
    uint8_t pid;
    std::string data;
  };

  uint64_t id = 0;
  int endpoint = 0;
  uint8_t port = 0;
  std::string own;
  std::string remote;
  std::vector<std::string> via;  // the path this end transmits through
  State state = State::Connecting;
  int vs = 0;  // next send sequence number
  int vr = 0;  // next expected receive sequence number
  int va = 0;  // oldest unacknowledged send sequence number
  std::deque<Block> queue;    // waiting for room in the window
  std::deque<Block> unacked;  // sent, not yet acknowledged
  int tries = 0;
  int64_t t1 = 0;  // retry deadline, 0 when stopped
};

namespace {

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  WriteLe32(s.data(), v);
  return s;
}

std::string Cut9(const std::string& call) { return call.size() > 9 ? call.substr(0, 9) : call; }

std::string Text(const std::string& s) { return s + '\0'; }

// The digipeater list of 'v' and 'V': a count, then that many 10-byte fields.
bool ParseVia(const std::string& data, std::vector<std::string>* via, size_t* used) {
  if (data.empty()) return false;
  const size_t n = static_cast<unsigned char>(data[0]);
  if (n > 7 || data.size() < 1 + 10 * n) return false;
  via->clear();
  for (size_t i = 0; i < n; ++i) via->push_back(Cut9(FieldText(data.data() + 1 + 10 * i, 10)));
  *used = 1 + 10 * n;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Unproto info goes through the engine's text path: "<0xNN>" becomes one byte.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '<' && i + 5 < s.size() && s[i + 1] == '0' && (s[i + 2] == 'x' || s[i + 2] == 'X') &&
        s[i + 5] == '>' && HexDigit(s[i + 3]) >= 0 && HexDigit(s[i + 4]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 3]) * 16 + HexDigit(s[i + 4]));
      i += 5;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string> Reversed(std::vector<std::string> v) {
  std::reverse(v.begin(), v.end());
  return v;
}

}  // namespace

VirtualEngine::VirtualEngine(const EngineOptions& options, TimeText timeText, Logger log)
    : ports_(std::clamp(options.ports, 1, kMaxPorts)),
      t1Ms_(std::max<int64_t>(1, options.retryMs / (kRetries + 1))),
      timeText_(std::move(timeText)),
      log_(std::move(log)) {}

VirtualEngine::~VirtualEngine() = default;

int VirtualEngine::Open() {
  const int id = nextEndpoint_++;
  endpoints_[id] = Endpoint{};
  return id;
}

void VirtualEngine::Close(int endpoint, bool hangUp) {
  if (!endpoints_.count(endpoint)) return;
  std::erase_if(registrations_, [&](const Registration& r) { return r.endpoint == endpoint; });
  std::vector<Link*> mine;
  for (auto& l : links_) {
    if (l->endpoint == endpoint) mine.push_back(l.get());
  }
  for (Link* l : mine) {
    if (hangUp && l->state == Link::State::Connected) Transmit(*l, AirType::DISC, AirRole::Command, true);
    RemoveLink(l);
  }
  endpoints_.erase(endpoint);
  std::erase_if(out_, [&](const EngineOutput& o) { return o.endpoint == endpoint; });
  std::erase_if(held_, [&](const HeldCall& h) { return h.endpoint == endpoint; });
  Pump();
}

std::vector<EngineOutput> VirtualEngine::TakeOutput() { return std::exchange(out_, {}); }

uint8_t VirtualEngine::ClampPort(uint8_t port) {
  const int listed = std::max(ports_, kListedChannels);
  if (port < listed) return port;
  Log("port " + std::to_string(port) + " does not exist: taken as port 0");
  return 0;
}

void VirtualEngine::Reply(int endpoint, const ApiFrame& f) {
  if (endpoints_.count(endpoint)) out_.push_back({endpoint, f});
}

void VirtualEngine::Receive(int endpoint, const ApiFrame& in) {
  auto ep = endpoints_.find(endpoint);
  if (ep == endpoints_.end()) return;
  ApiFrame f = in;
  f.callFrom = Cut9(f.callFrom);
  f.callTo = Cut9(f.callTo);
  f.port = ClampPort(f.port);
  std::vector<std::string> via;
  size_t used = 0;
  switch (f.kind) {
    case 'R':
      Reply(endpoint, {0, 'R', 0, "", "", Le32(2005) + Le32(127)});
      break;
    case 'G': {
      std::string text = std::to_string(ports_) + ";";
      for (int p = 0; p < std::max(ports_, kListedChannels); ++p) {
        text += "Port" + std::to_string(p + 1) + (p < ports_ ? " ornpe virtual radio;" : " INVALID CHANNEL;");
      }
      Reply(endpoint, {0, 'G', 0, "", "", Text(text)});
      break;
    }
    case 'g':
      Reply(endpoint, {f.port, 'g', 0, "", "", std::string("\x00\x01\x19\x04\xc8\x04\x07\x00\x01\x00\x00\x00", 12)});
      break;
    case 'X':
      HandleRegister(endpoint, f);
      break;
    case 'x':
      std::erase_if(registrations_, [&](const Registration& r) {
        return r.endpoint == endpoint && r.port == f.port && r.call == f.callFrom;
      });
      break;
    case 'm':
      ep->second.monitor = !ep->second.monitor;
      break;
    case 'k':
      ep->second.raw = !ep->second.raw;
      Log("client " + std::to_string(endpoint) + ": raw frames are not produced by this engine");
      break;
    case 'y':
      // The air takes every frame at once: nothing ever waits in a port's queue.
      Reply(endpoint, {f.port, 'y', 0, "", "", Le32(0)});
      break;
    case 'Y':
      HandleOutstanding(endpoint, f);
      break;
    case 'C':
    case 'c':
      HandleConnect(endpoint, f, {});
      break;
    case 'v':
      if (ParseVia(f.data, &via, &used)) {
        HandleConnect(endpoint, f, via);
      } else {
        Log("client " + std::to_string(endpoint) + ": bad digipeater list in 'v', ignored");
      }
      break;
    case 'D':
      HandleData(endpoint, f);
      break;
    case 'd':
      HandleDisconnect(endpoint, f);
      break;
    case 'M':
      HandleUnproto(endpoint, f, {}, f.data);
      break;
    case 'V':
      if (ParseVia(f.data, &via, &used)) {
        HandleUnproto(endpoint, f, via, f.data.substr(used));
      } else {
        Log("client " + std::to_string(endpoint) + ": bad digipeater list in 'V', ignored");
      }
      break;
    case 'H':
      break;  // the heard list has never been answered; clients build it from monitor frames
    default:
      Log("client " + std::to_string(endpoint) + ": unexpected frame kind '" + std::string(1, f.kind) + "'");
      break;
  }
  Pump();
}

void VirtualEngine::HandleRegister(int endpoint, const ApiFrame& f) {
  // Any text is accepted, as the real engine does; only a call a frame can
  // carry will ever be reached.
  const bool ok = f.port < ports_;
  if (ok) registrations_.push_back({f.callFrom, f.port, endpoint});
  Log("client " + std::to_string(endpoint) + ": register " + f.callFrom + " on port " + std::to_string(f.port) +
      (ok ? "" : " refused"));
  Reply(endpoint, {f.port, 'X', 0, f.callFrom, "", std::string(1, ok ? '\x01' : '\x00')});
}

void VirtualEngine::HandleConnect(int endpoint, const ApiFrame& f, std::vector<std::string> via) {
  Link* link = FindLink(endpoint, f.port, f.callFrom, f.callTo);
  if (link) {
    if (link->state != Link::State::Connected) return;  // an attempt or a release is under way
    link->queue.clear();
    link->unacked.clear();
    StartConnect(*link);
    return;
  }
  Log("client " + std::to_string(endpoint) + ": connect " + f.callFrom + " to " + f.callTo + " on port " +
      std::to_string(f.port));
  StartConnect(*NewLink(endpoint, f.port, f.callFrom, f.callTo, std::move(via)));
}

void VirtualEngine::HandleData(int endpoint, const ApiFrame& f) {
  Link* link = FindLink(endpoint, f.port, f.callFrom, f.callTo);
  if (!link || link->state != Link::State::Connected) {
    Log("client " + std::to_string(endpoint) + ": data for " + f.callFrom + ">" + f.callTo +
        " without a connection, dropped");
    return;
  }
  const uint8_t pid = (f.pid == 0x00 || f.pid == 0xFF) ? 0xF0 : f.pid;
  size_t pos = 0;
  do {
    link->queue.push_back({pid, f.data.substr(pos, kPaclen)});
    pos += kPaclen;
  } while (pos < f.data.size());
  SendQueued(*link);
}

void VirtualEngine::HandleDisconnect(int endpoint, const ApiFrame& f) {
  Link* link = FindLink(endpoint, f.port, f.callFrom, f.callTo);
  if (!link) {
    Reply(endpoint, {f.port, 'd', 0, f.callTo, f.callFrom, Text("*** DISCONNECTED From Station " + f.callTo + "\r")});
    return;
  }
  if (link->state != Link::State::Connected) return;  // a running attempt goes on until it ends
  link->queue.clear();
  link->state = Link::State::Disconnecting;
  link->tries = 0;
  Transmit(*link, AirType::DISC, AirRole::Command, true);
  ArmT1(*link);
}

void VirtualEngine::HandleOutstanding(int endpoint, const ApiFrame& f) {
  const Link* link = FindLink(endpoint, f.port, f.callFrom, f.callTo);
  const size_t count = link ? link->queue.size() + link->unacked.size() : 0;
  Reply(endpoint, {f.port, 'Y', 0, f.callFrom, f.callTo, Le32(static_cast<uint32_t>(count))});
}

void VirtualEngine::HandleUnproto(int endpoint, const ApiFrame& f, const std::vector<std::string>& via,
                                  std::string info) {
  // The request passes through the engine's text form "SRC>DST,DIGIS:info":
  // the info ends at a NUL, the whole text is cut to 511 characters, and
  // "<0xNN>" escapes are decoded after the cut.
  std::string head = f.callFrom + ">" + f.callTo;
  for (const auto& d : via) head += "," + d;
  head += ":";
  info = info.substr(0, info.find('\0'));
  constexpr size_t kTextMax = 511;
  info = head.size() >= kTextMax ? std::string() : info.substr(0, kTextMax - head.size());
  bool valid = IsAirCall(f.callFrom) && IsAirCall(f.callTo) && f.port < ports_;
  for (const auto& d : via) valid = valid && IsAirCall(d);
  if (!valid) {
    Log("client " + std::to_string(endpoint) + ": unproto " + head + " cannot be sent, dropped");
    return;
  }
  AirFrame ui;
  ui.port = f.port;
  ui.type = AirType::UI;
  ui.role = AirRole::Unmarked;
  ui.src = AirForm(f.callFrom);
  ui.dst = AirForm(f.callTo);
  for (const auto& d : via) ui.via.push_back(AirForm(d));
  ui.info = Unescape(info);
  TransmitFrame(ui, endpoint);
}

VirtualEngine::Link* VirtualEngine::FindLink(int endpoint, uint8_t port, const std::string& own,
                                             const std::string& remote) {
  for (auto& l : links_) {
    if (l->endpoint == endpoint && l->port == port && l->own == own && l->remote == remote) return l.get();
  }
  return nullptr;
}

VirtualEngine::Link* VirtualEngine::NewLink(int endpoint, uint8_t port, const std::string& own,
                                            const std::string& remote, std::vector<std::string> via) {
  auto link = std::make_unique<Link>();
  link->id = nextLinkId_++;
  link->endpoint = endpoint;
  link->port = port;
  link->own = own;
  link->remote = remote;
  link->via = std::move(via);
  links_.push_back(std::move(link));
  return links_.back().get();
}

void VirtualEngine::RemoveLink(Link* link) {
  std::erase_if(links_, [&](const std::unique_ptr<Link>& l) { return l.get() == link; });
}

const VirtualEngine::Registration* VirtualEngine::FindRegistration(uint8_t port, const std::string& call,
                                                                   int notEndpoint) const {
  // The most recent registration wins.
  for (auto r = registrations_.rbegin(); r != registrations_.rend(); ++r) {
    if (r->port == port && r->call == call && r->endpoint != notEndpoint) return &*r;
  }
  return nullptr;
}

void VirtualEngine::Transmit(Link& link, AirType type, AirRole role, bool pf, uint8_t pid, std::string info) {
  bool buildable = IsAirCall(link.own) && IsAirCall(link.remote) && link.port < ports_;
  for (const auto& d : link.via) buildable = buildable && IsAirCall(d);
  if (!buildable) {
    // Nothing goes out; the attempt runs into its retry limit.
    if (link.tries == 0) Log("no frame can be built from " + link.own + " to " + link.remote);
    return;
  }
  AirFrame f;
  f.port = link.port;
  f.type = type;
  f.role = role;
  f.src = AirForm(link.own);
  f.dst = AirForm(link.remote);
  for (const auto& d : link.via) f.via.push_back(AirForm(d));
  f.pf = pf;
  f.ns = link.vs;
  f.nr = link.vr;
  f.pid = pid;
  f.info = std::move(info);
  TransmitFrame(f, link.endpoint);
}

void VirtualEngine::TransmitFrame(const AirFrame& f, int from) { air_.push_back({f, from}); }

void VirtualEngine::Pump() {
  while (airPos_ < air_.size()) {
    const OnAir item = air_[airPos_++];
    Deliver(item);
  }
  air_.clear();
  airPos_ = 0;
}

void VirtualEngine::Deliver(const OnAir& item) {
  const AirFrame& f = item.frame;
  std::string line;
  for (const auto& [id, ep] : endpoints_) {
    if (!ep.monitor) continue;
    if (line.empty()) line = Text(MonitorText(f, timeText_ ? timeText_() : "00:00:00"));
    out_.push_back({id, {f.port, id == item.from ? 'T' : MonitorKind(f), 0, f.src, f.dst, line}});
  }
  if (f.type == AirType::UI) return;
  // Every engine but the sender hears the frame; the links it is addressed to act on it.
  std::vector<uint64_t> hearers;
  for (auto& l : links_) {
    if (l->port == f.port && l->endpoint != item.from && l->own == f.dst && l->remote == f.src) {
      hearers.push_back(l->id);
    }
  }
  if (hearers.empty()) {
    AnswerUnknown(f, item.from);
    return;
  }
  for (uint64_t id : hearers) {
    auto it = std::find_if(links_.begin(), links_.end(), [&](const auto& l) { return l->id == id; });
    if (it != links_.end()) Hear(**it, f);
  }
}

void VirtualEngine::AnswerUnknown(const AirFrame& f, int from) {
  const Registration* reg = FindRegistration(f.port, f.dst, from);
  if (!reg) return;  // nobody answers: the sender retries until it gives up
  if (f.type == AirType::SABM && reg->held) {
    Link* link = NewLink(reg->endpoint, f.port, reg->call, f.src, Reversed(f.via));
    link->state = Link::State::Held;
    Log("client " + std::to_string(link->endpoint) + ": " + f.src + " calls " + link->own + ", held");
    held_.push_back({link->endpoint, link->port, link->own, link->remote});
    return;
  }
  if (f.type == AirType::SABM) {
    Link* link = NewLink(reg->endpoint, f.port, reg->call, f.src, Reversed(f.via));
    link->state = Link::State::Connected;
    Log("client " + std::to_string(link->endpoint) + ": " + f.src + " connected to " + link->own);
    Notify(*link, 'C', "*** CONNECTED To Station " + f.src);
    Transmit(*link, AirType::UA, AirRole::Response, f.pf);
    return;
  }
  // A registered call without this link answers commands with DM.
  if (f.role == AirRole::Command && (f.type == AirType::I || f.type == AirType::DISC || f.type == AirType::RR)) {
    AirFrame dm;
    dm.port = f.port;
    dm.type = AirType::DM;
    dm.role = AirRole::Response;
    dm.src = f.dst;
    dm.dst = f.src;
    dm.via = Reversed(f.via);
    dm.pf = f.pf;
    TransmitFrame(dm, reg->endpoint);
  }
}

void VirtualEngine::Hear(Link& link, const AirFrame& f) {
  using State = Link::State;
  if (link.state == State::Held) return;  // the caller's retries wait for the host too
  switch (f.type) {
    case AirType::SABM:
      if (link.state == State::Connected) {
        // The remote reset the link: what was not yet delivered is lost.
        const bool lost = !link.queue.empty() || !link.unacked.empty();
        link.queue.clear();
        link.unacked.clear();
        link.vs = link.vr = link.va = 0;
        link.tries = 0;
        link.t1 = 0;
        if (lost) Notify(link, 'C', "*** CONNECTED To Station " + link.remote);
        Transmit(link, AirType::UA, AirRole::Response, f.pf);
      } else {
        Transmit(link, link.state == State::Connecting ? AirType::UA : AirType::DM, AirRole::Response, f.pf);
      }
      break;
    case AirType::UA:
      if (link.state == State::Connecting) {
        link.state = State::Connected;
        link.vs = link.vr = link.va = 0;
        link.tries = 0;
        link.t1 = 0;
        Log("client " + std::to_string(link.endpoint) + ": " + link.own + " connected to " + link.remote);
        Notify(link, 'C', "*** CONNECTED With Station " + link.remote);
        SendQueued(link);
      } else if (link.state == State::Disconnecting) {
        Notify(link, 'd', "*** DISCONNECTED From Station " + link.remote);
        RemoveLink(&link);
      }
      break;
    case AirType::DM:
      Notify(link, 'd', "*** DISCONNECTED From Station " + link.remote);
      RemoveLink(&link);
      break;
    case AirType::DISC:
      if (link.state == State::Connected) {
        Transmit(link, AirType::UA, AirRole::Response, f.pf);
        Notify(link, 'd', "*** DISCONNECTED From Station " + link.remote);
        RemoveLink(&link);
      } else {
        Transmit(link, link.state == State::Disconnecting ? AirType::UA : AirType::DM, AirRole::Response, f.pf);
      }
      break;
    case AirType::I:
      if (link.state != State::Connected) break;
      if (f.ns == link.vr) {
        link.vr = (link.vr + 1) % 8;
        out_.push_back({link.endpoint, {link.port, 'D', f.pid, link.remote, link.own, f.info}});
      }
      Transmit(link, AirType::RR, AirRole::Response, f.pf);
      Acknowledge(link, f.nr);
      break;
    case AirType::RR:
      if (link.state != State::Connected) break;
      if (f.role == AirRole::Command && f.pf) Transmit(link, AirType::RR, AirRole::Response, true);
      if (f.role == AirRole::Response && f.pf && link.tries > 0) {
        // The answer to a poll: whatever it does not acknowledge goes out again.
        link.tries = 0;
        DropAcked(link, f.nr);
        while (!link.unacked.empty()) {
          link.queue.push_front(std::move(link.unacked.back()));
          link.unacked.pop_back();
        }
        link.vs = link.va;
        link.t1 = 0;
        SendQueued(link);
      } else {
        Acknowledge(link, f.nr);
      }
      break;
    case AirType::UI:
      break;
  }
}

void VirtualEngine::StartConnect(Link& link) {
  link.state = Link::State::Connecting;
  link.vs = link.vr = link.va = 0;
  link.tries = 0;
  Transmit(link, AirType::SABM, AirRole::Command, true);
  ArmT1(link);
}

void VirtualEngine::SendQueued(Link& link) {
  bool sent = false;
  while (!link.queue.empty() && link.unacked.size() < kMaxFrame) {
    Link::Block block = std::move(link.queue.front());
    link.queue.pop_front();
    Transmit(link, AirType::I, AirRole::Command, false, block.pid, block.data);
    link.unacked.push_back(std::move(block));
    link.vs = (link.vs + 1) % 8;
    sent = true;
  }
  if (sent && link.t1 == 0) ArmT1(link);
}

bool VirtualEngine::DropAcked(Link& link, int nr) {
  const size_t acked = static_cast<size_t>((nr - link.va + 8) % 8);
  if (acked == 0 || acked > link.unacked.size()) return false;
  for (size_t i = 0; i < acked; ++i) link.unacked.pop_front();
  link.va = nr;
  return true;
}

void VirtualEngine::Acknowledge(Link& link, int nr) {
  if (!DropAcked(link, nr)) return;
  link.tries = 0;
  link.t1 = 0;
  if (!link.unacked.empty()) ArmT1(link);
  SendQueued(link);
}

void VirtualEngine::ArmT1(Link& link) { link.t1 = now_ + t1Ms_; }

void VirtualEngine::Expire(Link& link) {
  using State = Link::State;
  link.t1 = 0;
  const bool again = link.tries < kRetries;
  switch (link.state) {
    case State::Connecting:
      if (again) {
        ++link.tries;
        Transmit(link, AirType::SABM, AirRole::Command, true);
        ArmT1(link);
      } else {
        Log("client " + std::to_string(link.endpoint) + ": " + link.own + " to " + link.remote + " retried out");
        Notify(link, 'd', "*** DISCONNECTED RETRYOUT With " + link.remote);
        RemoveLink(&link);
      }
      break;
    case State::Disconnecting:
      if (again) {
        ++link.tries;
        Transmit(link, AirType::DISC, AirRole::Command, true);
        ArmT1(link);
      } else {
        Notify(link, 'd', "*** DISCONNECTED From Station " + link.remote);
        RemoveLink(&link);
      }
      break;
    case State::Held:
      break;
    case State::Connected:
      if (link.unacked.empty()) break;
      if (again) {
        ++link.tries;
        Transmit(link, AirType::RR, AirRole::Command, true);
        ArmT1(link);
      } else {
        Log("client " + std::to_string(link.endpoint) + ": " + link.own + " to " + link.remote + " retried out");
        Transmit(link, AirType::DM, AirRole::Response, false);
        Notify(link, 'd', "*** DISCONNECTED RETRYOUT With " + link.remote);
        RemoveLink(&link);
      }
      break;
  }
}

int64_t VirtualEngine::NextDeadline() const {
  int64_t due = -1;
  for (const auto& l : links_)
    if (l->t1 != 0 && (due < 0 || l->t1 < due)) due = l->t1;
  return due;
}

void VirtualEngine::Advance(int64_t nowMs) {
  // Deadlines run in their own order and at their own time, however far the
  // clock jumps.
  for (;;) {
    Link* due = nullptr;
    for (auto& l : links_) {
      if (l->t1 != 0 && l->t1 <= nowMs && (!due || l->t1 < due->t1)) due = l.get();
    }
    if (!due) break;
    now_ = std::max(now_, due->t1);
    Expire(*due);
    Pump();
  }
  now_ = std::max(now_, nowMs);
}

void VirtualEngine::Notify(Link& link, char kind, const std::string& text) {
  if (endpoints_.count(link.endpoint)) {
    out_.push_back({link.endpoint, {link.port, kind, 0, link.remote, link.own, Text(text + "\r")}});
  }
}

void VirtualEngine::RegisterHeld(int endpoint, const std::string& call) {
  if (!endpoints_.count(endpoint)) return;
  for (int p = 0; p < ports_; ++p) registrations_.push_back({call, static_cast<uint8_t>(p), endpoint, true});
  Log("client " + std::to_string(endpoint) + ": " + call + " answers when the host is ready, on every port");
}

std::vector<HeldCall> VirtualEngine::TakeHeldCalls() { return std::exchange(held_, {}); }

VirtualEngine::Link* VirtualEngine::HeldLink(const HeldCall& call) {
  Link* link = FindLink(call.endpoint, call.port, call.own, call.remote);
  return link && link->state == Link::State::Held ? link : nullptr;
}

std::vector<VirtualEngine::Link*> VirtualEngine::Callers(const Link& held) {
  // Those whose frames the held link's would reach (see Deliver).
  std::vector<Link*> out;
  for (auto& l : links_) {
    if (l->port == held.port && l->endpoint != held.endpoint && l->state == Link::State::Connecting &&
        l->own == AirForm(held.remote) && l->remote == AirForm(held.own)) {
      out.push_back(l.get());
    }
  }
  return out;
}

bool VirtualEngine::AnswerHeld(const HeldCall& call) {
  Link* link = HeldLink(call);
  if (!link) return false;
  if (Callers(*link).empty()) {
    Log("client " + std::to_string(link->endpoint) + ": " + link->remote + " gave up calling " + link->own);
    RemoveLink(link);
    return false;
  }
  link->state = Link::State::Connected;
  Log("client " + std::to_string(link->endpoint) + ": " + link->remote + " connected to " + link->own);
  Transmit(*link, AirType::UA, AirRole::Response, true);
  Pump();
  return true;
}

void VirtualEngine::RefuseHeld(const HeldCall& call) {
  Link* link = HeldLink(call);
  if (!link) return;
  for (Link* l : Callers(*link)) {
    Log("client " + std::to_string(l->endpoint) + ": " + l->own + " to " + l->remote + " retried out");
    Notify(*l, 'd', "*** DISCONNECTED RETRYOUT With " + l->remote);
    RemoveLink(l);
  }
  RemoveLink(link);
}

std::string VirtualEngine::OldestRegistration(uint8_t port) const {
  for (const auto& r : registrations_) {
    if (r.port == port && !r.held) return r.call;
  }
  return {};
}

bool VirtualEngine::CallInUse(uint8_t port, const std::string& call) const {
  const std::string air = AirForm(call);
  for (const auto& r : registrations_) {
    if (r.port == port && !r.held && AirForm(r.call) == air) return true;
  }
  for (const auto& l : links_) {
    if (l->port == port && (AirForm(l->own) == air || AirForm(l->remote) == air)) return true;
  }
  return false;
}

int VirtualEngine::RegisteredBy(uint8_t port, const std::string& call) const {
  const Registration* r = FindRegistration(port, call, 0);
  return r ? r->endpoint : 0;
}

void VirtualEngine::Log(const std::string& line) const {
  if (log_) log_(line);
}

}  // namespace orn
