#include "store/new_message.h"

#include "platform/file_names.h"
#include "platform/text.h"
#include "store/counters.h"
#include "store/date_time.h"
#include "store/file_operations.h"
#include "store/msg_text.h"
#include "store/orn_dbase.h"
#include "store/store.h"

namespace orn {
namespace {

template <size_t N>
void VisibleField(char (&field)[N]) {
  for (size_t i = 0; i < N && field[i]; ++i)
    if (static_cast<unsigned char>(field[i]) < 0x20 || field[i] == 0x7F) field[i] = '?';
}

}  // namespace

std::string GeneratedBid(const std::string& call, long number) {
  return call + (number < 100000 ? "_" : "") + std::to_string(number);
}

NewMsgResult StoreNewMessage(Store& store, TOrnDbase& db, const Clock& clock, MsgDB& m, const std::string& text,
                             const std::string& bidCall, const MsgOrigin& origin) {
  MsgCounters& counters = store.counters;
  long number = counters.lastmsg + 1;
  // A text under the next number belongs to a message the records lost (a
  // torn file): it is never written over, its number never given again.
  for (int tries = 0; FileExists(MsgFileName(store.site().mailDir, number)); ++tries) {
    if (tries == 1000) return NewMsgResult::kNotStored;
    ++number;
  }
  m.MsgNo = static_cast<int32_t>(number);
  // Subjects and addresses go to every reader's and the sysop's terminal: no
  // control characters in them, whoever wrote them (a file, a peer).
  VisibleField(m.MsgSubject);
  VisibleField(m.ToStation);
  VisibleField(m.AtBbs);
  VisibleField(m.FromStation);
  VisibleField(m.Bid);
  if (!m.Bid[0] && !bidCall.empty())
    CopyField(m.Bid, GeneratedBid(bidCall, number));
  // Another channel or a partner may have brought the same bulletin meanwhile.
  if (m.Bid[0] && store.Bids.WeHaveThebid(m.Bid)) return NewMsgResult::kKnownBid;
  CopyField(m.MsgDate, FormatMsgDateTime(clock));
  if (!m.Status[0] || m.Status[0] == ' ') CopyField(m.Status, "N");

  // The number is claimed on disk before anything carries it, so the mark
  // never lags behind a stored message, not even when the disk fills up on
  // the way. A message that then fails leaves its number to the next one.
  if (!WriteHighWater(store.site(), number)) return NewMsgResult::kNotStored;
  // The text first: a record never points at a text that is not there.
  const long size = WriteMsgText(store.site().mailDir, number, text);
  if (size < 0) return NewMsgResult::kNotStored;
  m.Size = static_cast<int32_t>(size);
  const long pos = db.MsgCount() + 1;
  if (!db.WriteToFile(pos, m)) {
    // A text without its record would be overwritten by the next message.
    TFileOperations::filedelete(MsgFileName(store.site().mailDir, number));
    return NewMsgResult::kNotStored;
  }
  db.msgdb = m;
  db.mpos = pos;

  counters.lastmsg = number;
  ++counters.totalmsg;
  // A held message waits for the sysop, not for its readers.
  if (m.Status[0] == 'H') {
    ++counters.heldmsg;
  } else if (m.Status[0] != 'K') {
    ++counters.activemsg;
  }
  if (m.Bid[0]) store.Bids.InsertInBidArray(m.Bid);
  if (UpdatemsgBeacon* list = store.MsgBeacon()) list->PutCallInList(FieldText(m.ToStation));
  if (store.onNewMessage) store.onNewMessage(m, pos, origin);
  return NewMsgResult::kStored;
}

}  // namespace orn
