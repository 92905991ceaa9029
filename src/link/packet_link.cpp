#include "link/packet_link.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "context/port_map.h"
#include "link/inner_frame.h"
#include "platform/text.h"

namespace orn {
namespace {

constexpr int kOpenTimeoutMs = 3000;
constexpr int kAnswerTimeoutMs = 1000;
constexpr int kPortsTimeoutMs = 10000;
// A partial frame waits this long at most for output that may complete it:
// long enough for a paced step to follow, short enough that a station
// reading a trickle never waits for nothing.
constexpr int64_t kHoldMs = 2000;

// What the sysop reads when the engine cannot be set up: where the BBS
// looked (RADIO ENGINEHOST and ENGINEPORT) and what should listen there.
std::string NoEngine(const Config& cfg) {
  return "No packet engine answers at " + cfg.EngineHost + ":" + std::to_string(cfg.EnginePort) +
         " (RADIO ENGINEHOST and ENGINEPORT in ORN.INI).\nStart Direwolf or ornpe there, with its packet-engine "
         "TCP API on that port.\nProgram Enters Idle Mode !";
}
std::string NoMonitor(const Config& cfg) {
  return "The packet engine at " + cfg.EngineHost + ":" + std::to_string(cfg.EnginePort) +
         " did not turn the monitor on.\nCheck that Direwolf or ornpe is what listens there.";
}
std::string NoVersion(const Config& cfg) {
  return "The program at " + cfg.EngineHost + ":" + std::to_string(cfg.EnginePort) +
         " does not answer as a packet engine.\nStart Direwolf or ornpe there, with its packet-engine TCP API on "
         "that port.";
}
// What the sysop reads after the reason: whether the BBS tries again by itself.
std::string RetryNote(const Config& cfg) {
  if (cfg.Reconnect <= 0) return {};
  return "\nTrying again every " + std::to_string(cfg.Reconnect) + " s (RADIO RECONNECT in ORN.INI).";
}
std::string NoCall(const Config& cfg) {
  return "The packet engine at " + cfg.EngineHost + ":" + std::to_string(cfg.EnginePort) + " refused to register " +
         cfg.MyCall + ".\nCheck MYCALL in ORN.INI, and that no other program holds that call on the engine.";
}

// A calendar time as 24 characters: "Thu Dec 10 04:25:09 2026".
std::string DateTime24(const std::tm& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[(t.tm_wday % 7 + 7) % 7],
                kMonths[(t.tm_mon % 12 + 12) % 12], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 1900 + t.tm_year);
  return buf;
}

}  // namespace

PacketLink::PacketLink(LinkClient& client, Config& cfg, ActivityLog& log, const Clock& clock, MainView& view,
                       EngineTransport& transport, TimerHost& timers)
    : client_(client),
      cfg_(cfg),
      log_(log),
      clock_(clock),
      view_(view),
      timers_(timers),
      session_(
          transport, [this](const std::string& f) { ReceivedData(f.data(), f.size()); },
          [this] { EngineLost(); }) {}

PacketLink::~PacketLink() { Close(); }

void PacketLink::SetupFailed(const std::string& message) {
  client_.Message(message, Icon::Stop);
  client_.SetStatus("BBS OFF:No RadioPorts");
  client_.SetServing(0);
}

void PacketLink::SetupWindow() {
  Config& cfg = cfg_;
  szData[0] = '\0';
  if (!session_.Open(cfg.EngineHost, cfg.EnginePort, kOpenTimeoutMs)) {
    // Without the connection no further step can succeed: one message is enough.
    SetupFailed(NoEngine(cfg) + RetryNote(cfg));
    KeepTrying();
    return;
  }
  bool ok = true;
  if (!session_.MonitorOn()) {
    SetupFailed(NoMonitor(cfg) + RetryNote(cfg));
    ok = false;
  }
  if (ok && !session_.QueryVersion(kAnswerTimeoutMs)) {
    SetupFailed(NoVersion(cfg) + RetryNote(cfg));
    ok = false;
  }
  if (ok) GetPorts();
  if (ok && !RegisterMyCall()) {
    SetupFailed(NoCall(cfg) + RetryNote(cfg));
    ok = false;
  }
  if (!ok && cfg.Reconnect > 0) {
    // A half set-up link would hold the engine's connection for nothing: the
    // next attempt starts from the beginning.
    session_.Close();
    KeepTrying();
    return;
  }
  if (session_.IsOpen()) StartAsync();
}

