#include "admin/user_admin.h"

#include <cstdlib>
#include <random>

#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {

std::vector<UserRow> AllUsers(const TOrnDbase& db) {
  std::vector<UserRow> rows;
  db.ScanUserIdx([&](long pos, const UserDBidx& i) {
    rows.push_back({pos, i});
    return true;
  });
  return rows;
}

std::vector<UserRow> SearchUsers(TOrnDbase& db, UserSearch how, const std::string& text) {
  std::vector<UserRow> rows;
  if (how == UserSearch::kPosition) {
    const long pos = std::atol(text.c_str());
    if (pos > 0 && db.ReadFromFile(pos, db.userdb, db.useridx)) {
      db.upos = pos;
      rows.push_back({pos, db.useridx});
    }
    return rows;
  }
  long last = 0;
  db.ScanUserIdx([&](long pos, const UserDBidx& i) {
    bool match = false;
    switch (how) {
      case UserSearch::kCall: match = text == i.Call; break;
      case UserSearch::kName: match = UpperAscii(i.Name) == text; break;
      case UserSearch::kType: match = text == i.Type; break;
      case UserSearch::kFwdPartners: match = std::string(i.isFwdStation) == "Y"; break;
      case UserSearch::kPosition: break;
    }
    if (match) {
      rows.push_back({pos, i});
      last = pos;
    }
    return !(match && how == UserSearch::kCall);
  });
  if (last && db.ReadFromFile(last, db.userdb, db.useridx)) db.upos = last;
  return rows;
}

bool KillUser(TOrnDbase& db, long position) {
  UserDB u{};
  UserDBidx i{};
  if (!db.ReadFromFile(position, u, i)) return false;
  CopyField(u.Type, "K");
  return db.WriteToFile(position, u);
}

bool UpdateUser(TOrnDbase& db, long position, const UserDB& edited) {
  UserDB u{};
  UserDBidx i{};
  if (!db.ReadFromFile(position, u, i)) return false;  // only records that exist
  return db.WriteToFile(position, edited);
}

std::string GeneratePassword(const std::string& bbsDir, const std::string& call, uint32_t seed) {
  static const char kTable[] = "0123456789abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
  static_assert(sizeof kTable - 1 == 82, "the password alphabet");
  std::mt19937 gen(seed);
  std::string pw;
  while (pw.size() < 80) {
    const unsigned r = static_cast<unsigned>(gen() % 255) + 1;
    if (r > 81) continue;
    pw += kTable[r];
  }
  if (call.empty() || call.find_first_of("/\\") != std::string::npos) return {};
  if (!WriteFileReplacing(JoinPath(bbsDir, call + ".pas"), pw)) return {};
  return pw;
}

}  // namespace orn
