// The partner's turn: its proposal block and our answer, the compressed
// messages it sends, and storing each one that arrived whole.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "channel/channel.h"
#include "fwd/fwd_session.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/date_time.h"
#include "store/msg_text.h"
#include "store/store.h"

namespace orn {
namespace {

// The most compressed bytes one message may bring: the coder's own limit.
constexpr size_t kMaxReceived = lzhuf::kHeaderSize + size_t{3} * lzhuf::kMaxTextLength;
// How often the rest of a broken transfer is asked for before the message is
// asked for whole again.
constexpr int kMaxResumes = 2;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t cr = text.find('\r', at);
    if (cr == std::string::npos) cr = text.size();
    if (cr > at) lines.push_back(text.substr(at, cr - at));
    at = cr + 1;
  }
  return lines;
}

// A line that may stand in a proposal block.
bool BlockLine(const std::string& line) {
  return line.size() >= 2 && line[0] == 'F' && (line[1] == 'B' || line[1] == 'A' || line[1] == '>');
}

// A received text in the store's form: every line end, CR LF or a lone CR,
// becomes LF.
std::string StoredLines(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r') {
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      out += '\n';
    } else {
      out += raw[i];
    }
  }
  return out;
}

}  // namespace

void TFwd::DecodeProposal() {
  char* cmd = Parent->cmd;
  if (!cmd[0]) return;
  // A partner that found fault with what we sent says so in a line of
  // "***" (a checksum, a changed file) instead of going on: what we sent
  // has not arrived and stays queued.
  if (waittoremovefwd && cmd[0] == '*' && !Parent->sparecmd[0]) {
    waittoremovefwd = false;
    Fail("Partner: " + std::string(cmd, std::strcspn(cmd, "\r")) + "\r");
    return;
  }
  if (waittoremovefwd) {
    waittoremovefwd = false;
    RemoveFwd();
    proposallen = 0;
  }
  if (!JoinSpare()) return;
  std::string text = cmd;
  // A partner may open its turn with the SID it announced before.
  if (text[0] == '[') {
    const size_t cr = text.find('\r');
    if (cr == std::string::npos) {
      CopyField(Parent->sparecmd, text);
      cmd[0] = '\0';
      return;
    }
    text.erase(0, cr + 1);
    CopyField(Parent->cmd, text);
    if (text.empty()) return;
  }
  if (text == "FF\r") {
    cmd[0] = '\0';
    if (ReceiveOnly() || !HasMsgsToFwd()) {
      // Whoever says FQ hangs up: the partner waits for the link to drop
      // before it counts the exchange done (the disconnect goes after the FQ).
      SendText("FQ\r");
      Show("Fwd Finished..");
      SetState(fwdstate::kEnding);
      Parent->Disconnect();
      return;
    }
    SetState(fwdstate::kSendProposal);
    proposalno = -1;
    SendProposal();
    return;
  }
  if (text == "FQ\r") {
    Show("Fwd Finished..");
    SetState(fwdstate::kEnding);
    cmd[0] = '\0';
    Parent->Disconnect();
    return;
  }
  // Whole lines so far must belong to a block; a block has at most five
  // proposals and its checksum line.
  const std::vector<std::string> lines = Lines(text.substr(0, text.rfind('\r') + 1));
  if (lines.size() > kMaxProposals + 1) {
    Fail("Proposal len >5.\r");
    return;
  }
  for (const std::string& line : lines) {
    if (!BlockLine(line)) {
      Fail("T[0] <> F.\r");
      return;
    }
  }
  if (!WhatToWait("F> ??\r")) return;
  DispatchFields(Parent->cmd);
}

