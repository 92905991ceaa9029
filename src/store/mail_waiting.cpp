#include "store/mail_waiting.h"

#include "store/mail_beacon_list.h"

namespace orn {

bool WaitsForAddressee(const std::string& status) { return status == "N" || status == "H"; }

void CountOutOfMailBeacon(UpdatemsgBeacon* list, const std::string& oldStatus, const std::string& newStatus,
                          const std::string& toStation) {
  if (!list || !WaitsForAddressee(oldStatus) || WaitsForAddressee(newStatus)) return;
  list->RemoveCallFromList(toStation);
}

}  // namespace orn
