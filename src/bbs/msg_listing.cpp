// Message listings: the L commands' operation.
#include "bbs/bbs_cmd.h"

namespace orn {

bool TBBSCmd::List() { return false; }
bool TBBSCmd::ListLast() { return false; }
bool TBBSCmd::ListFrom() { return false; }
bool TBBSCmd::ListTo() { return false; }
bool TBBSCmd::ListAt() { return false; }
bool TBBSCmd::ListMine() { return false; }
bool TBBSCmd::ListSbj() { return false; }
bool TBBSCmd::ListType() { return false; }
bool TBBSCmd::ListStatus() { return false; }

}  // namespace orn