void TFwd::DispatchFields(const std::string& s) {
  Parent->cmd[0] = '\0';
  std::vector<std::string> lines = Lines(s);
  if (!lines.empty() && lines[0][0] == '[') lines.erase(lines.begin());
  if (lines.size() > kMaxProposals + 1) {
    Fail("Proposal len >5.\r");
    return;
  }
  if (lines.size() < 2) {
    Fail("Proposal len 0.\r");
    return;
  }
  const int sum = ParseChecksumLine(lines.back());
  lines.pop_back();
  std::string block;
  for (const std::string& line : lines) {
    if (line[0] != 'F' || line[1] == '>') {
      Fail("T[0] <> F.\r");
      return;
    }
    block += line + "\r";
  }
  if (sum < 0 || ProposalChecksum(block) != DtoHex(sum, 2)) {
    Fail("Proposal checksum.\r");
    return;
  }
  Store* store = Parent->client().store;
  if (!store || !Parent->tdb) {
    Fail("No message store.\r");
    return;
  }
  proposallen = static_cast<int>(lines.size());
  proposalno = 0;
  std::string answer = "FS ";
  bool any = false;
  for (int i = 0; i < kMaxProposals; ++i) fwdproposal[i] = FwdProposal{};
  for (int i = 0; i < proposallen; ++i) {
    FwdProposal& p = fwdproposal[i];
    p.proposal = lines[static_cast<size_t>(i)] + "\r";
    ProposalFields f;
    bool ok = ParseProposalLine(p.proposal, &f) && !store->Bids.WeHaveThebid(f.bid);
    // The same bulletin twice in one block is taken once.
    for (int j = 0; ok && j < i; ++j)
      if (fwdproposal[j].flag == '+' && fwdproposal[j].bid == f.bid) ok = false;
    p.bid = f.bid;
    p.flag = ok ? '+' : '-';
    any |= ok;
    if (ok && B1()) {
      // What a broken transfer left of it: the partner goes on from there.
      B1Partial part = Partial(f.bid);
      int asked = 0;
      const size_t held = KeepsPartials() ? part.Held(f.size, &asked) : 0;
      // Nothing is left to ask for of a partial as long as the whole text
      // (a compressed stream is shorter but for the smallest messages),
      // and one whose rest has twice not arrived is likely wrong itself
      // (bytes lost on the way): the partner would answer with an empty
      // block at every call. Both are asked for whole.
      if (held > kB1Head && held < static_cast<size_t>(std::max(f.size, 0L)) && asked < kMaxResumes &&
          part.NoteAsked()) {
        p.resume = static_cast<long>(held);
        Parent->client().log().writelog(65, p.resume, Parent->UserCallOnly, "FWD Resume " + f.bid);
        answer += '!';
        answer += std::to_string(held);
        continue;
      }
      part.Remove();
    }
    answer += p.flag;
  }
  SendText(answer + "\r");
  reader_.Reset();
  nocontin = false;
  if (!any) {
    DecideWhatToDo();
    return;
  }
  plainIn_.clear();
  plainPos_ = 0;
  waitsbj = true;
  SetState(Parent->sfwd.binaryok ? fwdstate::kRcvSubject : fwdstate::kARcvSubject);
  Arm();
}

void TFwd::ReceivePackets() {
  Parent->cmd[0] = '\0';
  if (inReceive_) return;
  inReceive_ = true;
  while (State() == fwdstate::kRcvSubject || State() == fwdstate::kRcvData) {
    const PacketReader::Kind kind = reader_.Next();
    if (kind == PacketReader::Kind::kNone) break;
    if (State() == fwdstate::kRcvSubject) {
      if (kind == PacketReader::Kind::kHeader) RcvHdr();
    } else if (kind == PacketReader::Kind::kData) {
      RcvData();
    } else if (kind == PacketReader::Kind::kEnd) {
      RcvEnd();
    }
  }
  inReceive_ = false;
}

void TFwd::RcvHdr() {
  if (proposalno < 0) proposalno = 0;
  while (proposalno < proposallen && fwdproposal[proposalno].flag != '+') ++proposalno;
  if (proposalno >= proposallen) {
    nocontin = false;
    DecideWhatToDo();
    return;
  }
  const std::string& h = reader_.data();
  FwdProposal& p = fwdproposal[proposalno];
  const long offset = HeaderOffset(h);
  // Without B1 we never ask to resume: a header that starts past the
  // beginning would give us the end of a message only. The link goes and the
  // message stays with the partner, to come whole another time.
  if (offset < 0 || (offset > 0 && !B1())) {
    Fail("Resume not offered.\r");
    return;
  }
  const size_t nul = h.find('\0');
  std::string title = h.substr(0, std::min<size_t>(nul, kProposalWidth - 1));
  MDIClient& client = Parent->client();
  if (client.cfg().OEMANSI) title = client.codePages().OemToAnsi(title);
  p.subject = title;
  checksum = 0;
  receivedBytes_ = static_cast<size_t>(offset);
  closefile(infile);
  restartHead_ = false;
  partial_.reset();
  if (B1()) {
    ProposalFields f;
    ParseProposalLine(p.proposal, &f);
    partial_ = std::make_unique<B1Partial>(Partial(p.bid));
    partialLimit_ = B1Partial::MaxHeld(f.size);
    // A resume is offered to partners only, with room made when it began.
    keepPartial_ = KeepsPartials();
    if (offset > 0) {
      // Only from where we hold it: anything else would join pieces of two
      // different streams.
      if (offset != p.resume || partial_->Held(f.size) != static_cast<size_t>(offset)) {
        DropPartial("Resume offset " + std::to_string(offset) + " not held.\r");
        return;
      }
      restartHead_ = true;
    } else if (!partial_->Begin(f.size)) {
      Fail("Can't create " + partial_->path() + ".\r");
      return;
    } else if (keepPartial_) {
      keepPartial_ = partial_->MakeRoom(partialLimit_);
    }
    cfile = partial_->path();
    infile = std::fopen(cfile.c_str(), "ab");
  } else {
    cfile = TempFile(".acc");
    infile = std::fopen(cfile.c_str(), "wb");
  }
  if (!infile) {
    Fail("Can't create " + cfile + ".\r");
    return;
  }
  terminate = false;
  ipos = 1;
  SetState(fwdstate::kRcvData);
}

