#include "bbs/bbs_cmd.h"

#include "bbs/msg_entry.h"
#include <cstdio>

#include "platform/text.h"

namespace orn {

TBBSCmd::TBBSCmd(TChannel* channel, const std::string& text, int what) : chan(channel), whatcmd(what) {
  CopyField(cn, text);
}

TBBSCmd::TBBSCmd(TChannel* channel, long position, int what) : chan(channel), whatcmd(what), listpos(position) {}

TBBSCmd::~TBBSCmd() {
  if (entry_) entry_->Abandon();
  closefile(infile);
  // An upload cut short leaves nothing behind.
  if (!partial_.empty()) std::remove(partial_.c_str());
  closefile(outfile);
  closefile(sparefile);
}

bool TBBSCmd::Proceed() {
  switch (whatcmd) {
    case kCmdSend: return StartSend();
    case kCmdUpload: return StartUpload();
    case kCmdDownload: return StartDownload();
    case kCmdRead:
    case kCmdReadMine: return StartRead();
    default: return false;
  }
}

}  // namespace orn
