// The application: start-up in its fixed order, and shutdown. The host calls
// Start(), runs its event loop unless a quit was posted, and calls Shutdown().
#pragma once

#include <memory>
#include <string>

#include "context/activity_log.h"
#include "context/config.h"
#include "channel/channel.h"
#include "app/optimize_run.h"
#include "app/service_timers.h"
#include "context/views.h"
#include "fwd/fwd_partners.h"
#include "link/engine_transport.h"
#include "platform/clock.h"
#include "platform/code_pages.h"
#include "platform/ini_file.h"
#include "platform/instance_lock.h"
#include "store/store.h"

namespace orn {

class ORNBBS {
 public:
  ORNBBS(const Clock& clock, MainView& view, TimerHost& timers, EngineTransport& transport);
  ~ORNBBS();

  // Runs the start-up in the working directory. Returns false when a quit was
  // posted (see quitCode()); the host then calls Shutdown() and exits.
  bool Start();
  // The close request of the sysop: asks first unless `ask` is false.
  bool CanClose(bool ask = true);
  // Shutdown in order; safe to call once after Start(), whatever it returned.
  void Shutdown();

  bool quitPosted() const { return quitPosted_; }
  int quitCode() const { return quitCode_; }

  Config& cfg() { return cfg_; }
  IniFile& ini() { return ini_; }
  ActivityLog& log() { return log_; }
  MDIClient& client() { return *client_; }
  // The store, made during the start-up before the main frame; null before.
  Store* store() { return store_.get(); }
  // The periodic timers; null before the start-up has made the store.
  ServiceTimers* serviceTimers() { return serviceTimers_.get(); }
  // The database repair; null before the start-up has made the store.
  OptimizeRun* optimizer() { return optimize_.get(); }
  // The forwarding partners; null before the start-up has made the store.
  FwdPartners* partners() { return partners_.get(); }
  // An unread message to the BBS's own call was found at start-up.
  bool mailForSysop() const { return mailForSysop_; }

 private:
  void PostQuit(int code);
  void SetupMainWindow();   // steps 4 to 14
  void SetupChannels();     // steps 14.5 and 14.6
  bool CheckChannelLimit();
  void makethefiles();
  // The link to the engine went down or came back: the timers follow it.
  void LinkStateChanged(bool up);
  // A message was added to the store, by whatever path: the sysop's mail
  // indicator, forwarding, the message list and the activity log hear of it.
  void MessageStored(const MsgDB& m, long position, const MsgOrigin& origin);

  const Clock& clock_;
  MainView& view_;
  TimerHost& timers_;
  EngineTransport& transport_;
  Config cfg_;
  IniFile ini_;
  ActivityLog log_;
  CodePages cp_;
  std::unique_ptr<MDIClient> client_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<ServiceTimers> serviceTimers_;
  std::unique_ptr<OptimizeRun> optimize_;
  std::unique_ptr<FwdPartners> partners_;
  InstanceLock lock_;
  bool mailForSysop_ = false;
  bool mainWindowUp_ = false;
  bool registered_ = false;
  bool shutDown_ = false;
  bool quitPosted_ = false;
  int quitCode_ = 0;
};

extern const char* const kLockFileName;
// Held by ornctl while it works on the files of a stopped BBS.
extern const char* const kBriefLockFileName;

}  // namespace orn