// At boot the BBS often starts before its engine: with RECONNECT it goes on
// looking from the first failure, as it does after losing the engine.
void PacketLink::KeepTrying() {
  if (cfg_.Reconnect > 0) timers_.SetTimer(kReconnectTimerId, cfg_.Reconnect * 1000, this);
}

void PacketLink::GetPorts() {
  if (!session_.IsOpen()) return;
  std::string text;
  if (!session_.RequestPorts(kPortsTimeoutMs, &text)) {
    // 1: the engine did not answer in time, or went away.
    client_.Message("Error 1", Icon::Stop, "ORNBBS");
    return;
  }
  // PORTS stays as the sysop set it: the engine may offer more ports (LinBPQ
  // lists every port of the node), and those are not the BBS's to use.
  Config& cfg = cfg_;
  const std::vector<EnginePort> ports = ParsePortList(text);
  portNotes_.clear();
  listed_.clear();
  for (const EnginePort& e : ports) listed_.push_back(e.number);
  for (int p = 0; p < cfg.maxport && p < kMaxPorts; ++p) cfg.Ports[p].port.clear();
  for (const EnginePort& e : ports) {
    const int p = ConfigPortOf(cfg, e.number);
    if (p >= 0) cfg.Ports[p].port = e.description;
    if (p < 0 || !cfg.Ports[p].enabled)
      NotePort(e.number, "Engine port left alone",
               "Engine port " + std::to_string(e.number) + " (" + e.description +
                   "): no enabled port of ORN.INI names it, left alone");
  }
  for (int p = 0; p < cfg.maxport && p < kMaxPorts; ++p) {
    const Auxes& a = cfg.Ports[p];
    if (!a.enabled) continue;
    const std::string name = "PORT" + std::to_string(p);
    if (EnginePortOf(cfg, p) < 0) {
      NotePort(a.engineport, name + " PORTNUM is no engine port",
               name + ": PORTNUM=" + std::to_string(a.engineport) + " is no engine port (0 to " +
                   std::to_string(kMaxEnginePort) + "), the port stays off the air");
    } else if (std::none_of(ports.begin(), ports.end(), [&](const EnginePort& e) { return e.number == a.engineport; })) {
      // LinBPQ does not list the port it hands its applications' links in on.
      NotePort(a.engineport, name + " engine port not listed",
               name + ": engine port " + std::to_string(a.engineport) + " is not in the engine's list, used all the same");
    }
  }
}

int PacketLink::PortShown(int port) const {
  // Before the engine has told its ports, every port is one of them.
  const bool listed = listed_.empty() || std::find(listed_.begin(), listed_.end(), port) != listed_.end();
  return listed ? port + 1 : port;
}

void PacketLink::NotePort(int number, const std::string& logText, const std::string& text) {
  portNotes_.push_back(text);
  // The log's lines are short: the event and the number.
  log_.writelog(65, number, "ENGINE", logText);
}

void PacketLink::ShowPortNotes() {
  for (const std::string& note : portNotes_) {
    const std::string line = note + "\r";
    client_.ShowToMonitor(line.data(), static_cast<int>(line.size()));
  }
}

bool PacketLink::RegisterMyCall() {
  const std::string& call = cfg_.MyCall;
  for (int port : EnginePortsInUse(cfg_))
    if (!session_.RegisterCall(port, call, kAnswerTimeoutMs)) return false;
  return true;
}

void PacketLink::StartAsync() { session_.StartAsync(); }

void PacketLink::Close() {
  timers_.KillTimer(kReconnectTimerId);
  session_.Close();
}

// The engine dropped every link with the connection, without a word to the
// stations: the sessions are over.
void PacketLink::EngineLost() {
  client_.SetServing(0);
  if (linkState_) linkState_(false);
  client_.LinkLost();
  client_.SetStatus("Idle Mode! No Server Connection !");
  KeepTrying();
  client_.Message("Disconnected From Packet Engine.\n Program Enters Idle Mode !", Icon::Information);
}

bool PacketLink::TryReconnect() {
  const Config& cfg = cfg_;
  const bool answers = session_.Open(cfg.EngineHost, cfg.EnginePort, kOpenTimeoutMs) && session_.MonitorOn() &&
                       session_.QueryVersion(kAnswerTimeoutMs);
  // The engine may be another one now, or met for the first time (a BBS
  // started before it): its ports are asked as at start-up.
  if (answers) GetPorts();
  if (answers && session_.IsOpen() && RegisterMyCall()) {
    ShowPortNotes();
    StartAsync();
    client_.SetServing(1);
    client_.SetStatus("BBS Server reconnected->Idle Mode");
    if (linkState_) linkState_(true);
    return true;
  }
  session_.Close();
  return false;
}

