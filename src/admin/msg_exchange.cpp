#include "admin/msg_exchange.h"

#include <cstdio>
#include <cstring>

#include "store/decode_send.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/date_time.h"
#include "store/file_operations.h"
#include "store/mail_beacon_list.h"
#include "store/msg_text.h"
#include "store/store.h"

namespace orn {
namespace {

std::string Converted(const std::string& s, const CodePages* cp, bool toOem) {
  if (!cp) return s;
  return toOem ? cp->AnsiToOem(s) : cp->OemToAnsi(s);
}

// A line as the line reader gives it, without its line end.
std::string Bare(const char* line) {
  std::string s = line;
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
  return s;
}

}  // namespace

int ExportMsgs(TOrnDbase& db, const std::string& mailDir, const std::vector<long>& numbers, const std::string& path,
               const CodePages* ansiToOem) {
  std::string out;
  int count = 0;
  for (long number : numbers) {
    const long pos = db.SearchBinary(number);
    MsgDB m{};
    MsgDBidx i{};
    if (!db.ReadFromFile(pos, m, i) || m.MsgNo != number) continue;
    std::string text;
    if (!ReadWholeFile(ResolveCase(MsgFileName(mailDir, number)), &text)) continue;
    char line[256];
    std::snprintf(line, sizeof line, "S%s %s @ %s < %s $%s\n", m.Type, m.ToStation, m.AtBbs, m.FromStation, m.Bid);
    out += line;
    out += Converted(FieldText(m.MsgSubject), ansiToOem, true) + "\n";
    out += Converted(text, ansiToOem, true) + "\n/EX\n";
    ++count;
  }
  std::FILE* f = std::fopen(ResolveCase(path).c_str(), "ab");
  if (!f) return -1;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok ? count : -1;
}

ImportResult ImportMsgs(const MsgAdminContext& ctx, TOrnDbase& db, const std::string& path, bool autobid,
                        const CodePages* oemToAnsi) {
  ImportResult result;
  std::FILE* f = std::fopen(ResolveCase(path).c_str(), "rb");
  if (!f) {
    result.readable = false;
    return result;
  }
  char line[kReadlnMax + 1];
  while (TFileOperations::readln(f, line)) {
    // The send line: "S" and the type, a blank, then the addressee and the
    // address fields.
    const std::string send = Bare(line);
    if (send.size() < 3 || (send[0] != 'S' && send[0] != 's')) continue;
    MsgDB m{};
    CopyField(m.Type, std::string(1, send[1]));
    CopyField(m.Status, "N");
    std::string cn = send.substr(3);
    const size_t end = cn.find_first_of("@ <$");
    CopyField(m.ToStation, cn.substr(0, std::min<size_t>(end, 39)));
    cn.erase(0, end == std::string::npos ? cn.size() : end);
    cn.erase(0, std::min(cn.find_first_not_of(' '), cn.size()));
    while (!cn.empty()) DecodeSend(cn, m);
    if (!TFileOperations::readln(f, line)) break;  // the file ends inside the block
    CopyField(m.MsgSubject, Converted(Bare(line), oemToAnsi, false));

    // The text up to the line holding "/EX".
    std::string text;
    bool complete = false;
    while (TFileOperations::readln(f, line)) {
      if (std::strstr(line, "/EX")) {
        complete = true;
        break;
      }
      FormatTextSave(line, static_cast<long>(std::strlen(line)), oemToAnsi);
      text += line;
    }
    if (!complete) break;
    if (!m.AtBbs[0] || !m.FromStation[0] || !m.ToStation[0]) {
      ++result.skipped;
      continue;
    }
    // The new routing header goes before the block's own text, which keeps
    // its old header and address lines.
    const std::string header = ctx.routingHeader ? ctx.routingHeader() : std::string();
    // A number used again after a repair may still sit in a partner's queue.
    if (ctx.RemFwd) ctx.RemFwd(static_cast<long>(ctx.store ? ctx.store->counters.lastmsg + 1 : 0));
    // A known BID is skipped like an incomplete block.
    if (StoreNewMsg(ctx, db, m, header + "\n" + text, autobid ? ctx.ownCall : "") == MsgEditResult::kStored) {
      result.stored.push_back(m.MsgNo);
    } else {
      ++result.skipped;
    }
  }
  std::fclose(f);
  return result;
}

}  // namespace orn
