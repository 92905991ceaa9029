// Message entry: the S command's operation. The send line names the
// addressee and the optional fields; a subject is asked for when the line
// has none; text lines follow until "/EX" or Ctrl-Z. The text collects in a
// temporary file of the channel, and only a complete message is numbered
// and stored: text file, then the record pair, then the BID table and the
// mail-beacon list.
#include "bbs/msg_entry.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "channel/channel.h"
#include "bbs/bbs_cmd.h"
#include "bbs/text_end.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/decode_send.h"
#include "store/msg_text.h"
#include "store/new_message.h"
#include "store/store.h"

namespace orn {
namespace {

// A line this long without a CR is taken in parts, as it arrived.
constexpr size_t kMaxPendingLine = 1024;
const char* const kNotStored = "Error... Msg not stored.\r";

template <size_t N>
void DropFinalCr(char (&text)[N]) {
  const size_t n = std::strlen(text);
  if (n && text[n - 1] == '\r') text[n - 1] = '\0';
}

void DropLeadingBlanks(std::string& s) { s.erase(0, std::min(s.find_first_not_of(' '), s.size())); }

// A HierAddress or HomeBbs that was filled in ("?" is the unset default).
bool Known(const std::string& field) { return !field.empty() && field[0] != '?'; }

}  // namespace

void SendCommand(TChannel& ch, const char* line) {
  const char* cr = std::strchr(line, '\r');
  const size_t first = cr ? static_cast<size_t>(cr - line) : std::strlen(line);
  if (first <= 1) {
    ch.EndService(ch.lang.notenoughparameters);
    return;
  }
  auto op = std::make_unique<TBBSCmd>(&ch, std::string(line + 1, first - 1), kCmdSend);
  if (!op->Proceed()) return;
  ch.operation = std::move(op);
  // Text typed ahead in the same frame belongs to the entry.
  if (cr && cr[1] && !ch.operation->Send(cr + 1)) ch.operation.reset();
}

bool TBBSCmd::StartSend() {
  entry_ = std::make_unique<MsgEntry>(*this);
  return entry_->Start();
}

bool TBBSCmd::Send(const char* line) { return entry_ && entry_->Input(line); }

bool MsgEntry::End(const std::string& reply) {
  ended_ = true;
  op_.terminate = true;
  op_.closefile(op_.infile);
  DropTempFile();
  op_.chan->EndService(reply);
  return false;
}

bool MsgEntry::Start() {
  TChannel& ch = *op_.chan;
  if (!ch.tdb) return End(ch.lang.invalidcommand);
  MsgDB& m = ch.tdb->msgdb;
  m = MsgDB{};
  std::string cn = op_.cn;
  const char type = cn.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(cn[0])));
  CopyField(m.Type, std::string(1, type));
  CopyField(m.Status, "N");
  if (!cn.empty()) cn.erase(0, 1);
  DropLeadingBlanks(cn);
  if (cn.empty() || cn[0] == '\r') return End(ch.lang.invalidparameters);

  // The addressee: its callsign without SSID or digipeater tail.
  const size_t end = cn.find_first_of("@ <$");
  std::string to = cn.substr(0, std::min<size_t>(end, 39));
  cn.erase(0, end == std::string::npos ? cn.size() : end);
  DropLeadingBlanks(cn);
  for (char c : {'-', ',', '!', ':'}) to = to.substr(0, to.find(c));
  to = UpperAscii(to);
  if (to.empty()) return End(ch.lang.invalidparameters);

  // A known addressee is reached at its own hierarchical address and home BBS.
  std::string home;
  Store* store = ch.client().store;
  if (store) {
    std::unique_ptr<TOrnDbase> db = store->OpenDbase();
    if (db->FindUser(to) != 0) {
      const std::string hier = FieldText(db->userdb.HierAddress);
      if (Known(hier)) to = FieldText(db->userdb.Call) + "." + hier;
      home = FieldText(db->userdb.HomeBbs);
    }
    db->CloseAll();
  }
  CopyField(m.ToStation, to);

  while (!cn.empty()) DecodeSend(cn, m);

  if (!m.FromStation[0]) {
    std::string from = ch.UserCallOnly;
    const std::string hier = FieldText(ch.tdb->userdb.HierAddress);
    if (Known(hier)) from += "." + hier;
    CopyField(m.FromStation, from);
  }
  const Config& cfg = ch.client().cfg();
  if (!m.AtBbs[0] && cfg.swapbbs) {
    std::string at = cfg.MyCallOut;
    if (!cfg.MyHier.empty()) at += "." + cfg.MyHier;
    if (Known(home)) at = home;
    CopyField(m.AtBbs, at);
  }

  if (m.Bid[0] && store && store->Bids.WeHaveThebid(m.Bid)) return End(ch.lang.ihavethisbid);
  if (!m.MsgSubject[0]) {
    ch.Service = 2;
    ch.Send(ch.lang.subject);
    return true;
  }
  subjectOnLine_ = true;
  return StartText();
}

