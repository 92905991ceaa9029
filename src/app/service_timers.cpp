#include "app/service_timers.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <utility>

#include "channel/mdi_client.h"
#include "channel/channel.h"
#include "context/port_map.h"
#include "platform/file_names.h"
#include "store/store.h"
#include "store/tokens.h"

namespace orn {
namespace {

constexpr int kLastTimerId = 10000;

// Without a screen the counters are shown to nobody: the info tick is left
// with the repair's schedule, which counts minutes.
constexpr int kInfoBase = 1300, kInfoMs = 400, kInfoHeadlessMs = 10000;
constexpr int kServiceBase = 1200, kServiceMs = 300;
constexpr int kFwdBase = 1100, kFwdMs = 60000;
constexpr int kPollBase = 1000, kPollMs = 600;
// Beacons are minutes apart: a tick every few seconds is on time.
constexpr int kBeaconBase = 1001, kMailBeaconBase = 1010, kBeaconMs = 5000;
constexpr int kAnimationBase = 1, kAnimationMs = 70;
constexpr int kAnimationFrames = 6;
// With no station on any channel the service tick and the poll have nothing
// to do; they rest at this period until the link shows activity (Wake).
constexpr int kRestMs = 30000;
// While a paced operation waits for a full queue to drain, the tick asks
// the engine again this often: a link that has just been acknowledged
// takes the next frames after a tenth of a second at the latest.
constexpr int kQueueWatchMs = 100;

// Runs a procedure unless it is already running further up the stack.
class BusyGuard {
 public:
  explicit BusyGuard(bool& flag) : flag_(flag), entered_(!flag) { flag_ = true; }
  ~BusyGuard() {
    if (entered_) flag_ = false;
  }
  bool entered() const { return entered_; }

 private:
  bool& flag_;
  bool entered_;
};

// A beacon interval below one minute would put a frame on the air at every
// second.
int64_t IntervalSeconds(int minutes) { return 60 * static_cast<int64_t>(std::max(minutes, 1)); }

// Lines on the air end with CR alone; the file may hold any convention.
// A file written on DOS ends at Ctrl-Z.
std::string AirLines(const std::string& file) {
  std::string out;
  for (size_t i = 0; i < file.size(); ++i) {
    const char c = file[i];
    if (c == '\0' || c == '\x1A') break;
    if (c == '\r' && i + 1 < file.size() && file[i + 1] == '\n') continue;
    out += c == '\n' ? '\r' : c;
  }
  return out;
}

}  // namespace

ServiceTimers::ServiceTimers(MDIClient& client, TimerHost& host, Store& store)
    : client_(client), host_(host), store_(store) {}

ServiceTimers::~ServiceTimers() { KillTimers(); }

int ServiceTimers::InfoMs() const { return client_.mainView().HasDisplay() ? kInfoMs : kInfoHeadlessMs; }

int ServiceTimers::StartTimer(int base, int periodMs) {
  for (int id = base; id < kLastTimerId; ++id)
    if (host_.SetTimer(id, periodMs, this)) return id;
  return 0;
}

bool ServiceTimers::Start() {
  const bool ok = EnableTimers();
  if (client_.mainView().HasDisplay()) StartAnimation();
  return ok;
}

void ServiceTimers::SetPace(bool rest, bool watchQueues) {
  if (rest != resting_) {
    resting_ = rest;
    for (auto [id, ms] : {std::pair{servicetimer_id, kServiceMs}, std::pair{askmaxframetimer_id, kPollMs}}) {
      if (id) host_.SetPeriod(id, rest ? kRestMs : ms, this);
    }
    watching_ = false;
  }
  watchQueues = watchQueues && !rest;
  if (watchQueues == watching_) return;
  watching_ = watchQueues;
  if (servicetimer_id) host_.SetPeriod(servicetimer_id, watchQueues ? kQueueWatchMs : kServiceMs, this);
}

void ServiceTimers::Wake() { SetPace(false, watching_); }

bool ServiceTimers::EnableTimers() {
  KillTimers();
  fwdtimer_id = 0;
  fwdstarted = false;
  lastFwdTick_ = client_.clock().Now();
  // The question asked before the timers stopped will not be answered.
  client_.link().oktopoll = true;
  pollWaits_ = 0;

  int asked = 0, obtained = 0;
  auto start = [&](int base, int periodMs) {
    ++asked;
    const int id = StartTimer(base, periodMs);
    if (id) ++obtained;
    return id;
  };
  resting_ = watching_ = false;
  infotimer_id = start(kInfoBase, InfoMs());
  servicetimer_id = start(kServiceBase, kServiceMs);
  fwdtimer_id = start(kFwdBase, kFwdMs);
  askmaxframetimer_id = start(kPollBase, kPollMs);

  // One timer serves the beacons of every port, another the mail beacons;
  // each port's own deadline decides whether it sends.
  Config& cfg = client_.cfg();
  for (int p = 0; p < cfg.maxport && p < kMaxPorts; ++p) {
    Auxes& a = cfg.Ports[p];
    if (!a.enabled || !a.beaconeveryok) continue;
    ++asked;
    if (!beaconTimerId_) beaconTimerId_ = StartTimer(kBeaconBase, kBeaconMs);
    if (!beaconTimerId_) continue;
    ++obtained;
    a.beacontimer_id = beaconTimerId_;
    a.beacontimer = static_cast<unsigned long>(beaconTimerId_);
  }
  for (int p = 0; p < cfg.maxport && p < kMaxPorts; ++p) {
    Auxes& a = cfg.Ports[p];
    if (!a.enabled || !a.mailbeaconok) continue;
    ++asked;
    if (!mailBeaconTimerId_) mailBeaconTimerId_ = StartTimer(kMailBeaconBase, kBeaconMs);
    if (!mailBeaconTimerId_) continue;
    ++obtained;
    a.mailbeacontimer_id = mailBeaconTimerId_;
    a.mailbeacontimer = static_cast<unsigned long>(mailBeaconTimerId_);
  }

  if (obtained < asked) {
    client_.mainView().MessageBox("ORNBBS", "Timers Low!\nBBS Server down!!!", Icon::Stop);
    return false;
  }
  return true;
}

void ServiceTimers::StartAnimation() {
  if (animationtimer_id) host_.KillTimer(animationtimer_id);
  animationFrame_ = 0;
  animationtimer_id = StartTimer(kAnimationBase, kAnimationMs);
}

void ServiceTimers::KeepOnlyInfoTimer() {
  const int info = infotimer_id;
  infotimer_id = 0;
  KillTimers();
  infotimer_id = info ? info : StartTimer(kInfoBase, InfoMs());
}

void ServiceTimers::KillTimers() {
  for (int* id : {&askmaxframetimer_id, &animationtimer_id, &fwdtimer_id, &servicetimer_id, &infotimer_id,
                  &mailBeaconTimerId_, &beaconTimerId_}) {
    if (*id) host_.KillTimer(*id);
    *id = 0;
  }
  for (Auxes& a : client_.cfg().Ports) {
    a.beacontimer_id = a.mailbeacontimer_id = 0;
    a.beacontimer = a.mailbeacontimer = 0;
  }
}

void ServiceTimers::OnTimer(int id) {
  if (id == 0) return;
  if (id == servicetimer_id) {
    ServiceTimerProc();
  } else if (id == askmaxframetimer_id) {
    AskMaxframeTimerCallBackProc();
  } else if (id == infotimer_id) {
    InfoTimerProc();
  } else if (id == beaconTimerId_ || id == mailBeaconTimerId_) {
    TimerCallBackProc(id);
  } else if (id == fwdtimer_id) {
    FwdTimerProc();
  } else if (id == animationtimer_id) {
    DisplayAnimationProc();
  }
}

void ServiceTimers::InfoTimerProc() {
  BusyGuard busy(infoBusy_);
  if (!busy.entered()) return;
  const MsgCounters& n = store_.counters;
  const struct {
    const char* format;
    long value;
  } fields[] = {{"L:%06ld", n.lastmsg}, {"A:%06ld", n.activemsg}, {"T:%06ld", n.totalmsg}, {"H:%06ld", n.heldmsg}};
  for (int i = 0; i < 4; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, fields[i].format, fields[i].value);
    client_.mainView().SetStatusField(i, text);
  }
  if (Tidy) Tidy();
  if (StartOptimize) StartOptimize();
}

