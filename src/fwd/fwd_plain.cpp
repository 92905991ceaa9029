// Messages as plain text: the MBL dialogue with partners that announce no
// "F" (one "S" offer at a time, "OK" or "NO", title, text, end mark, prompt;
// "F>" passes the turn, "Done" ends), and the title and text that stand for
// the compressed packets in an FBB exchange with partners that announce "F"
// without "B".
//
// A text ends with a Ctrl-Z (what stands before it on its line is kept; the
// CR after it is not text) or with a line that ends in "/EX"; the end mark is
// never stored. Received lines may end in CR, CR LF or LF.
#include <cstring>

#include "channel/channel.h"
#include "fwd/fwd_session.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/msg_text.h"
#include "store/store.h"

namespace orn {
namespace {

constexpr char kCtrlZ = 0x1a;
// Text bytes sent per run: the link's queue paces the rest.
constexpr size_t kPlainPiece = 2048;
// The longest text taken from a partner; beyond it the partner is not
// sending a message.
constexpr size_t kMaxPlainText = 4u * 1024 * 1024;

}  // namespace

// ---------------------------------------------------------------- received text

void TFwd::ResetText() {
  rcvText_.clear();
  rcvLine_.clear();
  lastCr_ = false;
}

bool TFwd::TextByte(char c) {
  if (c == '\n' && lastCr_) {
    lastCr_ = false;
    return false;
  }
  lastCr_ = c == '\r';
  if (c == kCtrlZ) {
    if (!rcvLine_.empty()) rcvText_ += rcvLine_ + "\n";
    rcvLine_.clear();
    waitcr = true;
    return true;
  }
  if (c != '\r' && c != '\n') {
    rcvLine_ += c;
    return false;
  }
  std::string kept;
  if (EndMarkLine(rcvLine_, &kept)) {
    if (!kept.empty()) rcvText_ += kept + "\n";
    rcvLine_.clear();
    return true;
  }
  rcvText_ += rcvLine_ + "\n";
  rcvLine_.clear();
  return false;
}

bool TFwd::TakeLine(std::string* line) {
  char* cmd = Parent->cmd;
  if (!cmd[0]) return false;
  if (!JoinSpare()) return false;
  char* cr = std::strchr(cmd, '\r');
  if (!cr) {
    // Not yet whole: kept until the rest arrives.
    const size_t len = std::strlen(cmd);
    if (len >= sizeof Parent->sparecmd) {
      Fail("Reply too long.\r");
      return false;
    }
    std::memcpy(Parent->sparecmd, cmd, len + 1);
    cmd[0] = '\0';
    return false;
  }
  line->assign(cmd, static_cast<size_t>(cr - cmd));
  std::memmove(cmd, cr + 1, std::strlen(cr + 1) + 1);
  return true;
}

// ---------------------------------------------------------------- sent text

bool TFwd::LoadPlainText() {
  MDIClient& client = Parent->client();
  Store* store = client.store;
  std::string disk;
  if (!store || !ReadWholeFile(MsgFileName(store->site().mailDir, fwdproposal[proposalno].msgno), &disk))
    return false;
  std::string text = FromDiskLines(disk);
  if (client.cfg().OEMANSI) text = client.codePages().AnsiToOem(text);
  // Lines end in CR on the air. A Ctrl-Z inside would end the text early at
  // the partner, and the end mark stands on a line of its own.
  sendData_.clear();
  sendData_.reserve(text.size() + 1);
  for (char c : text) {
    if (c == kCtrlZ) continue;
    sendData_ += c == '\n' ? '\r' : c;
  }
  if (!sendData_.empty() && sendData_.back() != '\r') sendData_ += '\r';
  opos = 1;
  return true;
}

bool TFwd::SendPlainPiece() {
  const size_t from = static_cast<size_t>(opos - 1);
  std::string out = from < sendData_.size() ? sendData_.substr(from, kPlainPiece) : std::string();
  opos += static_cast<long>(out.size());
  const bool done = out.size() < kPlainPiece;
  if (done) {
    out += std::string(1, kCtrlZ) + "\r";
    sendData_.clear();
    terminate = true;
  }
  SendText(out);
  return done;
}

// ---------------------------------------------------------------- MBL, our turn

void TFwd::MblSendSid() {
  SendText(std::string(SidLine()) + "\r");
  firsttime = false;
  SetState(fwdstate::kMblWaitOk);
  Arm();
}

void TFwd::MblWaitOk() {
  // The partner's prompt: any line ending in ">", a bare ">" too.
  std::string line, t;
  for (;;) {
    if (!TakeLine(&line)) return;
    t = Trim(line);
    if (!t.empty() && t.back() == '>') break;
  }
  Parent->cmd[0] = '\0';
  if (waittoremovefwd) {
    waittoremovefwd = false;
    MblRemoveFwd();
  }
  // Some partners prompt with "F>" after a message: they have nothing for
  // us, and with nothing more of ours the exchange is done.
  if (t == "F>" && (ReceiveOnly() || !HasMsgsToFwd())) {
    SendText("Done\r");
    Show("Fwd Finished..");
    SetState(fwdstate::kEnding);
    Parent->Disconnect();
    return;
  }
  MblDecideWhatToDo();
}

void TFwd::MblDecideWhatToDo() {
  Arm();
  if (HasMsgsToFwd()) {
    SetState(fwdstate::kMblSendProposal);
    MblSendProposal();
    return;
  }
  SendText("F>\r");
  SetState(fwdstate::kMblDecodeProposal);
}

void TFwd::MblSendProposal() {
  Arm();
  // One message at a time; a queued one that is gone has left the queue.
  if (ReceiveOnly() || FormatProposal(false, 1) <= 0) {
    SendText("F>\r");
    SetState(fwdstate::kMblDecodeProposal);
    return;
  }
  proposallen = 1;
  proposalno = 0;
  SendText(fwdproposal[0].proposal);
  SetState(fwdstate::kMblAckWait);
}

void TFwd::MblAckWait() {
  std::string line;
  if (!TakeLine(&line)) return;
  const std::string answer = UpperAscii(Trim(line));
  if (!answer.empty() && answer[0] == 'N') {
    // The partner has it: it leaves the queue as delivered.
    fwdproposal[0].flag = '-';
    MblRemoveFwd();
    SetState(fwdstate::kMblWaitOk);
    if (Parent->cmd[0]) MblWaitOk();
    return;
  }
  if (answer.rfind("OK", 0) != 0) {
    Fail("Answer <> OK/NO.\r");
    return;
  }
  fwdproposal[0].flag = '+';
  Parent->cmd[0] = '\0';
  SetState(fwdstate::kMblSendSubject);
  MblSendSubject();
}

void TFwd::MblSendSubject() {
  MDIClient& client = Parent->client();
  std::string title = fwdproposal[0].subject;
  if (client.cfg().OEMANSI) title = client.codePages().AnsiToOem(title);
  if (!LoadPlainText()) {
    Fail("No user id..");
    return;
  }
  SendText(title + "\r");
  terminate = false;
  waittoremovefwd = true;
  SetState(fwdstate::kMblSendData);
  Arm();
  MblSendData();
}

void TFwd::MblSendData() {
  Arm();
  // The partner's prompt confirms; the message leaves the queue then.
  if (SendPlainPiece()) SetState(fwdstate::kMblWaitOk);
}

void TFwd::MblRemoveFwd() {
  proposallen = 1;
  RemoveFwd();
}

// ---------------------------------------------------------------- MBL, the partner's turn

void TFwd::MblDecodeProposal() {
  std::string line;
  // Blank lines carry nothing.
  do {
    if (!TakeLine(&line)) return;
  } while (Trim(line).empty());
  const std::string t = Trim(line);
  if (t == "F>") {
    Parent->cmd[0] = '\0';
    if (!ReceiveOnly() && HasMsgsToFwd()) {
      SetState(fwdstate::kMblSendProposal);
      MblSendProposal();
      return;
    }
    // Whoever says Done hangs up.
    SendText("Done\r");
    Show("Fwd Finished..");
    SetState(fwdstate::kEnding);
    Parent->Disconnect();
    return;
  }
  if (EqualNoCase(t, "Done")) {
    Show("Fwd Finished..");
    SetState(fwdstate::kEnding);
    Parent->cmd[0] = '\0';
    Parent->Disconnect();
    return;
  }
  if (line[0] != 'S') {
    Fail("Error start..");
    return;
  }
  MblDispatchFields(line);
}

void TFwd::MblDispatchFields(const std::string& line) {
  Store* store = Parent->client().store;
  if (!store) {
    Fail("No message store.\r");
    return;
  }
  for (FwdProposal& p : fwdproposal) p = FwdProposal{};
  proposallen = 1;
  proposalno = 0;
  FwdProposal& e = fwdproposal[0];
  e.proposal = line + "\r";
  ProposalFields f;
  if (!ParseMblOffer(line, &f)) {
    SendText("NO - Protocol header error.\r>\r");
    return;
  }
  e.bid = f.bid;
  if (!f.bid.empty() && store->Bids.WeHaveThebid(f.bid)) {
    SendText("NO - Bid\r>\r");
    return;
  }
  e.flag = '+';
  SendText("OK\r");
  reader_.Reset();
  nocontin = false;
  SetState(fwdstate::kMblRcvSubject);
  if (Parent->cmd[0]) MblRcvSubject();
}

void TFwd::MblRcvSubject() {
  std::string line;
  if (!TakeLine(&line)) return;
  MDIClient& client = Parent->client();
  std::string title = Trim(line);
  if (client.cfg().OEMANSI) title = client.codePages().OemToAnsi(title);
  fwdproposal[0].subject = Cut(title, kProposalWidth - 1);
  ResetText();
  waitcr = false;
  SetState(fwdstate::kMblRcvData);
  if (Parent->cmd[0]) MblRcvData();
}

void TFwd::MblRcvData() {
  char* cmd = Parent->cmd;
  const size_t len = std::strlen(cmd);
  for (size_t i = 0; i < len; ++i) {
    if (!TextByte(cmd[i])) continue;
    // The CR after a Ctrl-Z belongs to the end mark.
    if (waitcr && i + 1 < len && cmd[i + 1] == '\r') {
      waitcr = false;
      ++i;
    }
    std::memmove(cmd, cmd + i + 1, len - i);
    MblProceedWithFwd();
    return;
  }
  cmd[0] = '\0';
  if (rcvText_.size() + rcvLine_.size() > kMaxPlainText) Fail("Message too long.\r");
}

void TFwd::MblProceedWithFwd() {
  ProposalFields f;
  const std::string text = rcvText_;
  ResetText();
  if (ParseMblOffer(fwdproposal[0].proposal, &f) && !StoreReceived(f, text)) return;
  waitsbj = true;
  SendText(">\r");
  SetState(fwdstate::kMblDecodeProposal);
  if (Parent->cmd[0]) MblDecodeProposal();
}

// ---------------------------------------------------------------- FBB plain text, sending

void TFwd::aSendSubject() {
  Arm();
  ++proposalno;
  if (proposalno >= proposallen) {
    proposalno = -1;
    checksum = 0;
    SetState(fwdstate::kDecodeProposal);
    waittoremovefwd = true;
    Parent->cmd[0] = '\0';
    return;
  }
  waittoremovefwd = false;
  const FwdProposal& p = fwdproposal[proposalno];
  if (p.flag != '+') return;
  MDIClient& client = Parent->client();
  std::string title = p.subject;
  if (client.cfg().OEMANSI) title = client.codePages().AnsiToOem(title);
  if (!LoadPlainText()) {
    Fail("No user id..");
    return;
  }
  SendText(title + "\r");
  terminate = false;
  SetState(fwdstate::kASendData);
  aSendData();
}

void TFwd::aSendData() {
  Arm();
  if (SendPlainPiece()) SetState(fwdstate::kASendSubject);
}

// ---------------------------------------------------------------- FBB plain text, receiving

void TFwd::aReceive() {
  Parent->cmd[0] = '\0';
  if (inReceive_) return;
  inReceive_ = true;
  for (;;) {
    const int before = State();
    const size_t at = plainPos_;
    if (before == fwdstate::kARcvSubject) {
      aRcvSubject();
    } else if (before == fwdstate::kARcvData) {
      aRcvData();
    } else {
      break;
    }
    if (State() == before && plainPos_ == at) break;
  }
  if (plainPos_ >= plainIn_.size()) {
    plainIn_.clear();
    plainPos_ = 0;
  }
  inReceive_ = false;
}

void TFwd::aRcvSubject() {
  if (waitsbj) {
    waitsbj = false;
    if (proposalno < 0) proposalno = 0;
    while (proposalno < proposallen && fwdproposal[proposalno].flag != '+') ++proposalno;
    if (proposalno >= proposallen) {
      nocontin = false;
      plainIn_.clear();
      plainPos_ = 0;
      DecideWhatToDo();
      return;
    }
    asciifbbstr.clear();
  }
  while (plainPos_ < plainIn_.size()) {
    const char c = plainIn_[plainPos_++];
    // What is left of the previous text's end mark.
    if (waitcr && c == '\r') {
      waitcr = false;
      lastCr_ = true;
      continue;
    }
    waitcr = false;
    if (c == '\n' && lastCr_) {
      lastCr_ = false;
      continue;
    }
    lastCr_ = c == '\r';
    if (c != '\r' && c != '\n') {
      if (asciifbbstr.size() < kProposalWidth - 1) asciifbbstr += c;
      continue;
    }
    MDIClient& client = Parent->client();
    std::string title = Trim(asciifbbstr);
    if (client.cfg().OEMANSI) title = client.codePages().OemToAnsi(title);
    fwdproposal[proposalno].subject = title;
    asciifbbstr.clear();
    const bool cr = lastCr_;
    ResetText();
    lastCr_ = cr;
    terminate = false;
    SetState(fwdstate::kARcvData);
    return;
  }
}

void TFwd::aRcvData() {
  while (plainPos_ < plainIn_.size()) {
    if (!TextByte(plainIn_[plainPos_++])) continue;
    if (waitcr && plainPos_ < plainIn_.size() && plainIn_[plainPos_] == '\r') {
      waitcr = false;
      lastCr_ = true;
      ++plainPos_;
    }
    terminate = true;
    const std::string text = rcvText_;
    rcvText_.clear();
    ProposalFields f;
    if (ParseProposalLine(fwdproposal[proposalno].proposal, &f) && !StoreReceived(f, text)) return;
    waitsbj = true;
    ++proposalno;
    SetState(fwdstate::kARcvSubject);
    return;
  }
  if (rcvText_.size() + rcvLine_.size() > kMaxPlainText) Fail("Message too long.\r");
}

}  // namespace orn