void TFwd::DropPartial(const std::string& shown) {
  closefile(infile);
  if (partial_) partial_->Remove();
  partial_.reset();
  Fail(shown);
}

void TFwd::SniffB1() {
  unB1_.clear();
  std::string stream;
  if (B1() || !Parent->sfwd.binaryok || !ReadWholeFile(cfile, &stream) || !B1StreamOk(stream)) return;
  if (LzhufTextLength(stream.substr(2)) > lzhuf::kMaxTextLength) return;
  if (WriteFileReplacing(cfile, stream.substr(2))) unB1_ = std::move(stream);
}

bool TFwd::TakeB1Stream() {
  std::string stream;
  const bool read = partial_->Read(&stream);
  if (!read || !B1StreamOk(stream)) {
    Parent->client().log().writelog(65, 0, Parent->UserCallOnly,
                                    "FWD Rcv " + fwdproposal[proposalno].bid + " not stored: CRC error");
    SendText("\rChecksum..\r");
    DropPartial(read ? "CRC error.\r" : "Can't read " + partial_->path() + ".\r");
    return false;
  }
  // The whole stream is checked; the expander takes it without its CRC.
  cfile = TempFile(".acc");
  if (!WriteFileReplacing(cfile, stream.substr(2))) {
    Fail("Can't write " + cfile + ".\r");
    return false;
  }
  partial_->Remove();
  partial_.reset();
  return true;
}

void TFwd::RcvData() {
  const std::string& d = reader_.data();
  for (unsigned char c : d) checksum += c;
  std::string rest;
  if (restartHead_) {
    // A resumed transfer repeats the stream's CRC and length word first: the
    // same as we hold, or the message has changed since. They come in a
    // packet of their own; a sender that goes on in the same packet is
    // understood too.
    restartHead_ = false;
    std::string held;
    if (d.size() < kB1Head || !partial_->Read(&held) || held.compare(0, kB1Head, d, 0, kB1Head) != 0) {
      DropPartial("Resumed message changed.\r");
      return;
    }
    rest = d.substr(kB1Head);
    if (rest.empty()) return;
  }
  const std::string& bytes = rest.empty() ? d : rest;
  receivedBytes_ += bytes.size();
  // More than any coding of the proposed message: not that message.
  if (partial_ && receivedBytes_ > partialLimit_) {
    DropPartial("Message too long.\r");
    return;
  }
  if (receivedBytes_ > kMaxReceived + (partial_ ? 2 : 0)) {
    if (partial_) {
      DropPartial("Message too long.\r");
      return;
    }
    closefile(infile);
    Fail("Message too long.\r");
    return;
  }
  // A partial message must hold what arrived even when the link goes next.
  if (!infile || std::fwrite(bytes.data(), 1, bytes.size(), infile) != bytes.size() ||
      (partial_ && std::fflush(infile) != 0)) {
    closefile(infile);
    Fail("Can't write " + cfile + ".\r");
  }
}

void TFwd::RcvEnd() {
  terminate = true;
  if (restartHead_ || !CheckSumOk(checksum, reader_.checksum())) {
    SendText("\rChecksum..\r");
    // What we hold may be as wrong as the checksum: the next time whole.
    if (partial_) {
      DropPartial("Checksum error.\r");
      return;
    }
    closefile(infile);
    Fail("Checksum error.\r");
    return;
  }
  checksum = 0;
  const bool written = infile && std::fflush(infile) == 0;
  closefile(infile);
  if (!written) {
    Fail("Can't write " + cfile + ".\r");
    return;
  }
  if (partial_ && !TakeB1Stream()) return;
  if (!partial_) SniffB1();
  ProceedWithFwd();
}

