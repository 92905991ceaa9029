// The text lines of a forwarding exchange: proposal lines ("FB ..."), the
// checksum line that closes a block ("F> XX"), the answer line ("FS +-="),
// and the relay lines ("R:") a message carries.
#pragma once

#include <string>
#include <vector>

#include "store/records.h"

namespace orn {

// At most this many proposals in one block.
constexpr int kMaxProposals = 5;
// The width of a proposal line and of a title (including the terminator).
constexpr size_t kProposalWidth = 120;
// The longest relay identifier taken from an "R:" line.
constexpr size_t kMaxRelayId = 48;

// `S` as `digits` upper-case hexadecimal digits ("0" padded); a digit above
// 15 shows as "X".
std::string DtoHex(long S, int digits);

// The checksum of a block's proposal lines (every byte, CRs included), as
// sent after "F> ": the two's complement of their byte sum, modulo 256.
std::string ProposalChecksum(const std::string& lines);

// The proposal line of a message, CR included:
// "FA type from at to bid size" in compressed forwarding, "FB ..." in plain
// text (FA is a compressed message, FB a compressed file, as every FBB peer
// reads them). Text fields are cut at their first "." except the @BBS when
// the partner takes hierarchical addresses. A message stored without a type
// is proposed as P when its addressee is a callsign, B otherwise: peers
// refuse a blank type.
std::string FormatProposalLine(const MsgDB& m, bool hier, bool compressed);

// The fields of a received proposal line.
struct ProposalFields {
  char type = ' ';
  std::string from, at, to, bid;
  long size = 0;
};

// The offer of a message in the MBL dialogue, CR included:
// "S<type> to @ at < from $bid". To, from and the BID are cut at their first
// "."; the @BBS too unless the partner takes hierarchical addresses.
std::string FormatMblOffer(const MsgDB& m, bool hier);

// Reads an MBL offer "S<type> to @ at < from [$bid]" (the line may end in CR;
// "@" and "<" may stand apart from their fields or against them). False when
// the type letter, the addressee, "@ at" or "< from" is missing, a field is
// too wide for the message record or the BID is over 12 characters. The @BBS
// and the sender are upper-cased and cut at a "-" or ","; so is the BID
// (upper-cased).
bool ParseMblOffer(const std::string& line, ProposalFields* f);

// Reads "FB" or "FA", the type letter and five blank-separated fields (the
// line may end in CR). False for anything else or a field too wide for the
// message record: from, at and to at most 39 characters, the BID 1 to 12,
// the size a decimal number.
bool ParseProposalLine(const std::string& line, ProposalFields* f);

// The two hexadecimal digits of a "F> XX" line (optionally ending in CR); -1
// when the line is not one.
int ParseChecksumLine(const std::string& line);

// An answer line "FS " followed by one answer per proposal (optionally
// ending in CR): "+", "Y" or "H" (taken, to be held there) accepted, "-",
// "N", "R" or "E" refused, "=" or
// "L" deferred, as FBB peers write them, go to *flags as "+", "-" and "=".
// "!" or "A" with a decimal offset accepts from that offset on (a B1
// resume): "+" in *flags and the offset in *offsets (0 for the others); a
// null `offsets` refuses such answers. False for another letter, a missing
// "FS " or more answers than `proposals`.
bool ParseAnswerLine(const std::string& line, int proposals, std::string* flags,
                     std::vector<long>* offsets = nullptr);

// When `line` is a relay line "R:...@:CALL.HIER ..." (the ":" after "@" is
// optional), *id is the identifier after the "@"; false for other lines and
// identifiers over kMaxRelayId characters.
bool ReturnBbsinLine(const std::string& line, std::string* id);

}  // namespace orn
