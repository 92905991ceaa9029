#include "store/bids.h"

#include <cstring>

#include "platform/text.h"

namespace orn {

BidTable::BidTable() : Bids(kBidSlots, BidStruct{}) {}

bool BidTable::ReadTheBids(const StoreSite& site) {
  std::fill(Bids.begin(), Bids.end(), BidStruct{});
  long j = 0;
  bool mailForSysop = false;
  TOrnDbase db(site);
  db.OpenMsgFile();
  db.ScanMsgs([&](long, const MsgDB& r) {
    if (site.ownCall == r.ToStation && std::strcmp(r.Status, "N") == 0) mailForSysop = true;
    if (r.Bid[0]) {
      std::memcpy(Bids[j].Bid, r.Bid, sizeof r.Bid);
      // The load wraps one slot early: slot 14999 is only ever filled by
      // InsertInBidArray.
      if (++j > kBidSlots - 2) j = 0;
    }
    return true;
  });
  db.CloseAll();
  lastbidcount = j;
  return mailForSysop;
}

void BidTable::InsertInBidArray(const std::string& bid) {
  if (bid.empty()) return;
  if (++lastbidcount >= kBidSlots || lastbidcount < 0) lastbidcount = 0;
  CopyField(Bids[lastbidcount].Bid, bid);
}

bool BidTable::WeHaveThebid(const std::string& bid) const {
  if (bid.empty()) return false;
  // Slots are zero after their text, so one fixed-width compare decides.
  BidStruct key{};
  CopyField(key.Bid, bid);
  for (const BidStruct& slot : Bids)
    if (std::memcmp(slot.Bid, key.Bid, sizeof key.Bid) == 0) return true;
  return false;
}

}  // namespace orn
