#include "ornpe/engine_relay.h"

#include <algorithm>

#include "platform/bytes.h"

namespace orn {
namespace {

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  WriteLe32(s.data(), v);
  return s;
}

std::string Text(const std::string& s) { return s + "\r" + std::string(1, '\0'); }

bool IsMonitor(char kind) { return kind == 'I' || kind == 'U' || kind == 'S' || kind == 'T'; }

// The kinds an engine sends a client; anything else is not the TCP API.
bool IsEngineKind(char kind) { return kind != '\0' && std::string("CdDIUSTKyYgXRGH").find(kind) != std::string::npos; }

bool IsConnect(char kind) { return kind == 'C' || kind == 'c' || kind == 'v'; }

}  // namespace

EngineRelay::EngineRelay(const PortTable& ports, Logger log) : ports_(ports), log_(std::move(log)) {}

EngineRelay::Upstream& EngineRelay::Use(int client, int engine) {
  auto [it, fresh] = up_.try_emplace(Key{client, engine});
  if (fresh) actions_.push_back({RelayAction::Kind::Open, client, engine, {}});
  return it->second;
}

bool EngineRelay::FromClient(int client, ApiFrame& f) {
  if (ports_.engines() == 0) return false;
  switch (f.kind) {
    case 'G':
      ToClient(client, {0, 'G', 0, "", "", ports_.PortListText() + std::string(1, '\0')});
      return true;
    case 'm': {
      // The toggle reaches every engine, and the virtual one too.
      const bool on = monitor_[client] = !monitor_[client];
      for (int e = 0; e < ports_.engines(); ++e) {
        Upstream& u = Use(client, e);
        if (u.state == State::Up) actions_.push_back({RelayAction::Kind::Send, client, e, {0, 'm', 0, "", "", ""}});
      }
      Log("client " + std::to_string(client) + ": monitor " + (on ? "on" : "off") + " on every engine");
      return false;
    }
    case 'R':
    case 'k':
      return false;
    default:
      break;
  }
  const RadioPort* radio = ports_.Radio(f.port);
  if (!radio) {
    if (f.port >= ports_.radioPorts()) f.port = static_cast<uint8_t>(f.port - ports_.radioPorts());
    return false;
  }
  Send(client, radio->engine, Use(client, radio->engine), f);
  return true;
}

void EngineRelay::Send(int client, int engine, Upstream& u, const ApiFrame& f) {
  if (u.state == State::Connecting) {
    if (f.kind == 'X' && u.askedAt < 0) u.askedAt = now_;
    u.waiting.push_back(f);
    return;
  }
  if (u.state == State::Away) {
    AnswerAway(client, engine, u, f);
    return;
  }
  const int port = f.port;
  if (f.kind == 'X') {
    if (u.askedAt < 0) u.askedAt = now_;
    const bool known = std::any_of(u.registrations.begin(), u.registrations.end(),
                                   [&](const Registration& r) { return r.call == f.callFrom && r.port == port; });
    if (!known) u.registrations.push_back({f.callFrom, port});
    u.answers.push_back({port, f.callFrom, false});
  } else if (f.kind == 'x') {
    std::erase_if(u.registrations, [&](const Registration& r) { return r.call == f.callFrom && r.port == port; });
  } else if (IsConnect(f.kind) && !FindLink(u, port, f.callFrom, f.callTo)) {
    u.links.push_back({port, f.callFrom, f.callTo, false});
  }
  ApiFrame out = f;
  out.port = static_cast<uint8_t>(ports_.Radio(port)->enginePort);
  actions_.push_back({RelayAction::Kind::Send, client, engine, std::move(out)});
}

void EngineRelay::AnswerAway(int client, int engine, Upstream& u, const ApiFrame& f) {
  const int port = f.port;
  const std::string where = "engine " + Name(engine) + " is away: ";
  switch (f.kind) {
    case 'X':
      if (std::none_of(u.registrations.begin(), u.registrations.end(),
                       [&](const Registration& r) { return r.call == f.callFrom && r.port == port; })) {
        u.registrations.push_back({f.callFrom, port});
      }
      Log(where + f.callFrom + " is registered on port " + std::to_string(port) + " once it is back");
      ToClient(client, {f.port, 'X', 0, f.callFrom, "", std::string(1, '\x01')});
      break;
    case 'x':
      std::erase_if(u.registrations, [&](const Registration& r) { return r.call == f.callFrom && r.port == port; });
      break;
    case 'C':
    case 'c':
    case 'v':
      Log(where + "connect " + f.callFrom + " to " + f.callTo + " on port " + std::to_string(port) + " fails");
      ToClient(client, {f.port, 'd', 0, f.callTo, f.callFrom, Text("*** DISCONNECTED RETRYOUT With " + f.callTo)});
      break;
    case 'd':
      ToClient(client, {f.port, 'd', 0, f.callTo, f.callFrom, Text("*** DISCONNECTED From Station " + f.callTo)});
      break;
    case 'y':
      ToClient(client, {f.port, 'y', 0, "", "", Le32(0)});
      break;
    case 'Y':
      ToClient(client, {f.port, 'Y', 0, f.callFrom, f.callTo, Le32(0)});
      break;
    default:
      Drop(engine, "away",
           where + "'" + std::string(1, f.kind) + "' frame for port " + std::to_string(port) + " dropped");
      break;
  }
}

