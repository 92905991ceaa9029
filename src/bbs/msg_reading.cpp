// Message reading: the R commands' operation.
#include "bbs/bbs_cmd.h"

namespace orn {

bool TBBSCmd::StartRead() { return false; }
bool TBBSCmd::ReadMsgText() { return false; }
bool TBBSCmd::ReturnBbsinLine(char*) { return false; }

}  // namespace orn
