// The L and R commands: they check their parameters and start a listing or
// reading operation on the channel.
#pragma once

#include "store/records.h"

namespace orn {

class TChannel;

// Whether a station (callsign without SSID) may see and read a message that
// is not killed. Private mail is for its sender and addressee only, unless
// it is addressed to something other than a station (SYSOP, a group) or
// routed to something other than a plain BBS call, which makes it
// everybody's. Addresses are compared by their call part: stored addresses
// carry hierarchical suffixes.
bool MayRead(const MsgDB& r, const char* call);

// A checked, upper-cased command line beginning with L or R, ending in its CR.
void ListCommand(TChannel& ch, const char* line);
void ReadCommand(TChannel& ch, const char* line);

}  // namespace orn