EngineRelay::LinkInfo* EngineRelay::FindLink(Upstream& u, int port, const std::string& own,
                                             const std::string& remote) {
  for (LinkInfo& l : u.links) {
    if (l.port == port && l.own == own && l.remote == remote) return &l;
  }
  return nullptr;
}

void EngineRelay::Connected(int client, int engine) {
  auto it = up_.find(Key{client, engine});
  if (it == up_.end()) return;
  Upstream& u = it->second;
  u.state = State::Up;
  if (monitor_[client]) actions_.push_back({RelayAction::Kind::Send, client, engine, {0, 'm', 0, "", "", ""}});
  std::string again;
  for (const Registration& r : u.registrations) {
    if (u.askedAt < 0) u.askedAt = now_;
    u.answers.push_back({r.port, r.call, true});
    actions_.push_back({RelayAction::Kind::Send, client, engine,
                        {static_cast<uint8_t>(ports_.Radio(r.port)->enginePort), 'X', 0, r.call, "", ""}});
    again += " " + r.call + "@" + std::to_string(r.port);
  }
  Log("engine " + Name(engine) + ": connected for client " + std::to_string(client) +
      (again.empty() ? "" : ", registering again:" + again));
  for (const ApiFrame& f : std::exchange(u.waiting, {})) Send(client, engine, u, f);
}

void EngineRelay::FromEngine(int client, int engine, const ApiFrame& f) {
  auto it = up_.find(Key{client, engine});
  if (it == up_.end() || it->second.state != State::Up) return;
  Upstream& u = it->second;
  // Alive: the next loss is tried again soon. A connection alone does not
  // say so (an engine that takes it and never answers).
  u.pauseMs = kFirstPauseMs;
  const std::string name = "engine " + Name(engine);
  if (!IsEngineKind(f.kind)) {
    Drop(engine, "kind",
         name + ": unknown frame kind 0x" + std::to_string(static_cast<unsigned char>(f.kind)) + ", dropped");
    return;
  }
  if (f.kind == 'R' || f.kind == 'G') return;  // never asked for: ornpe answers these itself
  if (f.kind == 'X') {
    if (u.answers.empty()) {
      Drop(engine, "answer", name + ": a registration answer nobody asked for, dropped");
      return;
    }
    const PendingX x = u.answers.front();
    u.answers.erase(u.answers.begin());
    u.askedAt = u.answers.empty() ? -1 : now_;
    const bool ok = !f.data.empty() && f.data[0] == '\x01';
    if (!ok) {
      Log(name + " refuses the registration of " + x.call + " on port " + std::to_string(x.port));
      std::erase_if(u.registrations, [&](const Registration& r) { return r.call == x.call && r.port == x.port; });
    }
    if (!x.silent) ToClient(client, {static_cast<uint8_t>(x.port), 'X', 0, x.call, "", ok ? "\x01" : std::string(1, '\0')});
    return;
  }
  const int port = ports_.PortOf(engine, f.port);
  if (port < 0) {
    Drop(engine, "port", name + ": '" + std::string(1, f.kind) + "' frame for its port " + std::to_string(f.port) +
                             ", which it did not list, dropped");
    return;
  }
  ApiFrame out = f;
  out.port = static_cast<uint8_t>(port);
  if (f.kind == 'C') {
    if (LinkInfo* l = FindLink(u, port, f.callTo, f.callFrom)) {
      l->up = true;
    } else {
      u.links.push_back({port, f.callTo, f.callFrom, true});
    }
  } else if (f.kind == 'd') {
    std::erase_if(u.links, [&](const LinkInfo& l) { return l.port == port && l.own == f.callTo && l.remote == f.callFrom; });
  } else if (IsMonitor(f.kind)) {
    out.data = RenumberMonitor(f.data, port);
  }
  ToClient(client, std::move(out));
}

