// The session object, its states and the turns: SIDs, waiting for whole
// replies, whose turn it is and what a side says when it has nothing.
#include "fwd/fwd_session.h"

#include <algorithm>
#include <cstring>

#include "channel/channel.h"
#include "context/prompts.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/store.h"

namespace orn {

bool FwdBinaryState(int whattodo) {
  // While a received message is expanded the partner may already be sending
  // the next one.
  return whattodo == 'Q' || whattodo == 'R' || whattodo == ']' || whattodo == '^' || whattodo == '_';
}

void SidCommand(TChannel& ch, const char* line) {
  const char* cr = std::strchr(line, '\r');
  const size_t first = cr ? static_cast<size_t>(cr - line) : std::strlen(line);
  const std::string sid(line, first);
  const std::string rest = cr ? std::string(cr + 1) : std::string();
  auto fwd = std::make_unique<TFwd>(&ch);
  ch.Fwd = std::move(fwd);
  // A SID line is short; a long one is no SID.
  if (first >= 79 || !ch.Fwd->StartCalled(sid, rest)) {
    ch.Fwd.reset();
    ch.Service = 0;
    ch.whattodo = 0;
    ch.cmd[0] = '\0';
    ch.Disconnect();
  }
}

const char* TFwd::SidLine() { return kSystemId; }

TFwd::TFwd(TChannel* parent) : Parent(parent) {}

TFwd::~TFwd() {
  StopCoder();
  closefile(infile);
  closefile(outfile);
  closefile(sparefile);
  // The work files hold one message at a time and no later session takes
  // up where this one stopped: however it ended, they go with it. What a B1
  // transfer received is in its partial file (closed above), for the next
  // session to go on from, when it is a partner's and within its bounds.
  for (const char* ext : {".acc", ".aca", ".aam"}) TFileOperations::filedelete(TempFile(ext));
  if (partial_ && !keepPartial_) partial_->Remove();
}

void TFwd::StopCoder() {
  if (coder_) coder_->Stop();
  if (cmphandle.joinable()) cmphandle.join();
  coder_.reset();
}

bool TFwd::ToggleSfwd(const char* s, TChannel* c) { return ParseSid(s ? s : "", &c->sfwd); }

int TFwd::State() const { return Parent->whattodo; }
void TFwd::SetState(int state) { Parent->whattodo = state; }
bool TFwd::WaitForShortCoding(size_t bytes) {
  // A few kilobytes take the coder about a millisecond: waiting for it here
  // costs less than leaving the next step to a later turn.
  constexpr size_t kShortText = 64 * 1024;
  if (bytes > kShortText || !cmphandle.joinable()) return false;
  cmphandle.join();
  return !donotrcvdde.load(std::memory_order_acquire);
}

bool TFwd::Sending() const {
  switch (State()) {
    case fwdstate::kSendProposal:
    case fwdstate::kMakeCompressed:
    case fwdstate::kWaitCompressed:
    case fwdstate::kSendCompressed:
    case fwdstate::kMblSendProposal:
    case fwdstate::kMblSendSubject:
    case fwdstate::kMblSendData:
    case fwdstate::kASendSubject:
    case fwdstate::kASendData:
      return true;
    default:
      return false;
  }
}

void TFwd::Arm() { FTimer = Parent->client().clock().NowMs(); }

void TFwd::Show(const std::string& text) {
  Parent->client().ShowToChannel(*Parent, text.data(), static_cast<int>(text.size()));
}

void TFwd::SendText(const std::string& text) { Parent->SendTx(text.data(), static_cast<int>(text.size()), 2); }

void TFwd::Fail(const std::string& shown) {
  Show(shown);
  // The channel's pane is gone with the next session: the sysop learns why
  // a partner's forwarding failed from the log.
  std::string why = shown;
  while (!why.empty() && (why.back() == '\r' || why.back() == '\n')) why.pop_back();
  Parent->client().log().writelog(669, 0, Parent->UserCallOnly, ShowControls(why, false));
  SetState(fwdstate::kEnding);
  Parent->cmd[0] = Parent->sparecmd[0] = '\0';
  reader_.Reset();
  Parent->Disconnect();
}

std::string TFwd::TempFile(const char* ext) const {
  const std::string name = std::to_string(Parent->TncAbsoluteNumber) + ext;
  return ResolveCase(JoinPath(JoinPath(Parent->client().cfg().bbspath, "TEMP"), name));
}

std::string TFwd::TempDir() const { return ResolveCase(JoinPath(Parent->client().cfg().bbspath, "TEMP")); }

bool TFwd::B1() const { return Parent->sfwd.binaryok && Parent->sfwd.b1ok; }

B1Partial TFwd::Partial(const std::string& bid) const { return B1Partial(TempDir(), Parent->UserCallOnly, bid); }

void TFwd::LogB1() {
  if (Parent->sfwd.fbbok && B1()) Parent->client().log().writelog(65, 0, Parent->UserCallOnly, "FWD B1");
}

void TFwd::SweepPartials() {
  Store* store = Parent->client().store;
  if (!store) return;
  B1Partial::SweepStep(TempDir(), [store](const std::string& bid) { return store->Bids.WeHaveThebid(bid); });
}

bool TFwd::KeepsPartials() const {
  return Parent->tdb && std::strcmp(Parent->tdb->userdb.isFwdStation, "Y") == 0;
}

void TFwd::Start() {
  SweepPartials();
  Parent->Service = 9;
  SetState(fwdstate::kSidDecode);
  Arm();
}

bool TFwd::StartCalled(const std::string& sid, const std::string& rest) {
  if (!ToggleSfwd(sid.c_str(), Parent)) return false;
  SweepPartials();
  LogB1();
  Parent->Service = 9;
  waittoremovefwd = false;
  // Our SID went out at the head of the greeting: the first block does not
  // repeat it.
  firsttime = false;
  Arm();
  if (Parent->sfwd.fbbok) {
    SetState(fwdstate::kDecodeProposal);
  } else {
    SendText(">\r");
    SetState('T');
  }
  // The SID line is used up; proposals sent together with it are the
  // partner's first input. Left in the buffer, the SID would be read as the
  // first offer by the next tick.
  Parent->cmd[0] = '\0';
  if (!rest.empty()) {
    CopyField(Parent->cmd, rest);
    Step();
    Parent->cmd[0] = '\0';
  }
  return true;
}

bool TFwd::putbuf(const char* bytes, size_t n) {
  if (State() == fwdstate::kARcvSubject || State() == fwdstate::kARcvData) {
    // A sender that does not wait for its turn is no partner.
    if (plainIn_.size() - plainPos_ + n <= PacketReader::kMaxHeld) {
      plainIn_.append(bytes, n);
      return true;
    }
  } else if (reader_.Put(bytes, n)) {
    return true;
  }
  Fail("Receive overrun.\r");
  return false;
}

void TFwd::Step() {
  // A session works on the partner's records.
  if (!Parent->tdb) {
    if (State() != fwdstate::kEnding) Fail("No records.\r");
    return;
  }
  if (!FwdBinaryState(Parent->whattodo)) {
    // Over telnet a partner ends its lines in CR LF; the protocol's lines
    // end in CR, and an LF left over would open the next line.
    char* cmd = Parent->cmd;
    *std::remove(cmd, cmd + std::strlen(cmd), '\n') = '\0';
    // The CR that closes a Ctrl-Z end mark may come with the next text.
    if (waitcr && cmd[0]) {
      waitcr = false;
      if (cmd[0] == '\r') {
        std::memmove(cmd, cmd + 1, std::strlen(cmd));
        if (!cmd[0]) return;
      }
    }
  }
  switch (State()) {
    case fwdstate::kSendProposal: SendProposal(); break;
    case fwdstate::kAckWait: AckWait(); break;
    case fwdstate::kSidDecode: SidDecode(); break;
    case fwdstate::kSendCompressed: SendCompressed(); break;
    case fwdstate::kDecodeProposal: DecodeProposal(); break;
    case fwdstate::kMakeCompressed: MakeCompressed(); break;
    case fwdstate::kRcvSubject:
    case fwdstate::kRcvData: ReceivePackets(); break;
    case fwdstate::kEnding: Parent->cmd[0] = '\0'; break;
    case fwdstate::kWaitCompressed: WaitAckCompressed(); break;
    case fwdstate::kDecompressing: ProceedWithFwd(); break;
    case fwdstate::kMblSendProposal: MblSendProposal(); break;
    case fwdstate::kMblDecodeProposal: MblDecodeProposal(); break;
    case fwdstate::kMblRcvSubject: MblRcvSubject(); break;
    case fwdstate::kMblRcvData: MblRcvData(); break;
    case fwdstate::kMblSendData: MblSendData(); break;
    case fwdstate::kMblSendSubject: MblSendSubject(); break;
    case fwdstate::kMblWaitOk: MblWaitOk(); break;
    case fwdstate::kMblAckWait: MblAckWait(); break;
    case fwdstate::kARcvSubject:
    case fwdstate::kARcvData: aReceive(); break;
    case fwdstate::kASendSubject: aSendSubject(); break;
    case fwdstate::kASendData: aSendData(); break;
    default: break;
  }
}

bool TFwd::JoinSpare() {
  const size_t spare = std::strlen(Parent->sparecmd);
  if (!spare) return true;
  const size_t fresh = std::strlen(Parent->cmd);
  if (spare + fresh >= sizeof Parent->cmd) {
    Fail("Reply too long.\r");
    return false;
  }
  std::memmove(Parent->cmd + spare, Parent->cmd, fresh + 1);
  std::memcpy(Parent->cmd, Parent->sparecmd, spare);
  Parent->sparecmd[0] = '\0';
  return true;
}

bool TFwd::WhatToWait(const char* what) {
  char* cmd = Parent->cmd;
  if (!cmd[0]) return false;
  if (!JoinSpare()) return false;
  const size_t len = std::strlen(cmd), plen = std::strlen(what);
  bool match = len >= plen;
  for (size_t i = 0; match && i < plen; ++i) {
    const char want = what[plen - 1 - i];
    if (want != '?' && want != cmd[len - 1 - i]) match = false;
  }
  if (match && len == 1) {
    Fail("Step4.\r");
    return false;
  }
  if (match && len <= plen) {
    Fail("StepJ.\r");
    return false;
  }
  if (match) return true;
  // Not yet whole: kept until the rest arrives.
  if (len >= sizeof Parent->sparecmd) {
    Fail("Reply too long.\r");
    return false;
  }
  std::memcpy(Parent->sparecmd, cmd, len + 1);
  cmd[0] = '\0';
  return false;
}

void TFwd::SidDecode() {
  if (!WhatToWait(">\r")) return;
  char* cmd = Parent->cmd;
  char* open = std::strchr(cmd, '[');
  if (!open) {
    Fail("Error Sid.\r");
    return;
  }
  std::memmove(cmd, open, std::strlen(open) + 1);
  const char* cr = std::strchr(cmd, '\r');
  const std::string sid(cmd, cr ? static_cast<size_t>(cr - cmd) : std::strlen(cmd));
  if (!ToggleSfwd(sid.c_str(), Parent)) {
    Fail("Error Sid.\r");
    return;
  }
  cmd[0] = '\0';
  LogB1();
  if (Parent->sfwd.fbbok) {
    DecideWhatToDo();
  } else {
    MblSendSid();
  }
}

bool TFwd::ReceiveOnly() {
  const UserDB& u = Parent->tdb->userdb;
  if (u.FwdKind == 'F') return true;
  if (u.FwdKind != 'C') return false;
  const int i = Parent->hconindex;
  if (i < 0 || i >= kHowtoconnectCount) return false;
  return u.Hcon[i].fwdkind[0] == 'R';
}

bool TFwd::HasMsgsToFwd() { return !ReceiveOnly() && FormatProposal(true) > 0; }

void TFwd::DecideWhatToDo() {
  Arm();
  if (HasMsgsToFwd()) {
    SetState(fwdstate::kSendProposal);
    proposalno = -1;
    SendProposal();
    return;
  }
  std::string s = firsttime ? std::string(SidLine()) + "\r" : std::string();
  firsttime = false;
  SendText(s + "FF\r");
  SetState(fwdstate::kDecodeProposal);
}

bool TFwd::ReloadPartner() {
  TOrnDbase& db = *Parent->tdb;
  UserDB u{};
  UserDBidx idx{};
  if (!db.ReadFromFile(db.upos, u, idx)) return false;
  if (std::strcmp(u.Call, db.userdb.Call) != 0) return false;
  db.userdb = u;
  db.useridx = idx;
  return true;
}

bool TFwd::WritePartner() {
  TOrnDbase& db = *Parent->tdb;
  return db.WriteToFile(db.upos, db.userdb);
}

}  // namespace orn
