// The system identifier line a BBS announces itself with, "[ORN-7.10-AB1FHMR$]":
// a name, a version and, after the last "-", the letters of what it can do.
#pragma once

#include <string>

namespace orn {

// What a forwarding partner announced.
struct SFwd {
  bool fbbok = false;     // F: proposals and answers
  bool asciiok = false;   // A: messages as plain text
  bool binaryok = false;  // B: messages compressed in blocks
  bool bidok = false;     // $: bulletin identifiers
  bool hierok = false;    // H: hierarchical addresses
  bool routeok = false;   // R
  bool midok = false;     // M
  bool fbbonly = false;   // F without A and B
  bool b1ok = false;      // 1 (with B): the blocks carry a CRC, and broken transfers resume
};

// Reads the ability letters of a SID line into *f (all cleared first).
// False when the line has no "]" or its letters lack "$": such a partner
// cannot take part in forwarding. With F, compressed transfer wins over plain
// text when both are offered, and F alone means plain text. "1" counts only
// beside "B".
bool ParseSid(const std::string& line, SFwd* f);

}  // namespace orn
