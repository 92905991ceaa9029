// Adding a message to the store: the one way every path that creates one (a
// station's S command, a forwarding partner, the sysop's windows, exchange
// files) stores it, so that numbering, the BID table, the counters and the
// mail-beacon list never disagree between them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "store/records.h"

namespace orn {

class Store;
class TOrnDbase;

// Who brought a new message: what the routing and the activity log need.
struct MsgOrigin {
  std::string call;                 // the station or partner; empty for the sysop
  std::vector<std::string> relays;  // the BBSes it has passed, from its routing lines
  int logEvent = 0;                 // the activity log's event; 0: none
  std::string logInfo;
};

enum class NewMsgResult { kStored, kKnownBid, kNotStored };

// The BID this BBS makes for message `number`: "XX9ORN_1001", and from six
// digits on "XX9ORN100000" (a BID has at most 12 characters).
std::string GeneratedBid(const std::string& call, long number);

// What happens once a message is stored (routing, the views, the log): set by
// the running BBS; tests and tools may leave it empty.
using NewMsgHook = std::function<void(const MsgDB& m, long position, const MsgOrigin& origin)>;

// Stores `m` with its whole `text` (the routing header included): numbers and
// dates it, makes a BID "<bidCall>_<number>" when it has none and `bidCall`
// is not empty, replaces control characters in the subject with "?", writes
// the text file and then the records, counts it, puts
// its BID in the table and its addressee in the mail-beacon list, and calls
// the store's hook. A blank status is taken as "N". A known BID stores
// nothing (kKnownBid); a failed write leaves nothing behind (kNotStored).
// `m` and `db`'s current message are the stored record afterwards.
NewMsgResult StoreNewMessage(Store& store, TOrnDbase& db, const Clock& clock, MsgDB& m, const std::string& text,
                             const std::string& bidCall, const MsgOrigin& origin);

}  // namespace orn