void EngineRelay::Lost(int client, int engine, const std::string& why, int64_t nowMs) {
  auto it = up_.find(Key{client, engine});
  if (it == up_.end() || it->second.state == State::Away) return;
  Upstream& u = it->second;
  // The engine dropped every link of the connection without a word to the
  // stations: the client hears of it at once instead of at its next send.
  for (const LinkInfo& l : u.links) {
    ToClient(client, {static_cast<uint8_t>(l.port), 'd', 0, l.remote, l.own,
                      Text(l.up ? "*** DISCONNECTED From Station " + l.remote
                                : "*** DISCONNECTED RETRYOUT With " + l.remote)});
  }
  // Registrations it never answered count as made: they are made again.
  for (const PendingX& x : u.answers) {
    if (!x.silent) ToClient(client, {static_cast<uint8_t>(x.port), 'X', 0, x.call, "", "\x01"});
  }
  const size_t ended = u.links.size();
  u.links.clear();
  u.answers.clear();
  u.askedAt = -1;
  u.state = State::Away;
  u.retryAt = nowMs + u.pauseMs;
  Log("engine " + Name(engine) + " lost for client " + std::to_string(client) + " (" + why + "): " +
      std::to_string(ended) + " link(s) ended, trying again in " + std::to_string(u.pauseMs / 1000) + " s");
  u.pauseMs = std::min(u.pauseMs * 2, kMaxPauseMs);
  for (const ApiFrame& f : std::exchange(u.waiting, {})) AnswerAway(client, engine, u, f);
}

void EngineRelay::Advance(int64_t nowMs) {
  now_ = nowMs;
  std::vector<Key> silent;
  for (auto& [key, u] : up_) {
    if (u.state == State::Away && u.retryAt <= nowMs) {
      u.state = State::Connecting;
      actions_.push_back({RelayAction::Kind::Open, key.first, key.second, {}});
    } else if (u.state != State::Away && u.askedAt >= 0 && nowMs - u.askedAt >= kAnswerMs) {
      silent.push_back(key);
    }
  }
  for (const Key& key : silent) {
    Fail(key.first, key.second,
         "no answer to a registration in " + std::to_string(kAnswerMs) + " ms");
  }
  ReportDrops();
}

void EngineRelay::Fail(int client, int engine, const std::string& why) {
  actions_.push_back({RelayAction::Kind::Close, client, engine, {}});
  Lost(client, engine, why, now_);
}

void EngineRelay::Drop(int engine, const char* why, const std::string& line) {
  Drops& d = drops_[{engine, why}];
  if (d.count == 0 && d.last.empty()) {
    Log(line);
    d.since = now_;
    d.last = line;  // logged: what follows within the minute is only counted
    return;
  }
  ++d.count;
  d.last = line;
}

void EngineRelay::ReportDrops() {
  for (auto it = drops_.begin(); it != drops_.end();) {
    Drops& d = it->second;
    if (now_ - d.since < kDropReportMs) {
      ++it;
      continue;
    }
    if (d.count == 0) {
      it = drops_.erase(it);  // a quiet minute: the next drop is logged at once
      continue;
    }
    Log("engine " + Name(it->first.first) + ": " + std::to_string(d.count) + " more frame(s) dropped in " +
        std::to_string((now_ - d.since + 500) / 1000) + " s, the last: " + d.last);
    d.since = now_;
    d.count = 0;
    ++it;
  }
}

int64_t EngineRelay::NextDeadline() const {
  int64_t due = -1;
  auto sooner = [&due](int64_t t) {
    if (due < 0 || t < due) due = t;
  };
  for (const auto& [key, u] : up_) {
    if (u.state == State::Away) sooner(u.retryAt);
    if (u.state != State::Away && u.askedAt >= 0) sooner(u.askedAt + kAnswerMs);
  }
  for (const auto& [key, d] : drops_) sooner(d.since + kDropReportMs);
  return due;
}

void EngineRelay::ClientGone(int client) {
  for (auto it = up_.begin(); it != up_.end();) {
    if (it->first.first == client) {
      actions_.push_back({RelayAction::Kind::Close, client, it->first.second, {}});
      it = up_.erase(it);
    } else {
      ++it;
    }
  }
  monitor_.erase(client);
}

ApiFrame EngineRelay::FromVirtual(ApiFrame f) const {
  if (ports_.radioPorts() == 0 || f.kind == 'R' || f.kind == 'G') return f;
  f.port = static_cast<uint8_t>(f.port + ports_.radioPorts());
  if (IsMonitor(f.kind)) f.data = RenumberMonitor(f.data, f.port);
  return f;
}

}  // namespace orn
