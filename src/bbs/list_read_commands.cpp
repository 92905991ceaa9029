#include "bbs/list_read_commands.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "channel/channel.h"
#include "bbs/bbs_cmd.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/store.h"

namespace orn {
namespace {

// What follows the command letter(s): leading blanks removed, the CR dropped.
std::string Param(const char* line, size_t letters) {
  std::string p = line + std::min(letters, std::strlen(line));
  const size_t first = p.find_first_not_of(' ');
  p.erase(0, first == std::string::npos ? p.size() : first);
  if (!p.empty() && p.back() == '\r') p.pop_back();
  return p;
}

// A number a station typed: digits only, nine at most (no message number
// is larger); -1 for anything else, so that no sum with it can overflow.
long Number(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  for (char c : text)
    if (c < '0' || c > '9') return -1;
  return std::strtol(text.c_str(), nullptr, 10);
}

std::string BeforeDot(const std::string& text) { return text.substr(0, text.find('.')); }

// The lowest position of the messages the station has not listed yet: from
// the one it saw last. A number older than every message left (a new
// station has 0) means all of them.
long FirstUnlisted(TOrnDbase& db, long lastRead) {
  const long pos = db.SearchBinary(lastRead);
  MsgDB r{};
  MsgDBidx idx{};
  if (!db.ReadFromFile(pos, r, idx)) return 1;
  if (r.MsgNo > lastRead && db.ReadFromFile(1, r, idx) && r.MsgNo > lastRead) return 1;
  return pos;
}

// L and LL move the station's mark to the newest message before anything
// has been listed.
void MarkListed(TChannel& ch) {
  if (Store* store = ch.client().store) ch.tdb->userdb.LMsgRead = static_cast<int32_t>(store->counters.lastmsg);
  ch.WriteUser();
}

}  // namespace

bool MayRead(const MsgDB& r, const char* call) {
  if (r.Type[0] != 'P') return true;
  const std::string to = BeforeDot(r.ToStation);
  return to == call || BeforeDot(r.FromStation) == call || !CallIsValid(to) || !CallIsValid(r.AtBbs);
}

void ListCommand(TChannel& ch, const char* line) {
  ch.client().log().writelog(65, 0, ch.UserCallOnly, "List");
  TOrnDbase& db = *ch.tdb;
  const long last = static_cast<long>(db.MsgIdxFile.Size() / kMsgDBidxSize);
  int what = kCmdList;
  long until = 1;
  std::string search;
  bool timed = true;
  // The forms that search need a text; it ends at the first ".".
  auto searchText = [&](size_t maxLen = sizeof(TBBSCmd::searchcall) - 1) {
    search = BeforeDot(Param(line, 2)).substr(0, maxLen);
    return !Param(line, 2).empty();
  };
  switch (line[1]) {
    case '\r':
    case '\0':
      until = FirstUnlisted(db, db.userdb.LMsgRead);
      MarkListed(ch);
      break;
    case ' ': {
      const std::string n = Param(line, 1);
      if (n.empty()) {
        ch.EndService(ch.lang.notenoughparameters);
        return;
      }
      if (Number(n) < 0) {
        ch.EndService(ch.lang.invalidparameters);
        return;
      }
      until = db.SearchBinary(Number(n));
      if (!db.ReadFromFile(until, db.msgdb, db.msgidx) || until == last) until = 1;
      break;
    }
    case 'L': {
      what = kCmdListLast;
      const std::string n = Param(line, 2);
      if (n.empty()) {
        until = last;
        timed = false;
      } else if (Number(n) < 0) {
        ch.EndService(ch.lang.invalidparameters);
        return;
      } else {
        until = std::max(1L, last - Number(n) + 1);
      }
      MarkListed(ch);
      break;
    }
    case '<':
    case '>':
    case 'T':
    case 'S':
      what = line[1] == '<' ? kCmdListFrom : line[1] == '>' ? kCmdListTo : line[1] == 'T' ? kCmdListType
                                                                                          : kCmdListStatus;
      if (!searchText()) {
        ch.EndService(ch.lang.notenoughparameters);
        return;
      }
      if (what == kCmdListStatus && search[0] == 'U') search[0] = 'N';
      break;
    case '*':
      what = kCmdListSbj;
      if (!searchText(49)) {
        ch.EndService(ch.lang.notenoughparameters);
        return;
      }
      break;
    case 'M':
      what = kCmdListMine;
      break;
    case 'B':
    case 'P':
      what = kCmdListType;
      search = std::string(1, line[1]);
      break;
    case 'U':
      what = kCmdListStatus;
      search = std::string(1, 'N');
      break;
    default:
      ch.EndService(ch.lang.invalidparameters);
      return;
  }
  ch.operation = std::make_unique<TBBSCmd>(&ch, last, what);
  TBBSCmd& op = *ch.operation;
  op.untilpos = until;
  CopyField(op.searchcall, search);
  if (timed) op.listtimer = ch.client().clock().NowMs();
  ch.Service = 7;
  ch.DecodeService();
}

void ReadCommand(TChannel& ch, const char* line) {
  ch.Service = 1000;
  TOrnDbase& db = *ch.tdb;
  if (line[1] == 'M') {
    db.mpos = 0;
    ch.operation = std::make_unique<TBBSCmd>(&ch, 0L, kCmdReadMine);
    ch.Service = 8;
    if (!ch.operation->Proceed()) {
      ch.operation.reset();
      return;
    }
    ch.DecodeService();
    return;
  }
  const bool verbose = line[1] == 'V';
  if (line[1] != ' ' && !verbose) {
    ch.EndService(line[1] == '\r' || line[1] == '\0' ? ch.lang.notenoughparameters : ch.lang.invalidparameters);
    return;
  }
  const std::string n = Param(line, verbose ? 2 : 1);
  if (n.empty()) {
    ch.EndService(ch.lang.notenoughparameters);
    return;
  }
  const long number = Number(n);
  const long pos = number < 0 ? 0 : db.SearchBinary(number);
  if (!db.ReadFromFile(pos, db.msgdb, db.msgidx) || db.msgdb.MsgNo != number) {
    ch.EndService(ch.lang.notfound);
    return;
  }
  if (db.msgdb.Status[0] == 'K' || !MayRead(db.msgdb, ch.UserCallOnly)) {
    ch.EndService(ch.lang.notauthortoread);
    return;
  }
  ch.operation = std::make_unique<TBBSCmd>(&ch, number, kCmdRead);
  ch.operation->verbose = verbose;
  ch.Service = 8;
  db.mpos = pos;
  if (!ch.operation->Proceed()) {
    ch.operation.reset();
    return;
  }
  // The text starts with the header, without waiting for the timer.
  ch.DecodeService();
}

}  // namespace orn
