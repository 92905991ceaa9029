// The running message counters: the last number handed out (the next
// message gets lastmsg + 1), the number of records, of records not killed,
// and of held records. Recounted from the files at start-up and after
// optimisation; the other changes are made by the code that stores, kills
// or edits a message.
#pragma once

#include "store/orn_dbase.h"

namespace orn {

struct MsgCounters {
  long lastmsg = 1000;
  long totalmsg = 0;
  long activemsg = 0;
  long heldmsg = 0;
};

// MsgNo of the last record, or 1000 for an empty store (so the first
// message is 1001).
long FindLastMsg(const StoreSite& site);
// Number of records in msg.idx.
long FindTotalMsg(const StoreSite& site);
// Number of records not killed ("K"); held ones ("H") count as active and
// are counted in *heldmsg as well.
long FindActiveMsg(const StoreSite& site, long* heldmsg);

// The highest message number ever handed out, kept in a file of its own
// (LASTMSG.DAT in the BBS directory, the number as text) that no repair and
// no torn record file can lower: a number is never given twice, nor its BID.
// 0 when there is no such file.
long ReadHighWater(const StoreSite& site);
bool WriteHighWater(const StoreSite& site, long number);

// All four, from the files; the last number is never below the high-water
// mark.
MsgCounters RecountMessages(const StoreSite& site);

}  // namespace orn
