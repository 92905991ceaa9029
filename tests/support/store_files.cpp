#include "support/store_files.h"

#include <sys/stat.h>

#include "platform/text.h"

namespace orn::test {

StoreSite MakeEmptyStore(const TestDir& dir) {
  for (const char* name : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX", "MAIL.ADB"}) dir.Write(name, "");
  ::mkdir((dir / "MAIL").c_str(), 0755);
  return StoreSite{dir.path(), dir / "MAIL", "XX9ORN", "GRC.EU"};
}

MsgDB Msg(const TOrnDbase& db, long number, const char* type, const char* status, const char* to,
          const char* bid) {
  MsgDB r;
  db.DBdefaults(&r, number);
  CopyField(r.Type, type);
  CopyField(r.Status, status);
  CopyField(r.ToStation, to);
  if (bid) CopyField(r.Bid, bid);
  return r;
}

}  // namespace orn::test
