// The address fields of a message's send line: "@ bbs", "< sender", "$ bid"
// and the words of a subject, in any order after the addressee.
#pragma once

#include <string>

#include "store/records.h"

namespace orn {

// Takes one field off the front of `cn` and stores it in `msg`; called until
// `cn` is empty. A marker ("@", "<", "$") may stand apart from its text or
// directly before it; a marker directly after a text ends that text and is
// used up, so "@XX2BBS<XX3ABC" gives the destination XX2BBS and a subject
// word XX3ABC. Destination and sender are upper-cased, at most 39
// characters, and lose an SSID or a ",..." tail; a BID longer than 12
// characters is dropped. Unmarked words make up the subject, joined by
// blanks.
void DecodeSend(std::string& cn, MsgDB& msg);

}  // namespace orn
