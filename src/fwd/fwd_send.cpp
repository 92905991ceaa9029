// Our turn: choosing queued messages, the proposal block, the partner's
// answer, the compressed sending of what it accepted and, once it speaks
// again, the removal of the delivered messages from its queue.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "channel/channel.h"
#include "fwd/fwd_rules.h"
#include "fwd/fwd_session.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/date_time.h"
#include "store/msg_text.h"
#include "store/new_message.h"
#include "store/store.h"

namespace orn {

void TFwd::SendProposal() {
  std::string s;
  if (firsttime) {
    s = std::string(SidLine()) + "\r";
    firsttime = false;
  }
  Arm();
  const int n = ReceiveOnly() ? -1 : FormatProposal(false);
  if (n <= 0) {
    proposallen = 0;
    SendText(s + "FF\r");
    SetState(fwdstate::kDecodeProposal);
    return;
  }
  proposallen = n;
  std::string lines;
  for (int i = 0; i < n; ++i) lines += fwdproposal[i].proposal;
  proposalno = -1;
  SendText(s + lines + "F> " + ProposalChecksum(lines) + "\r");
  SetState(fwdstate::kAckWait);
}

int TFwd::FormatProposal(bool dryRun, int most) {
  if (!dryRun)
    for (FwdProposal& p : fwdproposal) p = FwdProposal{};
  TOrnDbase& db = *Parent->tdb;
  const Howtoconnect& entry = db.userdb.Hcon[Parent->hconindex >= 0 && Parent->hconindex < kHowtoconnectCount
                                                  ? Parent->hconindex
                                                  : 0];
  const long today = DayCount(FormatMsgDateTime(Parent->client().clock()));
  int n = 0;
  auto take = [&](int slot) {
    const UserFwdPriv f = db.userdb.FwdMsgNo[slot];
    if (!Offerable(f) || deferred_.count(f.FwdMsgNumbers)) return;
    if (!SizeFits(entry, f.Size) || !AgeFits(entry, f, today)) return;
    if (dryRun || AddToProposal(n, f, slot)) ++n;
  };
  for (int slot = kUserFwdPrivCount - 1; slot >= 0 && n < most; --slot)
    if (db.userdb.FwdMsgNo[slot].Type[0] == 'P') take(slot);
  for (int slot = 0; slot < kUserFwdPrivCount && n < most; ++slot)
    if (db.userdb.FwdMsgNo[slot].Type[0] != 'P') take(slot);
  return n > 0 ? n : -1;
}

bool TFwd::AddToProposal(int i, const UserFwdPriv& f, long upos) {
  TOrnDbase& db = *Parent->tdb;
  Store* store = Parent->client().store;
  const long number = f.FwdMsgNumbers;
  const long pos = db.SearchBinary(number);
  const bool found = db.ReadFromFile(pos, db.msgdb, db.msgidx) && db.msgdb.MsgNo == number && store &&
                     FileExists(MsgFileName(store->site().mailDir, number));
  if (!found) {
    // A message that is gone would stop every session with this partner:
    // it leaves the queue instead.
    Show("Msg Not Found.\r");
    if (ReloadPartner()) {
      db.userdb.FwdMsgNo[upos].FwdMsgNumbers = 0;
      CopyField(db.userdb.FwdMsgNo[upos].Type, "");
      WritePartner();
    }
    return false;
  }
  MsgDB& m = db.msgdb;
  if (!m.Bid[0]) {
    // Peers take no proposal without a BID (stored with BIDGENERATION=0):
    // the message gets the BID we would have made, kept in its record and
    // in our table, so that it is the same for every partner and is known
    // when it comes back.
    CopyField(m.Bid, GeneratedBid(Parent->client().cfg().MyCallOut, number));
    if (db.WriteToFile(pos, m)) store->Bids.InsertInBidArray(m.Bid);
  }
  if (!m.AtBbs[0]) {
    std::string at = FieldText(db.userdb.Call);
    const std::string hier = FieldText(db.userdb.HierAddress);
    if (!hier.empty() && hier[0] != '?') at += "." + hier;
    CopyField(m.AtBbs, at);
  }
  FwdProposal& p = fwdproposal[i];
  p.upos = upos;
  p.fpos = pos;
  p.msgno = number;
  p.subject = FieldText(m.MsgSubject);
  p.bid = FieldText(m.Bid);
  p.flag = '-';
  if (!Parent->sfwd.fbbok) {
    p.proposal = FormatMblOffer(m, Parent->sfwd.hierok);
  } else {
    p.proposal = FormatProposalLine(m, Parent->sfwd.hierok, Parent->sfwd.binaryok);
  }
  return true;
}

void TFwd::AckWait() {
  if (!WhatToWait("\r")) return;
  std::string text = Parent->cmd;
  if (text.size() < 5) {
    Fail("Ack len <5.\r");
    return;
  }
  const size_t cr = text.find('\r');
  const std::string line = text.substr(0, cr);
  if (line.size() < 3) {
    Fail("Strlen proposal.\r");
    return;
  }
  std::string flags;
  std::vector<long> offsets;
  if (!ParseAnswerLine(line, proposallen, &flags, &offsets)) {
    Fail("Ack <> +-=.\r");
    return;
  }
  b1Answers_ = line.find_first_of("YNLA", 3) != std::string::npos;
  // Only a B1 partner may ask for the rest of a message.
  if (!B1() && !b1Answers_) offsets.assign(offsets.size(), 0);
  bool any = false, refused = false;
  for (size_t i = 0; i < flags.size(); ++i) {
    fwdproposal[i].flag = flags[i];
    fwdproposal[i].resume = i < offsets.size() ? offsets[i] : 0;
    if (flags[i] == '+' || flags[i] == '=') any = true;
    if (flags[i] == '=') deferred_.insert(fwdproposal[i].msgno);
    if (flags[i] == '-') refused = true;
  }
  // What the partner already has leaves its queue at once.
  if (refused && ReloadPartner()) {
    UserDB& u = Parent->tdb->userdb;
    for (size_t i = 0; i < flags.size(); ++i) {
      const FwdProposal& p = fwdproposal[i];
      if (flags[i] != '-' || p.upos < 0 || p.upos >= kUserFwdPrivCount) continue;
      if (u.FwdMsgNo[p.upos].FwdMsgNumbers != p.msgno) continue;
      u.FwdMsgNo[p.upos].FwdMsgNumbers = 0;
      CopyField(u.FwdMsgNo[p.upos].Type, "");
    }
    WritePartner();
  }
  if (!any) {
    const std::string rest = text.substr(cr + 1);
    CopyField(Parent->cmd, rest);
    SetState(fwdstate::kDecodeProposal);
    DecodeProposal();
    return;
  }
  Parent->cmd[0] = '\0';
  proposalno = -1;
  if (Parent->sfwd.binaryok) {
    SetState(fwdstate::kMakeCompressed);
  } else {
    SetState('`');
  }
  Arm();
}

bool TFwd::Compress(char what, const std::string& in, const std::string& out) {
  StopCoder();
  coderfailed.store(false);
  donotrcvdde.store(true);
  coder_ = std::make_unique<TCompress>(this);
  if (coder_->Open(in, out) && StartCoderThread(what == 'N' ? Enc : Dec, coder_.get(), &cmphandle)) return true;
  coder_.reset();
  donotrcvdde.store(false);
  return false;
}

bool TFwd::CoderDone() {
  if (cmphandle.joinable()) cmphandle.join();
  const bool failed = coderfailed.load() || !coder_ || coder_->failed();
  coderError_ = coder_ ? coder_->error() : std::string();
  coder_.reset();
  return !failed;
}

void TFwd::MakeCompressed() {
  if (donotrcvdde.load(std::memory_order_acquire)) return;
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
  Store* store = client.store;
  std::string text;
  if (!store || !ReadWholeFile(MsgFileName(store->site().mailDir, p.msgno), &text)) {
    Fail("Compress Failure.\r");
    return;
  }
  if (client.cfg().OEMANSI) text = client.codePages().AnsiToOem(text);
  const std::string acc = TempFile(".acc"), aam = TempFile(".aam");
  TFileOperations::filedelete(aam);
  if (!WriteFileReplacing(acc, text) || !Compress('N', acc, aam)) {
    Fail("Compress Failure.\r");
    return;
  }
  SetState(fwdstate::kWaitCompressed);
  if (WaitForShortCoding(text.size())) WaitAckCompressed();
}

void TFwd::WaitAckCompressed() {
  if (donotrcvdde.load(std::memory_order_acquire)) return;
  if (!CoderDone()) {
    Fail("Compress Failure.\r");
    return;
  }
  terminate = false;
  const std::string aam = TempFile(".aam");
  sendData_.clear();
  if (!FileExists(aam) || !ReadWholeFile(aam, &sendData_)) {
    Fail("Fileexist 1.\r");
    return;
  }
  MDIClient& client = Parent->client();
  const FwdProposal& p = fwdproposal[proposalno];
  std::string title = p.subject;
  if (client.cfg().OEMANSI) title = client.codePages().AnsiToOem(title);
  checksum = 0;
  opos = 1;
  if (!B1() && !b1Answers_) {
    SendText(HeaderPacket(title));
  } else {
    sendData_ = B1Stream(sendData_);
    // The partner holds the stream up to its offset: it gets the CRC and
    // length word to compare with its own, then the rest. An offset we
    // cannot go on from gets the whole message.
    const size_t from = p.resume > static_cast<long>(kB1Head) ? static_cast<size_t>(p.resume) : 0;
    if (from == 0 || from >= sendData_.size()) {
      SendText(HeaderPacket(title));
    } else {
      const std::string head = sendData_.substr(0, kB1Head);
      for (unsigned char c : head) checksum += c;
      SendText(HeaderPacket(title, static_cast<long>(from)) + DataPacket(head));
      opos = static_cast<long>(from) + 1;
      client.log().writelog(65, p.resume, Parent->UserCallOnly, "FWD Send resumed " + p.bid);
    }
  }
  SetState(fwdstate::kSendCompressed);
}

void TFwd::SendCompressed() {
  const size_t from = static_cast<size_t>(opos - 1);
  const std::string part = from < sendData_.size() ? sendData_.substr(from, kBlockData) : std::string();
  for (unsigned char c : part) checksum += c;
  opos += static_cast<long>(part.size());
  std::string out;
  if (!part.empty()) out = DataPacket(part);
  if (part.size() < kBlockData) {
    terminate = true;
    out += EndPacket(checksum);
    checksum = 0;
    sendData_.clear();
    SetState(fwdstate::kMakeCompressed);
  }
  SendText(out);
}

void TFwd::RemoveFwd() {
  MDIClient& client = Parent->client();
  Store* store = client.store;
  if (!store || !ReloadPartner()) return;
  UserDB& u = Parent->tdb->userdb;
  std::unique_ptr<TOrnDbase> mdb = store->OpenDbase();
  // Ports count from 1 in the log, as everywhere the sysop reads them.
  const std::string port = "Port=" + std::to_string(Parent->client().link().PortShown(Parent->TncPortNumber)) + ".";
  for (int i = 0; i < proposallen && i < kMaxProposals; ++i) {
    const FwdProposal& p = fwdproposal[i];
    if (p.flag == '=' || p.msgno <= 0) continue;
    for (UserFwdPriv& slot : u.FwdMsgNo) {
      if (slot.FwdMsgNumbers != p.msgno) continue;
      client.log().writelog(667, p.msgno, Parent->UserCallOnly, port);
      const long pos = mdb->SearchBinary(p.msgno);
      MsgDB m{};
      MsgDBidx idx{};
      // Personal mail has reached its way on; bulletins may still wait for
      // other partners and keep their status.
      if (mdb->ReadFromFile(pos, m, idx) && m.MsgNo == p.msgno && CallIsValid(CallKey(FieldText(m.ToStation)))) {
        CopyField(m.Status, "F");
        if (UpdatemsgBeacon* list = store->MsgBeacon()) list->RemoveCallFromList(FieldText(m.ToStation));
        if (mdb->WriteToFile(pos, m)) client.mainView().RefreshMsgList(pos);
      }
      slot.FwdMsgNumbers = 0;
      CopyField(slot.Type, "");
    }
  }
  mdb->CloseAll();
  WritePartner();
}

}  // namespace orn
