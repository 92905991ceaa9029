// Makes a forwarding partner in a BBS directory through the store's own
// functions, for the end-to-end tests that forward with another BBS:
//
//   test_partner DIR CALL RULES SEND RCV
//
// CALL becomes a BBS (type B) that takes and gives mail with BIDs, its
// routing rules RULES ("|" separates the lines, e.g. "@XX8FBB|@WW"), one
// connect entry for the whole day whose script is SEND and RCV (";"
// separates the steps, as the sysop writes them). Exit status 1 with a
// message when the files cannot be written.
#include <cstdio>
#include <string>

#include "platform/file_names.h"
#include "platform/text.h"
#include "store/orn_dbase.h"

int main(int argc, char** argv) {
  using namespace orn;
  if (argc != 6) {
    std::fprintf(stderr, "usage: test_partner DIR CALL RULES SEND RCV\n");
    return 2;
  }
  const std::string dir = argv[1];
  for (const char* f : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX"}) CreateFileIfDontExist(JoinPath(dir, f));
  TOrnDbase db(StoreSite{dir, JoinPath(dir, "MAIL"), "", ""});
  if (!db.OpenUserFile()) {
    std::fprintf(stderr, "test_partner: cannot open the user files in %s\n", dir.c_str());
    return 1;
  }
  const std::string call = argv[2];
  long pos = db.FindUser(call);
  if (pos == 0) pos = db.AppendUser(call);
  UserDB& u = db.userdb;
  std::string rules = argv[3];
  for (char& c : rules)
    if (c == '|') c = '\n';
  CopyField(u.Type, "B");
  CopyField(u.Name, "Bbs");
  CopyField(u.isFwdStation, "Y");
  CopyField(u.OkWithBids, "Y");
  u.FwdQueue = 1;
  u.FwdKind = 'D';
  CopyField(u.FwdDest, rules);
  Howtoconnect& h = u.Hcon[0];
  CopyField(h.hours, "0023");
  CopyField(h.port, "1");
  CopyField(h.send, argv[4]);
  CopyField(h.rcv, argv[5]);
  CopyField(h.mlength, "0");
  CopyField(h.daysago, "0");
  CopyField(h.fwdkind, "N");
  h.flag = 'N';
  const bool ok = pos != 0 && db.WriteToFile(pos, u);
  db.CloseAll();
  if (!ok) {
    std::fprintf(stderr, "test_partner: cannot write %s\n", call.c_str());
    return 1;
  }
  return 0;
}
