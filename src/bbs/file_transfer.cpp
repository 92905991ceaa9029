// Text file upload and download: the U and D commands' operations.
#include "bbs/bbs_cmd.h"

namespace orn {

bool TBBSCmd::Upload(const char*) { return false; }
bool TBBSCmd::DownLoad() { return false; }

}  // namespace orn
