#include "app/user_follows.h"

#include "admin/user_fields.h"
#include "channel/channel.h"
#include "channel/mdi_client.h"
#include "fwd/fwd_partners.h"
#include "platform/text.h"

namespace orn {

void UserRecordFollows(MDIClient& client, FwdPartners* partners, long position, const std::string& call,
                       const UserChanges& changes) {
  for (int i = 1; i < client.numberchildren; ++i) {
    TChannel* ch = client.channel(i);
    if (!ch || !ch->connected || !ch->tdb || ch->tdb->upos != position || FieldText(ch->tdb->userdb.Call) != call)
      continue;
    for (const auto& [name, value] : changes) SetUserField(ch->tdb->userdb, name, value);
  }
  if (partners) partners->ReadUsersFwd();
  client.mainView().RefreshUserList(position);
}

}  // namespace orn
