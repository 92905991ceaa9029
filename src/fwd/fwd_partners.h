// Forwarding partners: which of them a new message is queued for, taking
// delivered or dropped messages out of their queues, the mail servers that
// answer messages addressed to them, and the hourly cycle that calls the
// partners one after the other through their connect scripts.
//
// One per running BBS. Everything runs on the user-interface thread; every
// read-change-write of a user record happens within one call, on a database
// object of its own, so that the sessions' handles see it at once.
#pragma once

#include <functional>
#include <string>

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

class FwdPartners {
 public:
  // `fwdstarted` is the cycle flag the forwarding tick reads and sets.
  FwdPartners(MDIClient& client, Store& store, bool& fwdstarted);
  FwdPartners(const FwdPartners&) = delete;
  FwdPartners& operator=(const FwdPartners&) = delete;

  // Rebuilds the routing table from the user file.
  void ReadUsersFwd();

  // A new unread message was stored: a mail server may answer it, and the
  // result is queued for the partners whose rules match.
  void Route(const MsgOrigin& via, const MsgDB& m);
  // Queues `m` for the partners whose rules match. `via` says who brought
  // the message (null: nobody in particular): a message never goes back to
  // the partner it came from, nor to one it has passed.
  void DealFwd(const MsgDB& m, const MsgOrigin* via);
  // Puts `m` into the queue of partner `call`; false when it was not queued.
  bool WriteFwdMsgNo(const MsgDB& m, const std::string& call, const MsgOrigin* via);
  // Takes message `No` out of every partner's queue.
  void RemFwd(long No);
  // Runs the mail server `m` is addressed to, if any. On an answer the text
  // file holds the reply and `m` is turned into its header; true then.
  bool CheckServers(MsgDB* m);

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
  void NextPartner();

  MDIClient& client_;
  Store& store_;
  bool& fwdstarted_;
  bool inStart_ = false;
  bool again_ = false;
};

}  // namespace orn
