// Where a text a station sends ends (a message, an upload): at a line that
// ends with "/EX" (any case, blanks after it allowed) or at a Ctrl-Z. "/EX"
// followed by other characters ("C:/EXAMPLE", "see /EX later") is text, so a
// line mentioning it never cuts a message short.
#pragma once

#include <string>

namespace orn {

// `line` is one line with its CR, or the last piece of a text. True when it
// ends the text; the end mark (and whatever follows a Ctrl-Z) is then cut
// off, and what stood before the mark on that line stays, as a line of its
// own when it is not empty ("73 de XX9ORN /EX\r" leaves "73 de XX9ORN\r").
bool CutTextEnd(std::string* line);

}  // namespace orn
