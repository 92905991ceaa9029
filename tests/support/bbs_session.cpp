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

std::string BbsSession::Sent() {
  clock_.Advance(3);
  for (int i = 1; i < Client().numberchildren; ++i)
    if (Ch(i).transparent) Link().TxTrans(Ch(i));
  std::string all;
  for (const ApiFrame& f : engine_.Take("D")) all += f.data;
  return all;
}

std::vector<std::string> BbsSession::Disconnects() {
  std::vector<std::string> calls;
  for (const ApiFrame& f : engine_.Take("d")) calls.push_back(std::to_string(f.port) + ":" + f.callTo);
  return calls;
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