bool MsgEntry::StartText() {
  TChannel& ch = *op_.chan;
  char name[32];
  std::snprintf(name, sizeof name, "%d.%d", ch.TncPortNumber, ch.ChannelNumber);
  tempPath_ = ResolveCase(JoinPath(JoinPath(ch.client().cfg().bbspath, "TEMP"), name));
  op_.closefile(op_.infile);
  op_.infile = std::fopen(tempPath_.c_str(), "wb");
  if (!op_.infile) {
    tempPath_.clear();
    return End(kNotStored);
  }
  op_.terminate = false;
  ch.Service = 3;
  DropFinalCr(ch.lang.entertext);
  std::string text = ch.lang.entertext;
  text += ' ';
  text += ch.tdb->msgdb.ToStation;
  text += ch.lang.finishwith;
  if (!subjectOnLine_) text += '\r';
  ch.Send(text);
  return true;
}

bool MsgEntry::Input(const char* piece) {
  if (ended_) return false;
  if (!piece || !*piece) return true;
  if (!op_.chan->tdb) return End(kNotStored);
  pending_ += piece;
  size_t start = 0;
  for (size_t cr; (cr = pending_.find('\r', start)) != std::string::npos; start = cr + 1) {
    if (!Line(pending_.substr(start, cr + 1 - start))) {
      pending_.clear();
      return false;
    }
  }
  pending_.erase(0, start);
  if (pending_.empty()) return true;
  const bool text = op_.chan->Service == 3;
  // Ctrl-Z ends the text even when no CR follows it.
  if (text && pending_.back() == '\x1A') {
    std::string line = pending_ + "\r";
    pending_.clear();
    return Line(line);
  }
  if (pending_.size() >= kMaxPendingLine) {
    std::string line;
    line.swap(pending_);
    if (!text) line += '\r';
    return Line(line);
  }
  return true;
}

bool MsgEntry::Line(std::string line) {
  TChannel& ch = *op_.chan;
  MsgDB& m = ch.tdb->msgdb;
  if (ch.Service == 2) {
    line.pop_back();  // its CR
    CopyField(m.MsgSubject, line);
    subjectOnLine_ = false;
    return StartText();
  }

  const bool ended = CutTextEnd(&line);
  std::vector<char> buf(line.begin(), line.end());
  buf.push_back('\0');
  const Config& cfg = ch.client().cfg();
  FormatTextSave(buf.data(), static_cast<long>(line.size()), cfg.OEMANSI ? &ch.client().codePages() : nullptr);
  const size_t n = std::strlen(buf.data());
  if (n && (!op_.infile || std::fwrite(buf.data(), 1, n, op_.infile) != n)) writeFailed_ = true;
  if (!ended) return true;
  return StoreMessage();
}

bool MsgEntry::StoreMessage() {
  TChannel& ch = *op_.chan;
  MDIClient& client = ch.client();
  const Config& cfg = client.cfg();
  Store* store = client.store;
  TOrnDbase& db = *ch.tdb;
  MsgDB& m = db.msgdb;
  if (op_.infile && std::fflush(op_.infile) != 0) writeFailed_ = true;
  op_.closefile(op_.infile);
  if (!store) return End(kNotStored);
  if (m.Bid[0] && std::strcmp(db.userdb.OkWithBids, "Y") != 0) {
    ch.Send(ch.lang.notallowedbids);
    CopyField(m.Status, "H");
  }
  std::string body;
  if (writeFailed_ || !ReadWholeFile(tempPath_, &body)) return End(kNotStored);
  if (cfg.OEMANSI) client.codePages().OemToAnsiInPlace(m.MsgSubject);
  // The header's tokens may name the message: give it the number it will get.
  m.MsgNo = static_cast<int32_t>(store->counters.lastmsg + 1);
  const std::string head = MsgTextHead(ch.Expand(cfg.FWDMSGHEADER), m);
  MsgOrigin origin{ch.UserCallOnly, {}, 66, std::to_string(ch.client().link().PortShown(ch.TncPortNumber))};
  switch (StoreNewMessage(*store, db, client.clock(), m, head + body, cfg.autobid ? cfg.MyCallOut : "", origin)) {
    case NewMsgResult::kStored:
      return End("Msg# " + std::to_string(m.MsgNo) + ", " + ch.lang.hasbeenstored);
    case NewMsgResult::kKnownBid:
      return End(ch.lang.ihavethisbid);
    case NewMsgResult::kNotStored:
      break;
  }
  return End(kNotStored);
}

void MsgEntry::DropTempFile() {
  if (!tempPath_.empty()) TFileOperations::filedelete(tempPath_);
}

void MsgEntry::Abandon() {
  if (op_.terminate || !op_.chan || op_.chan->Service != 3) return;
  op_.closefile(op_.infile);
  DropTempFile();
}

}  // namespace orn
