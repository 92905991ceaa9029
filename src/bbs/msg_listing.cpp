// Message listings: the L commands' operation. Each step sends up to one
// page of listing lines, newest first; the service timer brings the next
// step once the engine has sent the previous one, or the station's answer
// does when the page pause waits for it.
#include <cstring>
#include <string>

#include "channel/channel.h"
#include "bbs/bbs_cmd.h"
#include "bbs/list_read_commands.h"
#include "platform/text.h"
#include "store/msg_text.h"

namespace orn {
namespace {

constexpr int kPageLines = 21;

// The part of an address before its first ".".
std::string CallPart(const char* field) {
  const char* dot = std::strchr(field, '.');
  return dot ? std::string(field, dot) : std::string(field);
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool Visible(const MsgDB& r, const char* call) { return r.Status[0] != 'K' && MayRead(r, call); }

enum class Skipped { Kept, LowersRange };

// The page pause: with pagination on, a full page waits for the station's
// answer instead of the timer.
void SendPage(TChannel* channel, int lines) {
  if (!channel->pagination || lines != kPageLines || !channel->operation) return;
  channel->operation->listtimer = 0;
  channel->Send(channel->lang.pagemsg);
}

// One listing step: the lines of the records from `listpos` down that pass
// `match`, at most one page. True while the listing goes on.
template <typename Match>
bool ListStep(TBBSCmd& op, Match match, Skipped skipped = Skipped::Kept) {
  TChannel& ch = *op.chan;
  if (!ch.tdb) return false;
  TOrnDbase& db = *ch.tdb;
  MDIClient& client = ch.client();
  const bool oem = client.cfg().OEMANSI;
  const bool counted = db.userdb.MaxDownload != 0;
  std::string out;
  MsgDB r{};
  MsgDBidx idx{};
  while (op.listedlines < kPageLines && op.listpos >= 1 && op.listpos >= op.untilpos) {
    if (!db.ReadFromFile(op.listpos, r, idx)) break;
    --op.listpos;
    if (!match(r)) {
      // So that the range still holds the number of messages asked for.
      if (skipped == Skipped::LowersRange && op.untilpos > 1) --op.untilpos;
      continue;
    }
    std::string line = FormatMsgHeader(r);
    if (oem) line = client.codePages().AnsiToOem(line);
    if (counted) ch.maxdnld += static_cast<long>(line.size());
    if (op.firstline) {
      op.firstline = false;
      out = ch.lang.msgheader;
    }
    line.pop_back();  // the LF: lines on the air end with CR alone
    out += line;
    ++op.listedlines;
  }
  if (!out.empty()) {
    ch.Send(out);
    op.listtimer = client.clock().NowMs();
    SendPage(&ch, op.listedlines);
    op.listedlines = 0;
    return true;
  }
  if (op.firstline) ch.Send(ch.lang.notfound);
  op.firstline = true;
  return false;
}

}  // namespace

bool TBBSCmd::List() {
  return ListStep(*this, [&](const MsgDB& r) { return Visible(r, chan->UserCallOnly); });
}

bool TBBSCmd::ListLast() {
  return ListStep(*this, [&](const MsgDB& r) { return Visible(r, chan->UserCallOnly); }, Skipped::LowersRange);
}

bool TBBSCmd::ListFrom() {
  return ListStep(*this, [&](const MsgDB& r) {
    return Contains(r.FromStation, searchcall) && Visible(r, chan->UserCallOnly);
  });
}

bool TBBSCmd::ListTo() {
  return ListStep(*this, [&](const MsgDB& r) {
    return Contains(r.ToStation, searchcall) && Visible(r, chan->UserCallOnly);
  });
}

bool TBBSCmd::ListAt() {
  return ListStep(*this, [&](const MsgDB& r) {
    return Contains(CallPart(r.AtBbs), searchcall) && Visible(r, chan->UserCallOnly);
  });
}

bool TBBSCmd::ListMine() {
  return ListStep(*this, [&](const MsgDB& r) {
    const char* call = chan->UserCallOnly;
    return r.Status[0] != 'K' && (CallPart(r.ToStation) == call || CallPart(r.FromStation) == call);
  });
}

bool TBBSCmd::ListSbj() {
  return ListStep(*this, [&](const MsgDB& r) {
    return Contains(UpperAscii(r.MsgSubject), searchcall) && Visible(r, chan->UserCallOnly);
  });
}

bool TBBSCmd::ListType() {
  return ListStep(
      *this,
      [&](const MsgDB& r) { return std::strcmp(r.Type, searchcall) == 0 && Visible(r, chan->UserCallOnly); },
      Skipped::LowersRange);
}

bool TBBSCmd::ListStatus() {
  return ListStep(
      *this,
      [&](const MsgDB& r) { return std::strcmp(r.Status, searchcall) == 0 && Visible(r, chan->UserCallOnly); },
      Skipped::LowersRange);
}

}  // namespace orn
