// Message text files and the texts made from message records.
//
// Each message's text is a file of its own, "<number>.amm" in the message
// directory. In memory a text ends its lines with LF; on disk every LF is
// CR LF, as the files have always been, so sysops can carry them between
// systems. MsgDB.Size is the size on disk.
#pragma once

#include <string>

#include "platform/code_pages.h"
#include "store/records.h"

namespace orn {

// mailDir/"1234.amm".
std::string MsgFileName(const std::string& mailDir, long number);

// The on-disk form of an in-memory text (every LF becomes CR LF) and back
// (every CR LF becomes LF). The pair round-trips any text exactly.
std::string ToDiskLines(const std::string& text);
std::string FromDiskLines(const std::string& disk);

// Writes the text of message `number` through a temporary name in the same
// directory and a rename, so that a crash never leaves half a message file
// under a real number; `sync` waits for the disk first. Returns the size of
// the file on disk, or -1 when it could not be written (nothing is left
// under the real name then).
long WriteMsgText(const std::string& mailDir, long number, const std::string& text, bool sync = true);
// The text of message `number` with LF line ends; false when it has no file.
bool ReadMsgText(const std::string& mailDir, long number, std::string* text);
// Empty when the text of message `number` can be read whole; otherwise what
// is wrong, in the sysop's words: "no text file", "permission denied", "cut
// short: 120 of 400 bytes" (against `recordSize`, the record's Size; a file
// longer than that is not cut).
std::string MsgTextFault(const std::string& mailDir, long number, long recordSize);

// The lines a message text starts with, after the routing header (the
// expanded FWDHEADER template): an empty line, "From:", "To:...@...", and an
// empty line before the body.
std::string MsgTextHead(const std::string& routingHeader, const MsgDB& r);

// Normalises one received line in place before it is stored: every CR
// becomes LF (lines longer than 9999 characters keep their CRs), then, when
// `oemToAnsi` is given (the OEMANSI switch is on), the line is converted from
// the OEM to the ANSI character set.
void FormatTextSave(char* data, long size, const CodePages* oemToAnsi = nullptr);

// The listing line of a message record: number (9 wide), type and status,
// size (7 wide), the call parts of To, From and At (7 wide each), the date
// (15 wide), the subject, CR LF. A wider field is not cut: the following
// columns shift.
std::string FormatMsgHeader(const MsgDB& r);

// Whether a line of a text (without its line end) is the text's end mark:
// it ends in "/EX", in any case, blanks after it allowed. "/EX" followed by
// anything else ("C:/EXAMPLE") is text. *kept is what stood before the mark,
// without the blanks before it.
bool EndMarkLine(const std::string& line, std::string* kept);

}  // namespace orn
