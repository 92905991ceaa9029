// The K commands: K n kills one message, KM the station's own read ones.
#pragma once

namespace orn {

class TChannel;

// The K command line (upper-cased, ending in its CR).
void KillCommand(TChannel& ch, const char* line);

}  // namespace orn