void PacketLink::OnTimer(int id) {
  if (id == kReconnectTimerId && TryReconnect()) timers_.KillTimer(kReconnectTimerId);
}

void PacketLink::FlushHeldOutput() {
  const int64_t now = clock_.NowMs();
  for (int i = 1; i < client_.ChannelCount(); ++i) {
    HeldOutput* hold = client_.HeldOutputOf(i);
    if (hold && hold->transparent && hold->transparenttimer <= now) TxTrans(*hold);
  }
}

int PacketLink::ChannelOfLink(int port, const std::string& call) {
  for (int i = 1; i < client_.ChannelCount(); ++i) {
    const HeldOutput* hold = client_.HeldOutputOf(i);
    if (hold && hold->HeldPort() == port && hold->HeldCall() == call) return i;
  }
  return 0;
}

int PacketLink::Paclen(int PortNo) const {
  const Auxes* a = PortRecordOf(cfg_, PortNo);
  const int p = a ? a->paclen : 128;
  return std::clamp(p, 1, kMaxHeld);
}

void PacketLink::Poke(char kind, int port, const std::string& to, const std::string& data) {
  if (!session_.IsOpen()) return;  // idle mode: dropped without report
  // Unproto frames and connects go on the air only on a port the sysop
  // configured and enabled; answers to a station (a refusal) go anywhere.
  const bool transmits = kind == 'M' || (kind == 'S' && !data.empty() && (data[0] == 'C' || data[0] == 'V'));
  if (transmits && !EnginePortInUse(cfg_, port)) return;
  view_.FlashTx();
  OutFrame f{kind, port, cfg_.MyCall, to, data};
  session_.Send(BuildOutFrame(f));
}

void PacketLink::SendPacket(HeldOutput& chan, int PortNo, const std::string& ToCall, const char* str, int count,
                            char DataKind) {
  const size_t P = static_cast<size_t>(Paclen(PortNo));
  const int64_t now = clock_.NowMs();
  std::string data(str, static_cast<size_t>(std::max(count, 0)));
  // The deadline is set when holding begins and never put off: a trickle
  // still leaves within the hold time.
  int64_t deadline = now + kHoldMs;
  if (chan.transparent) {
    if (static_cast<size_t>(chan.transcount) + data.size() < P) {
      std::memcpy(chan.trans + chan.transcount, data.data(), data.size());
      chan.transcount += static_cast<int>(data.size());
      return;
    }
    deadline = chan.transparenttimer;
    chan.transparent = false;
    chan.transparenttimer = 0;
    data.insert(0, chan.trans, static_cast<size_t>(chan.transcount));
    chan.transcount = 0;
  }
  const size_t full = data.size() <= P ? 0 : data.size() / P;
  for (size_t i = 0; i < full; ++i) SendPacketFrame(PortNo, ToCall, data.data() + i * P, static_cast<int>(P), DataKind);
  chan.framesSent += full;
  const size_t rest = data.size() - full * P;
  if (rest == 0) return;
  std::memcpy(chan.trans, data.data() + full * P, rest);
  chan.transcount = static_cast<int>(rest);
  chan.transparent = true;
  // Bytes that were held keep their deadline; new ones get a fresh one.
  chan.transparenttimer = full > 0 ? now + kHoldMs : deadline;
}

void PacketLink::TxTrans(HeldOutput& chan) {
  if (chan.transcount > 0) {
    SendPacketFrame(chan.HeldPort(), chan.HeldCall(), chan.trans, chan.transcount, 'D');
    ++chan.framesSent;
  }
  chan.transcount = 0;
  chan.transparent = false;
  chan.transparenttimer = 0;
}

void PacketLink::SendPacketFrame(int PortNo, const std::string& ToCall, const char* str, int count,
                                 char DataKind) {
  if (DataKind == 'K') return;  // raw frames are not ours to send
  const std::string data(str, static_cast<size_t>(std::max(count, 0)));
  if (DataKind != 'D') {
    Poke(DataKind, PortNo, ToCall, data);
    return;
  }
  // A station's frame never carries more than the port's packet length.
  const size_t P = static_cast<size_t>(Paclen(PortNo));
  for (size_t at = 0; at < data.size() || at == 0; at += P) Poke('D', PortNo, ToCall, data.substr(at, P));
}

