// The periodic work of the main window: per-channel deadlines and held
// output, the polling of the engine's frame queues, the hourly start of
// forwarding, the status-bar counters, and the beacons of each port. The
// timers run only while the link to the packet engine is up.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "context/config.h"
#include "context/views.h"

namespace orn {

class MDIClient;
class Store;
class TChannel;
struct TokenContext;

// The beacon text file may hold at most this many bytes.
constexpr size_t kMaxBeaconText = 1649;

class ServiceTimers : public TimerClient {
 public:
  ServiceTimers(MDIClient& client, TimerHost& host, Store& store);
  ~ServiceTimers() override;
  ServiceTimers(const ServiceTimers&) = delete;
  ServiceTimers& operator=(const ServiceTimers&) = delete;

  // Starts every timer (service timers, then the animation). False when the
  // platform would not give them all; the sysop has been told, and the
  // program has to end.
  bool Start();
  // The service timers alone. False, after "Timers Low!", when some timer
  // could not be had.
  bool EnableTimers();
  void StartAnimation();
  // Stops every timer that runs.
  void KillTimers();
  // Without the engine: every timer stops but the info tick, which keeps the
  // counters shown and the database repair scheduled and completed; started
  // on its own when the BBS comes up without its engine.
  void KeepOnlyInfoTimer();

  void OnTimer(int id) override;

  // One tick of each timer.
  void InfoTimerProc();
  void ServiceTimerProc();
  void FwdTimerProc();
  void AskMaxframeTimerCallBackProc();
  void TimerCallBackProc(int id);
  void DisplayAnimationProc();

  // One beacon of a port: the beacon text file's text, or the mail beacon.
  void SendBeacon(Auxes port);
  void SendMailBeacon(Auxes port);

  // What other parts of the BBS plug in. Unset, they do nothing.
  // A forwarding pass begins; it clears `fwdstarted` when it is over.
  std::function<void()> StartFwd;
  // Decides whether the periodic optimisation is due, and starts it.
  std::function<void()> StartOptimize;
  // A short step of tidying up that may go on over many ticks.
  std::function<void()> Tidy;
  // The link shows activity (a connection event, a station's data, a call
  // of ours): the per-channel ticks run at their working pace again.
  void Wake();
  // Whether the per-channel ticks are at rest (nothing connected).
  bool resting() const { return resting_; }

  int infotimer_id = 0;
  int servicetimer_id = 0;
  int fwdtimer_id = 0;
  int askmaxframetimer_id = 0;
  int animationtimer_id = 0;
  // A forwarding pass is in progress: the forwarding tick starts none.
  bool fwdstarted = false;

  // Poll ticks that wait for the answer to a frame-queue question before
  // it is taken as lost.
  static constexpr int kPollPatience = 10;

 private:
  // The first identifier from `base` upwards that the host accepts; 0 when
  // none below 10000.
  int StartTimer(int base, int periodMs);
  // Gives the service and poll timers the period of work or of rest, and
  // the service timer a short one while paced output waits for a full queue.
  void SetPace(bool rest, bool watchQueues = false);
  int InfoMs() const;
  bool LoadBeaconText(const std::string& fileName);
  // Text expanded as on the monitor window: no user of a channel.
  TokenContext MonitorTokens() const;

  MDIClient& client_;
  TimerHost& host_;
  Store& store_;

  // The beacon identifiers every beaconing port shares.
  int beaconTimerId_ = 0;
  int mailBeaconTimerId_ = 0;

  // One text for the beacons of every port, read once.
  std::string beaconText_;
  bool beaconLoaded_ = false;

  int64_t lastFwdTick_ = 0;
  int pollWaits_ = 0;
  int animationFrame_ = 0;
  bool resting_ = false;
  bool watching_ = false;

  // A tick that arrives while its procedure still runs is skipped.
  bool infoBusy_ = false, serviceBusy_ = false, fwdBusy_ = false, pollBusy_ = false, beaconBusy_ = false,
       animationBusy_ = false;
};

}  // namespace orn
