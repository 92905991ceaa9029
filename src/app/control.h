// The sysop's requests from the command line (ornctl): status, users,
// messages, forwarding and the repair. One handler serves a running BBS (the
// host hands it each request on the event loop, so the BBS's memory follows
// at once) and a stopped one (ornctl runs it on the files, holding the
// directory's instance lock).
//
// A request is one line of JSON: {"args":["user","show","XX1ABC"],
// "input":"text for msg send"}. The answer is one line of JSON:
// {"status":0,"out":"..."} or {"status":1,"error":"..."}; status 2 is a
// usage error. "out" is what ornctl prints: aligned text, or with "--json"
// among the args one JSON document.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/headless_view.h"
#include "app/optimize_run.h"
#include "app/service_timers.h"
#include "channel/mdi_client.h"
#include "context/activity_log.h"
#include "context/config.h"
#include "fwd/fwd_partners.h"
#include "link/engine_transport.h"
#include "platform/clock.h"
#include "platform/code_pages.h"
#include "platform/ini_file.h"
#include "store/store.h"

namespace orn {

// The socket of a running BBS, in its directory.
extern const char* const kControlSocketName;  // "ornbbs.sock"
// Requests longer than this are cut off and their connection closed.
constexpr size_t kMaxControlRequest = 256 * 1024;

class ControlJob;

// What a request may reach. `client`, `store` and `partners` are always
// there; the timers and the repair only in a running BBS.
struct ControlSite {
  bool running = false;
  Config* cfg = nullptr;
  IniFile* ini = nullptr;
  Store* store = nullptr;
  MDIClient* client = nullptr;
  FwdPartners* partners = nullptr;
  OptimizeRun* optimizer = nullptr;
  ServiceTimers* timers = nullptr;
  const Clock* clock = nullptr;
  // The import under way, shared by every handler of the BBS (ornctl's
  // socket and the web console): one at a time. Null: the handler's own.
  std::shared_ptr<std::weak_ptr<ControlJob>> imports;
  // Who asks, as a chat it opens is named ("talk list"): ornctl's socket or
  // the web console. A console ends only its own chats.
  std::string console = "ornctl";
};

struct ControlAnswer;

// A request that takes longer than one answer should (msg import): the host
// runs its steps between its other work, passes Progress() on now and then,
// and sends the answer once Step() says it is ready. Meanwhile the
// connection carries lines {"progress":"..."} before the answer.
class ControlJob {
 public:
  virtual ~ControlJob() = default;
  // Works for about `budgetMs` milliseconds; true once the answer is ready.
  virtual bool Step(int budgetMs) = 0;
  virtual std::string Progress() const = 0;
  // The answer once Step() has said so; before that, the answer for a BBS
  // that stops before the work is done (what was done stays done).
  virtual ControlAnswer Answer() = 0;
};

struct ControlAnswer {
  int status = 0;      // 0 done, 1 refused or failed, 2 usage error
  std::string out;     // printed on standard output
  std::string error;   // one line, printed on standard error
  bool stream = false; // "monitor": the connection carries the monitor's lines from now on
  int talk = 0;        // "talk": the channel (table index) whose chat the connection carries
  std::shared_ptr<ControlJob> job;  // the answer comes when this job is done

  static ControlAnswer Of(int status, std::string out, std::string error) {
    ControlAnswer a;
    a.status = status;
    a.out = std::move(out);
    a.error = std::move(error);
    return a;
  }
};

// The line sent on a connection while its job works.
std::string ControlProgressLine(const std::string& progress);

class ControlHandler {
 public:
  explicit ControlHandler(ControlSite site) : site_(site) {}

  // One request line as received.
  ControlAnswer HandleLine(const std::string& line);
  ControlAnswer Handle(const std::vector<std::string>& args, const std::string& input);
  // A request from the web console, decided on as parsed: what names a file
  // of the machine (import, export) or takes the connection over (monitor,
  // talk) has paths of its own there and is refused here.
  ControlAnswer HandleRemote(const std::vector<std::string>& args, const std::string& input);
  // The chat of "ornctl talk" on the channel at `index` (see app/control_pages).
  bool TalkLine(int index, const std::string& line);
  void TalkEnd(int index);
  // Whether this console's chat still holds the channel (its station may
  // have left, or the desktop given it back).
  bool TalkOpen(int index) const;

 private:
  ControlSite site_;
  // The import under way: one at a time.
  std::weak_ptr<ControlJob> import_;
};

// The answer as sent: one line of JSON ending in LF.
std::string ControlAnswerLine(const ControlAnswer& a);
// The request line ornctl sends.
std::string ControlRequestLine(const std::vector<std::string>& args, const std::string& input);

// A BBS directory opened without the BBS: its configuration, store and
// partners as a start-up would make them, with no engine, no timers and no
// display. The caller holds the instance lock.
class OfflineBbs {
 public:
  OfflineBbs();
  ~OfflineBbs();
  OfflineBbs(const OfflineBbs&) = delete;
  OfflineBbs& operator=(const OfflineBbs&) = delete;

  // Opens the BBS in the working directory; false with the reason when it
  // holds no BBS (no record files).
  bool Open(std::string* error);
  ControlSite site();

 private:
  class NoTimers : public TimerHost {
   public:
    bool SetTimer(int, int, TimerClient*) override { return false; }
    void KillTimer(int) override {}
  };
  SystemClock clock_;
  Config cfg_;
  IniFile ini_;
  ActivityLog log_{clock_};
  CodePages cp_;
  HeadlessView view_{stderr, nullptr};
  NoTimers timers_;
  NoEngineTransport transport_;
  std::unique_ptr<MDIClient> client_;
  std::unique_ptr<Store> store_;
  bool fwdstarted_ = false;
  std::unique_ptr<FwdPartners> partners_;
};

}  // namespace orn
