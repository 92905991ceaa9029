#include "support/bbs_session.h"

#include "platform/file_names.h"
#include "store/orn_dbase.h"

namespace orn::test {
namespace {

StoreSite Site(const TestDir& dir) { return StoreSite{dir.path(), dir / "MAIL", "XX9ORN", ""}; }

}  // namespace

BbsSession::BbsSession() { WriteMarkedLanguage(dir_.path(), "english.lng"); }

void BbsSession::AddUser(const std::string& call, const std::function<void(UserDB&)>& edit) {
  for (const char* f : {"USERS.ADB", "USERS.IDX", "MSG.ADB", "MSG.IDX"}) CreateFileIfDontExist(dir_ / f);
  TOrnDbase db(Site(dir_));
  ASSERT_TRUE(db.OpenUserFile());
  const long pos = db.AppendUser(call);
  ASSERT_NE(pos, 0);
  edit(db.userdb);
  ASSERT_TRUE(db.WriteToFile(pos, db.userdb));
  db.CloseAll();
}

UserDB BbsSession::User(long position) {
  TOrnDbase db(Site(dir_));
  db.OpenUserFile();
  UserDB u{};
  UserDBidx idx{};
  db.ReadFromFile(position, u, idx);
  db.CloseAll();
  return u;
}

}  // namespace orn::test
