// Messages to and from exchange files: the line protocol of a station that
// sends a message (send line, subject, text, "/EX"), one block after another.
#pragma once

#include <string>
#include <vector>

#include "admin/msg_admin.h"
#include "platform/code_pages.h"

namespace orn {

// Appends the messages of these numbers to `path` (created when missing).
// Subject and text go out in the stations' code page when `ansiToOem` is
// given. Messages without a text file are skipped. Returns how many were
// written; -1 when the file cannot be written.
int ExportMsgs(TOrnDbase& db, const std::string& mailDir, const std::vector<long>& numbers, const std::string& path,
               const CodePages* ansiToOem);

struct ImportResult {
  std::vector<long> stored;  // the new message numbers
  int skipped = 0;           // blocks without an address, or with a known BID
  bool readable = true;      // the file could be opened
};

// Stores every complete block of `path` as a new message: the routing header
// of this BBS first, then the block's text. `autobid` gives a block without
// a BID one of this BBS. Subject and text come in from the stations' code
// page when `oemToAnsi` is given.
ImportResult ImportMsgs(const MsgAdminContext& ctx, TOrnDbase& db, const std::string& path, bool autobid,
                        const CodePages* oemToAnsi);

}  // namespace orn
