// A forwarding session with another BBS over one connected channel: the
// system identifiers, the turns of proposals ("FB" blocks) and answers
// ("FS"), the transfer of accepted messages (compressed in binary packets, or
// as plain text; the MBL dialogue with partners without "F"), the
// storing of what arrives and the removal of what was delivered from the
// partner's queue.
//
// The session never blocks. Its state is the channel's `whattodo` letter;
// every received text and every paced step (once FTimer is armed, as soon as
// the link's queue is below its window) runs the step of the current state once. The
// (de)compression of a message runs on a worker thread; the steps that need
// its result poll donotrcvdde.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "fwd/b1_partial.h"
#include "fwd/block_packets.h"
#include "fwd/compress.h"
#include "fwd/proposal.h"
#include "fwd/sid.h"
#include "store/file_operations.h"
#include "store/records.h"

namespace orn {

class TChannel;

// One line of the current proposal block.
struct FwdProposal {
  std::string proposal;  // the whole line with its CR
  std::string subject;   // the title
  char flag = '-';       // '+' accepted, '-' refused, '=' deferred
  std::string bid;
  long fpos = 0;   // record position of the message (sending side)
  long upos = -1;  // slot in the partner's queue (sending side)
  long msgno = 0;  // message number (sending side)
  // B1: where the transfer starts in the stream; sending, the partner's "!"
  // offset; receiving, the bytes we hold and asked the rest of.
  long resume = 0;
};

// The states, as kept in the channel's whattodo.
namespace fwdstate {
constexpr int kIdle = 0;
constexpr int kSendProposal = 'G';
constexpr int kAckWait = 'I';
constexpr int kSidDecode = 'J';
constexpr int kSendCompressed = 'K';
constexpr int kDecodeProposal = 'M';
constexpr int kMakeCompressed = 'P';
constexpr int kRcvSubject = 'Q';
constexpr int kRcvData = 'R';
constexpr int kEnding = '[';
constexpr int kWaitCompressed = '\\';
constexpr int kDecompressing = ']';
// The MBL dialogue.
constexpr int kMblSendProposal = 'S';
constexpr int kMblDecodeProposal = 'T';
constexpr int kMblRcvSubject = 'U';
constexpr int kMblRcvData = 'V';
constexpr int kMblSendData = 'W';
constexpr int kMblSendSubject = 'X';
constexpr int kMblWaitOk = 'Y';
constexpr int kMblAckWait = 'Z';
// Plain-text messages in an FBB exchange.
constexpr int kARcvSubject = '^';
constexpr int kARcvData = '_';
constexpr int kASendSubject = '`';
constexpr int kASendData = 'a';
}  // namespace fwdstate

// The command decoder met a line starting with "[": a BBS has sent its SID.
// `line` is the whole received text; what follows the SID line is the
// partner's first input.
void SidCommand(TChannel& ch, const char* line);

// Whether received bytes in this state are binary and go to the session's
// receive buffer rather than through the command decoder.
bool FwdBinaryState(int whattodo);

class TFwd : public TFileOperations, public CompressOwner {
 public:
  // The most relay identifiers kept of a received message.
  static constexpr int kMaxAlready = 50;

  explicit TFwd(TChannel* parent);
  ~TFwd();
  TFwd(const TFwd&) = delete;
  TFwd& operator=(const TFwd&) = delete;

  // Calling side: our connect script has brought the link up; wait for the
  // partner's greeting with its SID.
  void Start();
  // Called side: the partner's first line was a SID. False when it is
  // refused; otherwise the session waits for the partner's proposals (or its
  // plain-text dialogue) and `rest`, the text that followed the SID, is taken
  // as the partner's first input.
  bool StartCalled(const std::string& sid, const std::string& rest);

  // Parses a SID line into the channel's sfwd.
  static bool ToggleSfwd(const char* s, TChannel* c);

  // Received binary bytes; false when the receive buffer is overrun (the
  // session then ends).
  bool putbuf(const char* bytes, size_t n);
  bool putbuf(char byte) { return putbuf(&byte, 1); }
  bool inready() const { return reader_.inready(); }

  // Runs the step of the current state once.
  void Step();
  // Our turn goes on without the partner (proposals, messages on their way
  // out): what we said so far may wait for what follows. In every other
  // state the partner has to answer first.
  bool Sending() const;

  // Our own SID line, announced in the greeting and by our first block.
  static const char* SidLine();

  int64_t FTimer = 0;  // Clock::NowMs from which the steps run; 0 until the session starts
  int proposallen = 0;
  int proposalno = -1;
  unsigned long checksum = 0;
  bool firsttime = true;
  bool waittoremovefwd = false;
  bool nocontin = false;
  bool terminate = true;
  bool waitsbj = true;
  // A Ctrl-Z ended the last text; the CR after it may still be on its way.
  bool waitcr = false;
  std::string asciifbbstr;  // the title line being collected
  std::string cfile;  // the current receive file
  FwdProposal fwdproposal[kMaxProposals];
  // Relay list of the message received last: the BBSes it has passed, our
  // own first. Routing reads it so that a message never goes back.
  std::string already[kMaxAlready];

