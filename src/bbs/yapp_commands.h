// The Y commands: the binary file area and its YAPP transfers. YW lists the
// area, YU and YD start an upload or a download, YZ erases a file the
// station uploaded in this session.
#pragma once

#include <memory>

namespace orn {

class TChannel;
class YappHost;

// The Y command line (upper-cased, ending in its CR).
void YappCommand(TChannel& ch, const char* line);

// What a transfer on this channel needs of it.
std::unique_ptr<YappHost> ChannelYappHost(TChannel& ch);

}  // namespace orn
