// Callsign texts as the store keys them.
#pragma once

#include <string>

namespace orn {

// The amateur callsign check: 4 to 6 characters, the first not a digit, the
// third a digit, no digit from the fourth on; the second is not checked.
// Bulletin categories ("ALL", "SYSOP") and hierarchical addresses fail it.
bool CallIsValid(const std::string& call);

// The callsign part of an address: the text before the first "." once any
// leading dots are skipped ("XX7ZZ.GRC.EU" -> "XX7ZZ").
std::string CallKey(const std::string& address);

}  // namespace orn
