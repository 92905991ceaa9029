#include "store/counters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/file_names.h"

namespace orn {

long FindLastMsg(const StoreSite& site) {
  TOrnDbase db(site);
  db.OpenMsgFile();
  const long n = static_cast<long>(db.MsgIdxFile.Size() / kMsgDBidxSize);
  long last = 1000;
  if (n > 0) {
    if (db.ReadFromFile(n, db.msgdb, db.msgidx)) {
      last = db.msgdb.MsgNo;
    } else {
      // msg.adb cut short by a crash: the index still knows the number, and
      // handing it out again would overwrite that message's text.
      char idx[kMsgDBidxSize];
      if (db.MsgIdxFile.ReadAt((n - 1) * static_cast<int64_t>(kMsgDBidxSize), idx, sizeof idx) == sizeof idx) {
        DecodeMsgDBidx(idx, &db.msgidx);
        last = db.msgidx.MsgNo;
      }
    }
  }
  db.CloseAll();
  return last;
}

long FindTotalMsg(const StoreSite& site) {
  TOrnDbase db(site);
  db.OpenMsgFile();
  const long n = static_cast<long>(db.MsgIdxFile.Size() / kMsgDBidxSize);
  db.CloseAll();
  return n;
}

long FindActiveMsg(const StoreSite& site, long* heldmsg) {
  TOrnDbase db(site);
  db.OpenMsgFile();
  long active = 0, held = 0;
  db.ScanMsgIdx([&](long, const MsgDBidx& r) {
    if (std::strcmp(r.Status, "K") != 0) ++active;
    if (std::strcmp(r.Status, "H") == 0) ++held;
    return true;
  });
  db.CloseAll();
  if (heldmsg) *heldmsg = held;
  return active;
}

namespace {
const char* const kHighWaterFile = "LASTMSG.DAT";
}  // namespace

long ReadHighWater(const StoreSite& site) {
  std::string text;
  if (!ReadWholeFile(ResolveCase(JoinPath(site.dir, kHighWaterFile)), &text)) return 0;
  const long n = std::strtol(text.c_str(), nullptr, 10);
  return n > 0 ? n : 0;
}

bool WriteHighWater(const StoreSite& site, long number) {
  return WriteFileReplacing(JoinPath(site.dir, kHighWaterFile), std::to_string(number) + "\r\n");
}

MsgCounters RecountMessages(const StoreSite& site) {
  MsgCounters c;
  c.lastmsg = std::max(FindLastMsg(site), ReadHighWater(site));
  c.totalmsg = FindTotalMsg(site);
  c.activemsg = FindActiveMsg(site, &c.heldmsg);
  return c;
}

}  // namespace orn
