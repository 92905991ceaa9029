// The L and R commands: they check their parameters and start a listing or
// reading operation on the channel.
#pragma once

namespace orn {

class TChannel;

// A checked, upper-cased command line beginning with L or R, ending in its CR.
void ListCommand(TChannel& ch, const char* line);
void ReadCommand(TChannel& ch, const char* line);

}  // namespace orn