void ServiceTimers::ServiceTimerProc() {
  BusyGuard busy(serviceBusy_);
  if (!busy.entered()) return;
  PacketLink& link = client_.link();
  const int64_t now = client_.clock().Now();
  const int64_t nowMs = client_.clock().NowMs();
  bool anyone = false, full = false;
  for (int i = 1; i < client_.numberchildren; ++i) {
    TChannel* ch = client_.channel(i);
    if (ch && ch->connectpend) anyone = true;
    if (!ch || !ch->connected) continue;
    anyone = true;
    if (ch->transparent && ch->transparenttimer <= nowMs) link.TxTrans(*ch);
    // The disconnect is asked again at every tick until the engine reports
    // the station gone, whatever the engine still has queued for it.
    if (ch->usermaxstaytimer != 0 && ch->usermaxstaytimer < now) link.DisConnect(ch->TncPortNumber, ch->UserCall);
    if (ch->channeltimeouttimer != 0 && ch->channeltimeouttimer < now)
      link.DisConnect(ch->TncPortNumber, ch->UserCall);
    // A connect script's answer that never came ends the call.
    if (ch->rcvwait && ch->scripttimer != 0 && ch->scripttimer < now) link.DisConnect(ch->TncPortNumber, ch->UserCall);
    // Long output advances as the link takes it: the queue reports bring
    // the steps; the tick asks again while the queue is full and stands in
    // for an engine that does not answer.
    ch->PaceStep(nowMs);
    if (ch->PacedStepDue(nowMs) && ch->framequeue >= std::max(ch->TncMaxFrame, 1)) full = true;
  }
  SetPace(!anyone, full);
}

