// Message reading: the R commands' operation. The header line goes out at
// once, the text follows in portions paced by the service timer, and the
// routing lines at the head of the text are folded into one "Path:" line
// unless the station asked for the verbose form.
#include <cstdio>
#include <cstring>
#include <string>

#include "channel/channel.h"
#include "bbs/bbs_cmd.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/mail_waiting.h"
#include "store/callsign.h"
#include "store/mail_beacon_list.h"
#include "store/msg_text.h"
#include "store/store.h"

namespace orn {
namespace {

// A portion of text is sent once it holds this many characters.
constexpr size_t kPortion = 1800;
// The "Path:" line is broken after this many characters.
constexpr size_t kPathWidth = 70;

std::string CallPart(const char* field) {
  const char* dot = std::strchr(field, '.');
  return dot ? std::string(field, dot) : std::string(field);
}

bool EndsWithCr(const char* line) {
  const size_t n = std::strlen(line);
  return n && line[n - 1] == '\r';
}

// Sends text of the message to the station, in the station's character set,
// counting it against its download volume.
void SendText(TChannel& ch, std::string text) {
  MDIClient& client = ch.client();
  if (client.cfg().OEMANSI) text = client.codePages().AnsiToOem(text);
  if (ch.tdb && ch.tdb->userdb.MaxDownload != 0) ch.maxdnld += static_cast<long>(text.size());
  ch.Send(text);
}

}  // namespace

// Reads the next of the station's unread messages (RM) or the message the
// command found (R, RV), and sends its header line.
bool TBBSCmd::StartRead() {
  TChannel& ch = *chan;
  if (!ch.tdb) return false;
  TOrnDbase& db = *ch.tdb;
  if (whatcmd == kCmdReadMine) {
    for (long pos = db.mpos + 1;; ++pos) {
      if (!db.ReadFromFile(pos, db.msgdb, db.msgidx)) {
        ch.EndService("\r");
        return false;
      }
      if (CallPart(db.msgdb.ToStation) == ch.UserCallOnly && db.msgdb.Status[0] == 'N') {
        db.mpos = pos;
        break;
      }
    }
    // The message's number names its text; mpos keeps its place.
    listpos = db.msgdb.MsgNo;
    ch.Service = 8;
  }
  const std::string file = MsgFileName(db.site().mailDir, listpos);
  MDIClient& client = ch.client();
  closefile(outfile);
  // A text missing, unreadable or shorter than its record says is the
  // sysop's to mend: the log says which and why, the reader that it is not
  // all there.
  textFault = MsgTextFault(db.site().mailDir, listpos, db.msgdb.Size);
  if (textFault.empty() || textFault.rfind("cut short", 0) == 0) outfile = std::fopen(ResolveCase(file).c_str(), "rb");
  if (!textFault.empty()) client.log().writelog(65, listpos, ch.UserCallOnly, "Msg text: " + textFault);
  if (!outfile) {
    ch.EndService("No Text.\r");
    terminate = true;
    return false;
  }
  readtimer = client.clock().NowMs();
  terminate = false;
  pathlines = pathprefix = true;
  std::string line;
  db.FormatMsgHeader(&line, db.msgdb, 0);
  if (client.cfg().OEMANSI) line = client.codePages().AnsiToOem(line);
  line.pop_back();
  ch.Send(ch.lang.msgheader + line);
  return true;
}

bool TBBSCmd::ReadMsgText() {
  TChannel& ch = *chan;
  terminate = false;
  if (!outfile || !ch.tdb) return false;
  std::string portion;
  char line[kReadlnMax + 1];
  if (pathlines && !verbose) {
    pathlines = false;
    bool pathOpen = false;  // the portion ends in calls that still need their CR
    for (;;) {
      if (!readln(outfile, line)) break;
      const bool whole = EndsWithCr(line);
      if (!ReturnBbsinLine(line)) {
        if (pathOpen) portion += '\r';
        pathOpen = false;
        portion += line;
        break;
      }
      // The rest of an over-long routing line is no text line.
      if (!whole) {
        char rest[kReadlnMax + 1];
        while (readln(outfile, rest) && !EndsWithCr(rest)) {
        }
      }
      if (pathprefix) {
        portion += "Path:";
        pathprefix = false;
      }
      portion += line;
      pathOpen = true;
      if (portion.size() > kPathWidth) {
        portion += '\r';
        SendText(ch, portion);
        portion.clear();
        pathOpen = false;
      }
    }
    if (pathOpen) portion += '\r';
  }
  while (portion.size() < kPortion && readln(outfile, line)) portion += line;
  if (!portion.empty()) {
    SendText(ch, portion);
    readtimer = ch.client().clock().NowMs();
    return true;
  }

  // The text has been sent.
  terminate = true;
  closefile(outfile);
  pathlines = pathprefix = true;
  if (!textFault.empty()) SendText(ch, "\r*** The text of this message is cut short: the rest is lost. ***\r");
  textFault.clear();
  MDIClient& client = ch.client();
  TOrnDbase& db = *ch.tdb;
  client.log().writelog(59, listpos, ch.UserCallOnly, "");
  // The record as it is now: another channel or the sysop may have changed
  // it while the text was going out.
  MsgDB& m = db.msgdb;
  if (db.ReadFromFile(db.mpos, m, db.msgidx) && m.MsgNo == listpos) {
    const char type = m.Type[0];
    const char status = m.Status[0];
    const bool addressee = CallPart(m.ToStation) == ch.UserCallOnly;
    if ((type == ' ' || type == '\0' || type == 'P') && addressee && status != 'K' && status != 'Y') {
      CopyField(m.Status, "Y");
      db.WriteToFile(db.mpos, m);
      UpdatemsgBeacon* list = client.store ? client.store->MsgBeacon() : nullptr;
      const std::string to = m.ToStation;
      CountOutOfMailBeacon(list, std::string(1, status), "Y", to);
      // The sysop has read the last of the mail waiting for the BBS's call.
      if (list && CallPart(m.ToStation) == db.site().ownCall && list->InList(to) == 0)
        client.mainView().SetMailIndicator(false);
    }
    client.mainView().RefreshMsgList(db.mpos);
  }
  if (whatcmd == kCmdRead) ch.EndService("\r");
  return false;
}

bool TBBSCmd::ReturnBbsinLine(char* line) {
  if (line[0] != 'R' || line[1] != ':') return false;
  std::string call;
  if (const char* at = std::strchr(line, '@')) {
    const char* p = at + 1;
    if (*p == ':') ++p;
    const char* end = p;
    while (*end && *end != ' ' && *end != '\r' && *end != '\n') ++end;
    call.assign(p, end);
    call += '!';
  }
  // Never longer than the line it replaces.
  std::memcpy(line, call.c_str(), call.size() + 1);
  return true;
}

}  // namespace orn