 private:
  TChannel& ch() { return *Parent; }
  // Ends the session on a protocol error: the text in the channel window
  // only, input ignored from now on, the link asked to go.
  void Fail(const std::string& shown);
  void Show(const std::string& text);
  void SendText(const std::string& text);
  void Arm();
  // Waits for the coder when it works on no more than `bytes`; true when its
  // result is there.
  bool WaitForShortCoding(size_t bytes);
  void SetState(int state);
  int State() const;
  std::string TempFile(const char* ext) const;
  std::string TempDir() const;
  // Both sides offer B1: blocks with a CRC, transfers that resume.
  bool B1() const;
  // The partial messages that are too old, or arrived whole, go: a step of
  // the sweep at each session start, so that no start waits for a full
  // temp/.
  void SweepPartials();
  // Only a forwarding partner's broken transfers are kept to go on from:
  // anyone else's partial file goes when its session ends.
  bool KeepsPartials() const;
  // The sysop sees in the log which exchanges can resume.
  void LogB1();
  // The partial message of the partner's proposal `bid`.
  B1Partial Partial(const std::string& bid) const;
  // B1 receiving: the stream in the partial file checked and handed to the
  // expander; false when the session has ended on it.
  bool TakeB1Stream();
  // B0 receiving: a stream that carries a matching CRC in front came in B1
  // all the same; the expander gets it without.
  void SniffB1();
  // Ends a B1 transfer that cannot go on from what we hold: the partial data
  // is dropped, so the message is asked for whole next time.
  void DropPartial(const std::string& shown);

  // Collects received text until it ends with `what` ("?" any character).
  bool WhatToWait(const char* what);
  // Joins the text kept from earlier receptions with the new one; false
  // (and the session ended) when it would not fit.
  bool JoinSpare();

  void SidDecode();
  void DecideWhatToDo();
  bool ReceiveOnly();
  bool HasMsgsToFwd();
  void SendProposal();
  int FormatProposal(bool dryRun, int most = kMaxProposals);
  // False: the slot names a message that is gone (the slot was freed).
  bool AddToProposal(int i, const UserFwdPriv& f, long upos);
  void AckWait();
  void DecodeProposal();
  void DispatchFields(const std::string& s);
  void ReceivePackets();
  void RcvHdr();
  void RcvData();
  void RcvEnd();
  void ProceedWithFwd();
  // The compressed message just expanded, stored.
  void StoreReceived();
  // Stores a received message as `f` and the proposal entry at proposalno
  // describe it; `raw` is its text as it came (any line ends). False when the
  // session has ended on the failure.
  bool StoreReceived(const ProposalFields& f, const std::string& raw);
  void NextReceived();
  void MakeCompressed();
  void WaitAckCompressed();
  void SendCompressed();
  void RemoveFwd();

  // The MBL dialogue.
  void MblSendSid();
  void MblWaitOk();
  void MblDecideWhatToDo();
  void MblSendProposal();
  void MblAckWait();
  void MblSendSubject();
  void MblSendData();
  void MblDecodeProposal();
  void MblDispatchFields(const std::string& line);
  void MblRcvSubject();
  void MblRcvData();
  void MblProceedWithFwd();
  void MblRemoveFwd();
  // Plain-text messages in an FBB exchange.
  void aSendSubject();
  void aSendData();
  void aReceive();
  void aRcvSubject();
  void aRcvData();
  // The next line of the received text, CR cut off; false (the text kept)
  // while none is whole.
  bool TakeLine(std::string* line);
  // Sends the text of the message of the entry at proposalno as the plain
  // text dialogues carry it; false when it cannot be read.
  bool LoadPlainText();
  // Sends the next piece of the text in hand, and the end mark after the
  // last; true when the text is done.
  bool SendPlainPiece();
  // Takes one byte of a received text; true once the text has ended.
  bool TextByte(char c);
  void ResetText();

  // Starts a coder thread; false when it cannot run.
  bool Compress(char what, const std::string& in, const std::string& out);
  // Joins a finished coder; false when its work failed.
  bool CoderDone();
  void StopCoder();

  // The partner's record, read again from the disk so that queue changes
  // made meanwhile by other sessions are kept.
  bool ReloadPartner();
  bool WritePartner();

  TChannel* Parent;
  PacketReader reader_;
  std::unique_ptr<TCompress> coder_;
  std::string coderError_;  // why the last coder failed, for the log
  std::thread cmphandle;
  std::string sendData_;  // the compressed message being sent
  std::string plainIn_;   // received bytes of a plain-text transfer
  size_t plainPos_ = 0;
  std::string rcvText_, rcvLine_;  // the text being received
  bool lastCr_ = false;            // an LF after it is the same line end
  size_t receivedBytes_ = 0;
  // B1 receiving: the partial message being written (infile appends to it),
  // and whether the CRC and length word of a resumed transfer are still to
  // come in a packet of their own.
  std::unique_ptr<B1Partial> partial_;
  bool restartHead_ = false;
  // Whether the partial file outlives the session, and the most of the
  // stream it may hold (B1Partial::MaxHeld of the proposal's size).
  bool keepPartial_ = false;
  size_t partialLimit_ = 0;
  // LinFBB uses B1 with whoever offers it, whatever its own SID says: its
  // answers in B1's letters ("Y", "N", "L", "A") tell, and so does a stream
  // whose CRC matches. unB1_ holds such a stream as it came, in case the
  // match was chance and it expands only as B0.
  bool b1Answers_ = false;
  std::string unB1_;
  bool inReceive_ = false;  // the packet loop is running further up
  // Messages the partner deferred ("=") in this session: not offered again
  // until the next one.
  std::set<long> deferred_;
};

}  // namespace orn
