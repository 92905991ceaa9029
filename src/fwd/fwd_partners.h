// Forwarding partners: which of them a new message is queued for, taking
// delivered or dropped messages out of their queues, the mail servers that
// answer messages addressed to them, and the hourly cycle that calls the
// partners one after the other through their connect scripts.
//
// One per running BBS. Everything runs on the user-interface thread; every
// read-change-write of a user record happens within one call, on a database
// object of its own, so that the sessions' handles see it at once.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>

#include "context/views.h"
#include "store/new_message.h"
#include "store/records.h"

namespace orn {

class MDIClient;
class Store;
class TChannel;
class TOrnDbase;

// One routing entry: a partner and its rules, one per line.
struct UFWD {
  char Call[7];
  char fwddest[601];
};

constexpr int kFwdDestCount = 50;
// Forwarding numbers run from 1 to this; 0 keeps a partner out of the cycle.
constexpr int kMaxFwdNumber = 50;

// Looks after a running mail server while it works.
constexpr int kMailServerTimerId = 20002;

class FwdPartners : public TimerClient {
 public:
  // `fwdstarted` is the cycle flag the forwarding tick reads and sets;
  // `timers` watch the mail servers.
  FwdPartners(MDIClient& client, Store& store, bool& fwdstarted, TimerHost& timers);
  ~FwdPartners() override;
  FwdPartners(const FwdPartners&) = delete;
  FwdPartners& operator=(const FwdPartners&) = delete;

  // Rebuilds the routing table from the user file.
  void ReadUsersFwd();

  // A new unread message was stored: a mail server may answer it, and the
  // result is queued for the partners whose rules match. A server runs
  // beside the BBS; its message is routed when it has answered, given up
  // or failed.
  void Route(const MsgOrigin& via, const MsgDB& m);
  // Queues `m` for the partners whose rules match. `via` says who brought
  // the message (null: nobody in particular): a message never goes back to
  // the partner it came from, nor to one it has passed.
  void DealFwd(const MsgDB& m, const MsgOrigin* via);
  // Puts `m` into the queue of partner `call`; false when it was not queued.
  bool WriteFwdMsgNo(const MsgDB& m, const std::string& call, const MsgOrigin* via);
  // Takes message `No` out of every partner's queue.
  void RemFwd(long No);
  // The name of the mail server `m` is addressed to; empty when none.
  std::string ServerFor(const MsgDB& m) const;
  // Whether a mail server runs or requests wait for one.
  bool serversBusy() const { return !serverQueue_.empty(); }
  // Stops a running server and routes the waiting requests unanswered.
  void StopServers();
  void OnTimer(int id) override;

  // The menu command: a cycle from the first partner (or from forwarding
  // number `from`), now.
  void CMFwd(int from = 1);
  // Tries the next partner of the running cycle.
  void StartFwd();
  // Ends the cycle.
  void ResetFwd();
  // A channel went back to idle: while a cycle runs, it goes on.
  void ChannelFreed();
  // Loads the partner with forwarding number `where` into tdb.userdb.
  bool FindAFwdStation(TOrnDbase& tdb, int where);
  // Whether the partner in tdb.userdb is called now; on true `i` is the
  // channel to use, its hconindex set to the connect entry.
  bool OkToFwd(TOrnDbase& tdb, int& i);
  // Appends message `l` to export file `f`; false when it could not be
  // written (the message then stays queued).
  bool Export(TOrnDbase& tdb, long l, const std::string& f);

  bool started() const { return fwdstarted_; }

  UFWD UserFwdDest[kFwdDestCount] = {};
  int fwdqueue = 0;  // the forwarding number tried last

  // True while the record files are taken away (the monthly repair): no
  // cycle runs then.
  std::function<bool()> filesBusy;

  // How long a mail server may take to answer, in milliseconds.
  int serverWaitMs = 10000;

 private:
  struct ServerRequest {
    MsgDB msg;
    MsgOrigin via;
    std::string name;
  };

  void NextPartner();
  // Starts the server of the first waiting request; requests that cannot
  // be put to their server are routed as they are.
  void StartNextServer();
  bool LaunchServer(const ServerRequest& r);
  // The server of the first request has ended (`answered`: of itself, with
  // status 0): its answer, if any, becomes the reply, which is routed.
  void ServerEnded(bool answered);
  bool TakeAnswer(ServerRequest& r);

  MDIClient& client_;
  Store& store_;
  bool& fwdstarted_;
  bool inStart_ = false;
  bool again_ = false;

  TimerHost& timers_;
  // Servers run one at a time: they share their request and answer files.
  std::deque<ServerRequest> serverQueue_;
  // The running server; kServerEnded once it has ended and its answer
  // waits to be taken.
  static constexpr pid_t kServerEnded = -1;
  pid_t serverPid_ = 0;
  bool serverAnswered_ = false;
  std::chrono::steady_clock::time_point serverDeadline_;
};

}  // namespace orn