void ServiceTimers::FwdTimerProc() {
  BusyGuard busy(fwdBusy_);
  if (!busy.entered()) return;
  const int64_t now = client_.clock().Now();
  const int64_t previous = lastFwdTick_;
  lastFwdTick_ = now;
  if (fwdstarted) return;
  const int FwdMin = client_.cfg().FwdMin;
  if (FwdMin < 0 || FwdMin > 59) return;
  // The last time the clock showed minute FwdMin, second 0. A tick a little
  // late or early must neither miss that minute nor start it twice.
  const std::tm t = client_.clock().Local(now);
  int64_t mark = now - t.tm_sec - 60 * static_cast<int64_t>(t.tm_min - FwdMin);
  if (t.tm_min < FwdMin) mark -= 3600;
  if (mark <= previous) return;
  fwdstarted = true;
  if (StartFwd) StartFwd();
}

void ServiceTimers::AskMaxframeTimerCallBackProc() {
  BusyGuard busy(pollBusy_);
  if (!busy.entered()) return;
  PacketLink& link = client_.link();
  if (!link.oktopoll) {
    // An engine that never answers must not stop the paced output of every
    // station for good.
    if (++pollWaits_ < kPollPatience) return;
    link.oktopoll = true;
  }
  pollWaits_ = 0;
  if (++link.pollmaxframe >= client_.numberchildren) link.pollmaxframe = 1;
  TChannel* ch = client_.channel(link.pollmaxframe);
  if (!ch || !ch->connected) return;
  link.AskMaxFrameWithCall(ch->TncPortNumber, ch->UserCall);
  link.oktopoll = false;
}

void ServiceTimers::TimerCallBackProc(int id) {
  BusyGuard busy(beaconBusy_);
  if (!busy.entered()) return;
  Config& cfg = client_.cfg();
  const int64_t now = client_.clock().Now();
  for (int p = 0; p < cfg.maxport && p < kMaxPorts; ++p) {
    Auxes& a = cfg.Ports[p];
    if (id == a.beacontimer_id && a.beaconeveryok == 1 && a.beacontime < now) {
      SendBeacon(a);
      a.beacontime = now + IntervalSeconds(a.beaconevery);
    }
    if (id == a.mailbeacontimer_id && a.mailbeaconok == 1 && a.mailbeacontime < now) {
      SendMailBeacon(a);
      a.mailbeacontime = now + IntervalSeconds(a.mailbeacon);
    }
  }
}

void ServiceTimers::DisplayAnimationProc() {
  BusyGuard busy(animationBusy_);
  if (!busy.entered()) return;
  client_.mainView().SetAnimationFrame(animationFrame_);
  animationFrame_ = (animationFrame_ + 1) % kAnimationFrames;
}

bool ServiceTimers::LoadBeaconText(const std::string& fileName) {
  if (fileName.empty() || !FileExists(fileName)) return false;
  std::ifstream in(ResolveCase(fileName), std::ios::binary);
  if (!in) return false;
  // One byte more than allowed tells a file that is too large.
  std::string bytes(kMaxBeaconText + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.size() > kMaxBeaconText) return false;
  beaconText_ = AirLines(bytes);
  beaconLoaded_ = true;
  return true;
}

TokenContext ServiceTimers::MonitorTokens() const {
  const Config& cfg = client_.cfg();
  TokenContext ctx;
  ctx.clock = &client_.clock();
  ctx.counters = &store_.counters;
  ctx.ownCall = cfg.MyCallOut;
  ctx.sysopName = cfg.MyName;
  ctx.monitor = true;
  MDIClient* client = &client_;
  ctx.connected = [client] {
    std::vector<ConnectedStation> stations;
    for (int i = 1; i < client->numberchildren; ++i) {
      const TChannel* ch = client->channel(i);
      if (ch && ch->connected) stations.push_back({ch->TncPortNumber, ch->ChannelNumber, ch->UserCall});
    }
    return stations;
  };
  ctx.mailBeacon = store_.MsgBeacon();
  return ctx;
}

void ServiceTimers::SendBeacon(Auxes port) {
  // The first text loaded serves every port for the rest of the run.
  if (!beaconLoaded_ && !LoadBeaconText(port.btext)) return;
  const int enginePort = EnginePortOf(client_.cfg(), port.portno);
  if (enginePort < 0) return;
  const std::string text = wildcards(MonitorTokens(), beaconText_);
  client_.link().SendPacketFrame(enginePort, "BEACON", text.data(), static_cast<int>(text.size()), 'M');
}

void ServiceTimers::SendMailBeacon(Auxes port) {
  const int enginePort = EnginePortOf(client_.cfg(), port.portno);
  if (enginePort < 0) return;
  const std::string text = wildcards(MonitorTokens(), port.msgbeacon);
  // In packet lengths, to the port's own unproto address.
  const size_t P = static_cast<size_t>(std::clamp(port.paclen, 1, 256));
  for (size_t at = 0; at < text.size(); at += P) {
    const std::string piece = text.substr(at, P);
    client_.link().SendPacketFrame(enginePort, port.unprotoaddress, piece.data(),
                                   static_cast<int>(piece.size()), 'M');
  }
}

}  // namespace orn
