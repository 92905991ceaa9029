// The station's commands, by the first character of the command line.
#pragma once

namespace orn {

class TChannel;

// Carries out a checked command line (upper-cased but for N and S lines,
// ending in its CR) on the channel; every reply ends with the prompt.
void RunCommand(TChannel& ch, const char* line);

}  // namespace orn
