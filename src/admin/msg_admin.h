// The sysop's work on the message base, as the message window does it:
// searching, killing, editing, creating and answering messages. No display
// here: the window shows what these return.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/code_pages.h"
#include "store/orn_dbase.h"

namespace orn {

class Store;
class Clock;

enum class MsgSearch { kMsgNo, kType, kStatus, kFrom, kTo, kAt, kMine };

struct MsgRow {
  long position;  // in msg.adb, from 1
  MsgDB record;
};

// The records matching the typed text, in file order. `ownCall` is the
// BBS's call without SSID (for kMine).
std::vector<MsgRow> SearchMsgs(TOrnDbase& db, MsgSearch how, const std::string& text, const std::string& ownCall);
// Every record, in file order.
std::vector<MsgRow> AllMsgs(const TOrnDbase& db);

// Several of the window's searches at once: a record is listed when it
// matches every criterion given (an empty one matches all), each as its
// search matches it (From and To contain the text, Type and Status equal it).
struct MsgFilter {
  std::string from, to, type, status;
  std::string at;       // part of the @BBS field
  long number = 0;      // this message alone (0: any)
  std::string mine;     // the BBS's own call: messages to it (empty: any)
};
// An unread message (status N, not held) to the BBS's own call is waiting:
// the main window's mail indicator.
bool MailForSysop(const TOrnDbase& db, const std::string& ownCall);
std::vector<MsgRow> FilterMsgs(const TOrnDbase& db, const MsgFilter& filter);

// The database window's choices, in its order: how the sysop searches
// (MsgSearch's order), the statuses and the types, each a letter and its
// name ("N-unread", " -none").
extern const char* const kMsgSearchNames[7];
extern const char* const kMsgStatusNames[5];
extern const char* const kMsgTypeNames[5];

// Columns a message list sorts by, by their record field names.
extern const char* const kMsgSortFields[10];
// One page of the messages that pass `filter`: rows [offset, offset+limit)
// sorted by `field` (file order when empty), message number breaking ties,
// and how many passed. Only the sort keys of the others are held, so a page
// of a big store costs little more than reading it. False for a field that
// is none of kMsgSortFields.
struct MsgPage {
  size_t total = 0;
  std::vector<MsgRow> rows;
};
bool PageMsgs(TOrnDbase& db, const MsgFilter& filter, const std::string& field, bool desc, size_t offset,
              size_t limit, MsgPage* page);

// What the message window needs from the rest of the BBS.
struct MsgAdminContext {
  Store* store = nullptr;
  const Clock* clock = nullptr;
  std::string ownCall;             // without SSID
  std::function<std::string()> routingHeader;  // FWDHEADER, expanded now
  std::function<void(long number)> RemFwd;  // out of the partners' queues
  std::function<void(const MsgDB&)> Route;  // into the partners' queues, as a new message
  // For exchange files: the stations' code page when texts are converted
  // (null: they are not).
  const CodePages* stationCodePage = nullptr;
};

// Marks message `number` killed. False when there is no such message.
bool KillMsg(const MsgAdminContext& ctx, TOrnDbase& db, long number);

enum class MsgEditResult { kStored, kFillAllFields, kKnownBid, kNotFound, kNotStored };

// The name of the first field a message must have and lacks ("To", "From"),
// or empty.
std::string MissingMsgField(const MsgDB& m);

enum class HoldResult { kDone, kAlready, kNotHeld, kKilled, kNotFound, kFillAllFields, kNotStored };

// Holds message `number` (out of the partners' queues) or releases a held
// one (routed to the partners as a new message would be): the sysop's hold
// and release, from the desktop or ornctl alike.
HoldResult HoldMsg(const MsgAdminContext& ctx, TOrnDbase& db, long number, bool hold);

// Writes the edited fields of an existing message back (its number and
// position stay); a change of status updates the mail-beacon list and the
// counters.
MsgEditResult UpdateMsg(const MsgAdminContext& ctx, TOrnDbase& db, const MsgDB& edited);
// The same with the message's whole text (LF line ends) written anew; the
// record's size follows the text. Nothing is written when a field is missing.
MsgEditResult UpdateMsg(const MsgAdminContext& ctx, TOrnDbase& db, const MsgDB& edited, const std::string& text);
// A new message from the sysop (addressee, sender and BID filled in):
// numbered, dated, its text file written with the routing header and the
// From/To lines, then its records. `text` holds
// the editor's lines joined by "\r\n". The stored record is left in `m`.
MsgEditResult CreateMsg(const MsgAdminContext& ctx, TOrnDbase& db, MsgDB& m, const std::string& text);

// Stores a new message of the sysop's whose whole text (LF line ends) is
// given, as every new message is stored (StoreNewMessage); a message without
// a BID gets "<bidCall>_<number>" unless `bidCall` is empty. A known BID is
// refused.
MsgEditResult StoreNewMsg(const MsgAdminContext& ctx, TOrnDbase& db, MsgDB& m, const std::string& text,
                          const std::string& bidCall = "");

// The editor's fields for an answer to `original`: addressee and sender
// swapped, subject "RE:" and the original's subject. False when the
// message is not addressed to the BBS (only those are answered here).
bool PrepareReply(const MsgDB& original, const std::string& ownCall, MsgDB* reply);

}  // namespace orn