void TFwd::ProceedWithFwd() {
  if (State() == fwdstate::kDecompressing) {
    if (donotrcvdde.load(std::memory_order_acquire)) return;
    const bool done = CoderDone();
    if (!done && !unB1_.empty()) {
      // Taken for B1 by its CRC, but it expands only as B0: the match was
      // chance.
      const std::string stream = std::move(unB1_);
      unB1_.clear();
      if (WriteFileReplacing(cfile, stream)) {
        SetState(fwdstate::kRcvData);
        ProceedWithFwd();
        return;
      }
    }
    unB1_.clear();
    if (!done) {
      // A damaged message (its length and its code disagree) is not stored
      // in part: the link goes, and the message stays with the partner.
      const std::string why = coderError_.substr(coderError_.rfind(": ") == std::string::npos ? 0 : coderError_.rfind(": ") + 2);
      Parent->client().log().writelog(65, 0, Parent->UserCallOnly,
                                      "FWD Rcv " + fwdproposal[proposalno].bid + " not stored: " + why);
      Fail("Decompress failure.\r");
      return;
    }
    StoreReceived();
    return;
  }
  nocontin = false;
  terminate = true;
  Store* store = Parent->client().store;
  if (!store || store->Bids.WeHaveThebid(fwdproposal[proposalno].bid)) {
    NextReceived();
    return;
  }
  const std::string work = TempFile(".aca");
  TFileOperations::filedelete(work);
  if (!Compress('O', cfile, work)) {
    Fail("Decompress failure.\r");
    return;
  }
  SetState(fwdstate::kDecompressing);
  Arm();
  struct stat st;
  if (::stat(cfile.c_str(), &st) == 0 && WaitForShortCoding(static_cast<size_t>(st.st_size) * 2)) ProceedWithFwd();
}

void TFwd::StoreReceived() {
  const FwdProposal& e = fwdproposal[proposalno];
  ProposalFields f;
  if (!ParseProposalLine(e.proposal, &f)) {
    NextReceived();
    return;
  }
  std::string raw;
  if (!ReadWholeFile(TempFile(".aca"), &raw)) {
    Fail("Decompress failure.\r");
    return;
  }
  if (StoreReceived(f, raw)) NextReceived();
}

bool TFwd::StoreReceived(const ProposalFields& f, const std::string& raw) {
  MDIClient& client = Parent->client();
  const Config& cfg = client.cfg();
  Store* store = client.store;
  TOrnDbase& db = *Parent->tdb;
  const FwdProposal& e = fwdproposal[proposalno];
  // The message may have come in meanwhile by another path.
  if (!store || (!e.bid.empty() && store->Bids.WeHaveThebid(e.bid))) return true;
  std::string body = StoredLines(raw);
  if (cfg.OEMANSI) body = client.codePages().OemToAnsi(body);
  const std::string text = Parent->Expand(cfg.FWDMSGHEADER) + "\n" + body;

  MsgDB m;
  db.DBdefaults(&m, store->counters.lastmsg + 1);
  CopyField(m.Type, std::string(1, f.type));
  CopyField(m.Status, "N");
  CopyField(m.Bid, e.bid);
  CopyField(m.MsgSubject, e.subject);
  CopyField(m.FromStation, f.from);
  CopyField(m.AtBbs, f.at);
  CopyField(m.ToStation, f.to);
  const UserDB& partner = db.userdb;
  if (std::strcmp(partner.isFwdStation, "Y") != 0 || (m.Bid[0] && std::strcmp(partner.OkWithBids, "Y") != 0))
    CopyField(m.Status, "H");

  // The BBSes the message has passed, from its routing lines at the top.
  for (std::string& a : already) a.clear();
  int n = 0;
  for (size_t at = 0; at < text.size() && n < kMaxAlready;) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (!ReturnBbsinLine(text.substr(at, end - at), &already[n])) break;
    ++n;
    at = end + 1;
  }

  const MsgOrigin origin{Parent->UserCallOnly, {std::begin(already), std::end(already)}, 668,
                         "Port=" + std::to_string(Parent->client().link().PortShown(Parent->TncPortNumber)) + "."};
  if (StoreNewMessage(*store, db, client.clock(), m, text, "", origin) == NewMsgResult::kNotStored) {
    Fail("Msg not stored.\r");
    return false;
  }
  return true;
}

void TFwd::NextReceived() {
  ++proposalno;
  while (proposalno < proposallen && fwdproposal[proposalno].flag != '+') ++proposalno;
  if (proposalno >= proposallen) {
    Parent->cmd[0] = '\0';
    nocontin = false;
    DecideWhatToDo();
    return;
  }
  SetState(fwdstate::kRcvSubject);
  ReceivePackets();
}

}  // namespace orn