void PacketLink::SendUnprotoData(int PortNo, const std::string& str) {
  const size_t P = static_cast<size_t>(Paclen(PortNo));
  for (size_t at = 0; at < str.size(); at += P) SendUnprotoDataFrame(PortNo, str.substr(at, P));
}

void PacketLink::SendUnprotoDataFrame(int PortNo, const std::string& piece) {
  const Auxes* a = PortRecordOf(cfg_, PortNo);
  const std::string to = a ? a->unprotoaddress : "";
  Poke('M', PortNo, to, piece);
}

void PacketLink::Connect(int port, const std::string& callto, const std::string& via) {
  if (activity_) activity_();
  if (Trim(via).empty()) {
    Poke('S', port, callto, "C");
  } else {
    std::string data(1, 'V');
    data += PrepareViaList(via);
    Poke('S', port, callto, data);
  }
}

void PacketLink::DisConnect(int port, const std::string& call) {
  client_.DisconnectRequested(port, call);
  log_.writelog(58, PortShown(port), call, "");
  Poke('S', port, call, "D");
}

void PacketLink::Heard(int port, const std::string& call) { Poke('S', port, call, "H"); }
void PacketLink::AskMaxFrame(int port, const std::string& call) { Poke('S', port, call, "S"); }
void PacketLink::AskMaxFrameWithCall(int port, const std::string& call) { Poke('S', port, call, "Y"); }

void PacketLink::ReceivedData(const char* data, size_t len) {
  if (!data || len == 0) return;
  const size_t n = std::min<size_t>(len, kInFrameMax);
  std::memset(szData2, 0, sizeof szData2);
  std::memcpy(szData2, data, n);
  view_.FlashRx();
  std::memcpy(szData, szData2, sizeof szData);
  if (client_.ChannelCount() == 0) return;  // no monitor window yet
  if (n < 2) return;
  // Engine ports run from 0 to 255 (LinBPQ's applications use 63).
  const int port = static_cast<uint8_t>(szData[0]);
  const char kind = szData[1];
  // Lengths are trusted only as far as the bytes received.
  const size_t avail = n >= 4 ? n - 4 : 0;
  size = n >= 4 ? static_cast<int>(std::min<size_t>(ReadLe16(szData + 2), avail)) : 0;
  const int monitor = cfg_.Monitor;
  switch (kind) {
    case 'C':
      if (activity_) activity_();
      client_.InsertToChannelAndCheckConDisc(port, szData + 4, size);
      client_.FrameDone();
      return;
    case 'D': {
      const size_t dataLen = n >= kInDataOffset ? std::min<size_t>(ReadLe16(szData + 2), n - kInDataOffset) : 0;
      if (n < kInDataOffset) return;
      if (activity_) activity_();
      client_.InsertToChannel(port, szData, static_cast<int>(dataLen + kInDataOffset));
      client_.FrameDone();
      return;
    }
    case 'I':
    case 'S':
    case 'U':
    case 'T': {
      const int bit = kind == 'I' ? 4 : kind == 'S' ? 16 : kind == 'U' ? 8 : 32;
      if (monitor & bit) client_.ShowToMonitor(szData + 4, size);
      return;
    }
    case 'M': {
      const int q = n >= 4 ? ReadLe16(szData + 2) : 0;
      if (pollmaxframe > 0 && pollmaxframe < client_.ChannelCount()) client_.FrameQueueAnswer(pollmaxframe, q, false);
      if (++pollmaxframe >= client_.ChannelCount()) pollmaxframe = 1;
      oktopoll = true;
      return;
    }
    case 'Y': {
      if (n < 17) return;
      const int q = ReadLe16(szData + 15);
      // The answer names the link: paced operations ask about their own
      // link besides the poll, so it is not always the polled channel's.
      const int index = ChannelOfLink(port, FieldCall(szData, n, 4));
      oktopoll = true;
      if (index > 0) client_.FrameQueueAnswer(index, q, true);
      return;
    }
    case 'H': {
      if (n < 21 || szData[2] == ' ') return;
      const std::string call = FieldCall(szData, n, 2);
      const Clock& clock = clock_;
      char line[128];
      std::snprintf(line, sizeof line, "Port%d>%9.9s %24.24s  %24.24s\r", port + 1, call.c_str(),
                    DateTime24(clock.Local(ReadLe32(szData + 13))).c_str(),
                    DateTime24(clock.Local(ReadLe32(szData + 17))).c_str());
      client_.ShowToMonitor(line, static_cast<int>(std::strlen(line)));
      return;
    }
    default:
      client_.ShowToMonitor("ERROR RECEIVED\r", 15);
      return;
  }
}

}  // namespace orn
