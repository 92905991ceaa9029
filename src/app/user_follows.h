// A user record changed by the sysop (the desktop's editor, ornctl) while the
// BBS runs: what is kept in memory follows the files at once.
#pragma once

#include <string>

#include "admin/user_fields.h"

namespace orn {

class MDIClient;
class FwdPartners;

// A station on the air keeps its record in its channel and writes it back at
// its next command: the change goes into that copy too, or it would be
// undone. Then the routing table is read again and the sysop's user list
// shows the record.
void UserRecordFollows(MDIClient& client, FwdPartners* partners, long position, const std::string& call,
                       const UserChanges& changes);

}  // namespace orn
