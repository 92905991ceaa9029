// Message entry: the S command's operation.
#include "bbs/bbs_cmd.h"

namespace orn {

bool TBBSCmd::StartSend() { return false; }
bool TBBSCmd::Send(const char*) { return false; }

}  // namespace orn
