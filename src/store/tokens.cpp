#include "store/tokens.h"

#include <cstdio>

#include "platform/text.h"
#include "store/date_time.h"
#include "store/mail_beacon_list.h"

namespace orn {
namespace {

constexpr size_t kResultMax = 4999;  // a buffer of 5000

bool IsUserToken(char c) { return c == 'H' || c == 'N' || c == 'U' || c == 'E' || c == 'L' || c == 'l'; }

std::string ConnectedLines(const TokenContext& ctx) {
  std::string out = ctx.nousage;
  if (!ctx.connected) return out;
  for (const ConnectedStation& s : ctx.connected()) {
    char line[64];
    std::snprintf(line, sizeof line, "Port=%d,Channel=%d -> ", s.portIndex + 1, s.channel);
    out += line;
    out += s.call;
    out += '\r';
  }
  return out;
}

// The value of a token letter; false when the letter is not a token here.
bool Value(const TokenContext& ctx, char letter, std::string* out) {
  if (ctx.monitor && IsUserToken(letter)) return false;
  const MsgCounters none;
  const MsgCounters& n = ctx.counters ? *ctx.counters : none;
  switch (letter) {
    case 'A': *out = std::to_string(ctx.counters ? n.activemsg : 0); return true;
    case 'B': *out = std::to_string(ctx.counters ? n.totalmsg : 0); return true;
    case 'C': *out = std::to_string(ctx.counters ? n.lastmsg : 0); return true;
    case 'b': *out = ctx.msg ? FieldText(ctx.msg->Bid) : ""; return true;
    case 'D': *out = ctx.clock ? GetDate(*ctx.clock, 0) : ""; return true;
    case 'd': *out = ctx.clock ? GetDate(*ctx.clock, 1) : ""; return true;
    case 'T': *out = ctx.clock ? GetTime(*ctx.clock, 0) : ""; return true;
    case 't': *out = ctx.clock ? GetTime(*ctx.clock, 1) : ""; return true;
    case 'V': *out = ctx.ownCall; return true;
    case 'S': *out = ctx.sysopName; return true;
    case 'H': *out = ctx.user ? FieldText(ctx.user->HomeBbs) : ""; return true;
    case 'N':
      *out = ctx.user ? FieldText(ctx.user->Name) : "";
      if (ctx.ansiToOem) *out = ctx.ansiToOem->AnsiToOem(*out);
      return true;
    case 'U': *out = ctx.userCall; return true;
    case 'E': *out = std::to_string(ctx.channelNumber); return true;
    case 'L': *out = ctx.user ? std::to_string(ctx.user->LMsgRead) : ""; return true;
    case 'l':
      out->clear();
      if (ctx.user) {
        out->append(FieldText(ctx.user->LLoginD));
        out->append(1, '-');
        out->append(FieldText(ctx.user->LLoginT));
      }
      return true;
    case 'M': *out = ConnectedLines(ctx); return true;
    case 'q': *out = ctx.mailBeacon ? ctx.mailBeacon->FormatMailBeacon() : ""; return true;
    case '$': out->assign(1, '$'); return true;
    default: return false;
  }
}

}  // namespace

std::string wildcards(const TokenContext& ctx, const std::string& text) {
  std::string out;
  std::string value;
  for (size_t i = 0; i < text.size() && out.size() < kResultMax; ++i) {
    if (text[i] != '$') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) break;  // a trailing "$" is dropped
    if (!Value(ctx, text[i], &value)) {
      out += text[i];
      continue;
    }
    out += value;
    if (i + 1 < text.size()) out += text[++i];
  }
  return Cut(out, kResultMax + 1);
}

void wildcards(const TokenContext& ctx, char* text, size_t size) {
  CopyField(text, size, wildcards(ctx, FieldText(text, size)));
}

}  // namespace orn
