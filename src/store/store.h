// What the running BBS keeps of its store besides the files: the BID ring,
// the message counters and the mail-beacon list. One per running BBS, made at
// start-up; channels and other users reach the files through their own
// TOrnDbase objects.
#pragma once

#include <memory>

#include "store/bids.h"
#include "store/counters.h"
#include "store/mail_beacon_list.h"
#include "store/new_message.h"
#include "store/orn_dbase.h"

namespace orn {

class Store {
 public:
  explicit Store(StoreSite site);
  ~Store();

  const StoreSite& site() const { return site_; }

  // Opens mail.adb as the mail-beacon list for the whole run.
  void CreateMailBeaconList();
  void DeleteMailBeaconList();
  // The list; null before CreateMailBeaconList and after DeleteMailBeaconList.
  UpdatemsgBeacon* MsgBeacon() { return msgBeacon_.get(); }

  // Rebuilds the BID ring from msg.adb. Returns true when an unread message
  // to the BBS's own call was seen.
  bool ReadTheBids() { return Bids.ReadTheBids(site_); }
  // Recounts the four message counters from the files.
  void RecountMessages() { counters = orn::RecountMessages(site_); }

  // A database object with both pairs opened. A pair that cannot be opened
  // makes every read of it fail, which callers see as an empty table.
  std::unique_ptr<TOrnDbase> OpenDbase() const;

  BidTable Bids;
  MsgCounters counters;
  // Called after StoreNewMessage has stored a message.
  NewMsgHook onNewMessage;

 private:
  StoreSite site_;
  std::unique_ptr<UpdatemsgBeacon> msgBeacon_;
};

}  // namespace orn
