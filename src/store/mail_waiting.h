// Which messages the mail-beacon list counts for their addressee, and how a
// station's read or kill counts one out.
//
// A message is counted from the moment it is stored (unread "N", or held
// "H") until it is read by its addressee, killed or forwarded away. Counting
// it out only when its status leaves those two keeps the list right when a
// message is read twice, or killed after it was read: the count belongs to
// the addressee's other, still unread messages.
#pragma once

#include <string>

namespace orn {

class UpdatemsgBeacon;

// Whether a message of this status is counted in the list.
bool WaitsForAddressee(const std::string& status);

// A station changed a message's status (read: "Y"; kill: "K"): when the
// message no longer waits for its addressee, `toStation` is counted out of
// the list once. `list` may be null (no list open).
void CountOutOfMailBeacon(UpdatemsgBeacon* list, const std::string& oldStatus, const std::string& newStatus,
                          const std::string& toStation);

}  // namespace orn
