// A station kills messages it wrote or that were written to it. A killed
// message keeps its record and text until optimisation; it only leaves the
// active count, the listings and the mail-beacon list.
#include "bbs/kill_commands.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "channel/channel.h"
#include "store/mail_waiting.h"
#include "platform/text.h"
#include "store/store.h"

namespace orn {
namespace {

const char* const kWriteError = "Error...\r";

// The callsign part of an address field ("XX7ZZ.GRC.EU" -> "XX7ZZ").
std::string CallPart(const char* field) {
  const std::string s = field;
  return s.substr(0, s.find('.'));
}

// Marks the message in tdb's current record, read from `position`, as killed
// and writes it back; the counters, the sysop's list, the mail-beacon list
// and the log follow. False when the record could not be written.
bool KillMsg(TChannel& ch, long position) {
  TOrnDbase& db = *ch.tdb;
  MsgDB& m = db.msgdb;
  const std::string oldStatus = m.Status;
  CopyField(m.Status, "K");
  if (!db.WriteToFile(position, m)) return false;
  MDIClient& client = ch.client();
  Store* store = client.store;
  if (store) {
    --store->counters.activemsg;
    if (oldStatus == "H") --store->counters.heldmsg;
    CountOutOfMailBeacon(store->MsgBeacon(), oldStatus, "K", m.ToStation);
  }
  client.mainView().RefreshMsgList(position);
  client.log().writelog(61, m.MsgNo, ch.UserCallOnly, "");
  return true;
}

void KillOne(TChannel& ch, const char* line) {
  // What follows "K ", as the station typed it.
  std::string typed = line + 2;
  if (!typed.empty() && typed.back() == '\r') typed.pop_back();
  typed = Trim(typed);
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(typed.c_str(), &end, 10);
  TOrnDbase& db = *ch.tdb;
  const bool isNumber = !typed.empty() && end && *end == '\0' && errno == 0 && number > 0;
  const long position = isNumber ? db.SearchBinary(number) : 0;
  if (!isNumber || !db.ReadFromFile(position, db.msgdb, db.msgidx) || db.msgdb.MsgNo != number) {
    ch.EndService(ch.lang.notfound);
    return;
  }
  const MsgDB& m = db.msgdb;
  const bool mine = CallPart(m.ToStation) == ch.UserCallOnly || CallPart(m.FromStation) == ch.UserCallOnly;
  if (!mine || std::strcmp(m.Status, "K") == 0) {
    ch.EndService(ch.lang.notauthortokill);
    return;
  }
  if (!KillMsg(ch, position)) {
    ch.EndService(kWriteError);
    return;
  }
  ch.EndService("Msg# " + typed + ", " + ch.lang.hasbeenerased);
}

// Kills the station's messages that it has read (any status but unread
// "N" and killed "K"), private and bulletins; unread ones stay.
void KillMine(TChannel& ch) {
  TOrnDbase& db = *ch.tdb;
  std::vector<long> positions;
  db.ScanMsgs([&](long position, const MsgDB& m) {
    const char type = m.Type[0];
    const bool kind = type == ' ' || type == 'P' || type == 'B';
    if (CallPart(m.ToStation) == ch.UserCallOnly && kind && std::strcmp(m.Status, "K") != 0 &&
        std::strcmp(m.Status, "N") != 0)
      positions.push_back(position);
    return true;
  });
  int killed = 0;
  for (long position : positions) {
    if (!db.ReadFromFile(position, db.msgdb, db.msgidx)) continue;
    if (!KillMsg(ch, position)) {
      ch.EndService(kWriteError);
      return;
    }
    ++killed;
  }
  ch.EndService(killed ? ch.lang.msgserased : ch.lang.notfound);
}

}  // namespace

void KillCommand(TChannel& ch, const char* line) {
  ch.Service = 1000;
  switch (line[1]) {
    case '\r':
    case '\0':
      ch.EndService(ch.lang.notenoughparameters);
      return;
    case ' ':
      KillOne(ch, line);
      return;
    case 'M':
      KillMine(ch);
      return;
    default:
      ch.EndService(ch.lang.invalidparameters);
      return;
  }
}

}  // namespace orn
