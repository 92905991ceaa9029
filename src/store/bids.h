// The bulletin IDs seen lately, so that a bulletin arriving twice (from a
// user or from two partners) is stored once. A ring of 15000 slots held in
// memory only, rebuilt from msg.adb at start-up and after optimisation: once
// it is full the oldest IDs are overwritten and no longer recognised.
#pragma once

#include <string>
#include <vector>

#include "store/orn_dbase.h"

namespace orn {

constexpr long kBidSlots = 15000;

struct BidStruct {
  char Bid[13];  // "" = free slot
};

class BidTable {
 public:
  BidTable();

  // Empties the ring and loads the BID of every msg.adb record, in file
  // order, killed messages included. Returns true when an unread message to
  // the BBS's own call was seen (mail for the sysop is waiting).
  bool ReadTheBids(const StoreSite& site);
  // Stores a BID in the slot after the one written last, wrapping to slot 0.
  // An empty BID is not stored.
  void InsertInBidArray(const std::string& bid);
  // Whether a slot holds exactly this BID (case-sensitive). BIDs are compared
  // as stored, cut to 12 characters; an empty BID is never held.
  bool WeHaveThebid(const std::string& bid) const;

  long lastbidcount = 0;  // the slot written last

 private:
  std::vector<BidStruct> Bids;
};

}  // namespace orn
