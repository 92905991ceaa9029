// Callsign texts as the store keys them.
#pragma once

#include <string>

namespace orn {

// The amateur callsign check, without SSID: a prefix of one to three letters
// and digits with at least one letter, one digit, then a suffix of one to
// four letters, six characters at most (F6CCC, W1AW, 9A1AA, XX9ORN).
// Bulletin categories ("ALL", "SYSOP") and hierarchical addresses fail it.
bool CallIsValid(const std::string& call);

// The callsign part of an address: the text before the first "." once any
// leading dots are skipped ("XX7ZZ.GRC.EU" -> "XX7ZZ").
std::string CallKey(const std::string& address);

}  // namespace orn
