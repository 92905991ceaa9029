// Callsigns as they travel in AX.25 address fields.
#pragma once

#include <string>

namespace orn {

// True when `call` can be written into an address field: 1 to 6 upper-case
// letters or digits, then optionally "-" and an SSID 0-15 ("-0" included,
// though it is never written that way on the air).
bool IsAirCall(const std::string& call);

// The text an address field reads back as: SSID 0 has no "-0" suffix. Link
// and registration matching compares these texts, so "XX1AAA-0" given by a
// client never equals the "XX1AAA" that comes back from the air.
std::string AirForm(const std::string& call);

}  // namespace orn
