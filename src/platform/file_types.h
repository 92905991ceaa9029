// Tells the desktop that message texts (*.amm) and language files (*.lng) are
// plain text, so a file manager opens them in the text editor: a freedesktop
// MIME declaration in the user's data directory, present while the BBS runs.
#pragma once

#include <string>

namespace orn {

// $XDG_DATA_HOME/mime (or ~/.local/share/mime); empty when neither is set.
std::string UserMimeDir();

// Writes the declaration and refreshes the MIME database when the tool for it
// is installed. Silently does nothing when the folder is not writable.
bool RegisterInfo();
// Removes the declaration again.
void UnRegisterInfo();

}  // namespace orn
