// The sysop's work on the user base, as the user window does it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/orn_dbase.h"

namespace orn {

enum class UserSearch { kPosition, kCall, kName, kType, kFwdPartners };

struct UserRow {
  long position;  // in users.adb, from 1
  UserDBidx index;
};

std::vector<UserRow> AllUsers(const TOrnDbase& db);
// The matching users, in file order (by callsign: the first match only).
// The full record of the last match is left in db.userdb.
std::vector<UserRow> SearchUsers(TOrnDbase& db, UserSearch how, const std::string& text);

// Marks the user at `position` killed; the record stays until the next
// database repair.
bool KillUser(TOrnDbase& db, long position);
// Writes an edited record back at its position.
bool UpdateUser(TOrnDbase& db, long position, const UserDB& edited);

// A login password of 80 characters drawn from the password alphabet with
// `seed`; written without line end to "<call>.pas" in the BBS directory so
// the sysop can hand it over. Empty when the file cannot be written.
std::string GeneratePassword(const std::string& bbsDir, const std::string& call, uint32_t seed);

}  // namespace orn
