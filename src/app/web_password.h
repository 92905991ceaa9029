// The web console's one sysop password: a salted Argon2id hash (libsodium's
// crypto_pwhash_str) in WEB.PWD of the BBS directory, never the password
// itself. The running BBS reads the file at every login attempt, so a new
// password from ornctl counts at once.
#pragma once

#include <string>

namespace orn {

extern const char* const kWebPasswordFile;  // "WEB.PWD"

// Hashes `password` and replaces the file in `dir` (mode 0660, written
// beside and renamed over). False with the reason.
bool SetWebPassword(const std::string& dir, const std::string& password, std::string* error);

enum class WebPasswordCheck { kNoPassword, kWrong, kRight };
// kNoPassword when the file is missing, empty or holds no hash. `stamp`
// gets the hash the password was checked against.
WebPasswordCheck CheckWebPassword(const std::string& dir, const std::string& password, std::string* stamp = nullptr);

// The password as it is now, to tell when it changes (its salted hash, new
// with every password set); empty when there is none.
std::string WebPasswordStamp(const std::string& dir);

}  // namespace orn
