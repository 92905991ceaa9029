// Language files whose texts name themselves, so that a test can read what
// a station was sent: "[invalidcommand]" and the like.
#pragma once

#include <string>

namespace orn::test {

// Writes `file` (e.g. "english.lng") in `dir`: every text is its field name
// between `open` and `close`, then a CR. Blocks may hold tokens: newuser is
// "<open>newuser $U<close>".
void WriteMarkedLanguage(const std::string& dir, const std::string& file, char open = '[', char close = ']');

// The text of one field as WriteMarkedLanguage wrote it, with its CR.
std::string Marked(const std::string& field, char open = '[', char close = ']');

}  // namespace orn::test
