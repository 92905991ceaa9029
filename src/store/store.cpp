#include "store/store.h"

namespace orn {

Store::Store(StoreSite site) : site_(std::move(site)) {}

Store::~Store() = default;

void Store::CreateMailBeaconList() { msgBeacon_ = std::make_unique<UpdatemsgBeacon>(site_.dir); }

void Store::DeleteMailBeaconList() { msgBeacon_.reset(); }

std::unique_ptr<TOrnDbase> Store::OpenDbase() const {
  auto db = std::make_unique<TOrnDbase>(site_);
  db->OpenUserFile();
  db->OpenMsgFile();
  return db;
}

}  // namespace orn

