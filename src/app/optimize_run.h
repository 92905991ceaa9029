// When and how the database repair runs inside the living BBS: on the
// monthly schedule or at the sysop's command, with every station let go, no
// channel holding the files and every port closed, on a worker thread; the
// BBS takes up its files again once the worker is done.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "context/config.h"
#include "store/optimizer.h"

namespace orn {

class MDIClient;
class Store;

class OptimizeRun {
 public:
  OptimizeRun(MDIClient& client, Store& store);
  ~OptimizeRun();
  OptimizeRun(const OptimizeRun&) = delete;
  OptimizeRun& operator=(const OptimizeRun&) = delete;

  // Called by every info tick (manual false) and by the sysop's repair
  // command (true): starts a run when one is due, and completes a run whose
  // worker has finished.
  void StartOptimize(bool manual);
  // Waits for a running worker and completes its run (shutdown, tests).
  void Wait();

  bool iact = false;     // a run is in progress
  bool repcheck = false;  // a run is being prepared or in progress
  bool nokat = false;    // the sysop started it
  // How far the worker is, for the sysop's gauge: 0 not started, 1 the
  // messages, 2 the users, 3 done.
  std::atomic<int> stage{0};
  // Seams of forwarding: a dropped message leaves the partners' queues; the
  // partners are read again after a run.
  std::function<void(long number)> RemFwd;
  std::function<void()> ReadPartners;
  const OptimizeResult& lastResult() const { return result_; }

 private:
  bool Due();
  void Prepare();
  void Finish();
  void TakeUpFiles();

  MDIClient& client_;
  Store& store_;
  std::thread worker_;
  std::atomic<bool> done_{false};
  OptimizeResult result_;
  std::vector<long> dropped_;
  std::array<int, kMaxPorts> oldconok_{};
  std::string lastScheduled_;  // the minute of the last scheduled run
};

// The options of the OPTIMIZE section as a run takes them.
PurgeOptions PurgeOptionsOf(const OptimizeOptions& o);

}  // namespace orn
