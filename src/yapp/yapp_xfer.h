// A YAPP transfer of one binary file between the BBS's binary area and a
// connected station, in either direction. The YU command makes the BBS
// receive (upload), YD makes it send (download). The channel hands the
// station's bytes to putyappbuf() and calls the pump step of its direction
// after every piece of input and, while yapptimer is due, from the service
// timer; a step that returns false has ended the transfer and answered the
// station, and the channel then destroys the transfer.
//
// An upload grows in a file of its own and takes its name only when it is
// complete, and never in place of an existing file; a transfer that ends any
// other way (cancel, a damaged stream, the station leaving) leaves nothing
// under the name.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "context/views.h"
#include "store/file_operations.h"
#include "yapp/yapp_packets.h"

namespace orn {

struct Language;

constexpr int kYappUpload = 3;    // the BBS receives
constexpr int kYappDownload = 4;  // the BBS sends

// Channel services while a transfer runs.
constexpr int kServiceYappReceive = 4;
constexpr int kServiceYappSend = 5;

enum YappState : int {
  kSendInit = 25,
  kSendInitAgain = 26,
  kSendHeader = 27,
  kSendData = 28,
  kSendEof = 29,
  kSendEot = 30,
  kRcvWait = 31,
  kRcvHeader = 32,
  kRcvData = 33,
  kSndAbort = 34,
  kWaitAbtAck = 35,
  kRcdAbort = 36,
  kStart = 37,
};

// What a transfer needs of the session it runs in.
class YappHost {
 public:
  virtual ~YappHost() = default;
  virtual const Language& Texts() const = 0;
  // The binary area's directory, and its name as the log shows it ("BIN").
  virtual std::string BinaryArea() const = 0;
  virtual std::string BinaryAreaName() const = 0;
  // Where an upload grows until it is complete.
  virtual std::string PartFile() const = 0;
  virtual int64_t Now() const = 0;
  // Local calendar time of a second count: file dates travel in it.
  virtual std::tm Local(int64_t t) const = 0;
  virtual void SetService(int service) = 0;
  // Packets: sent as they are, not shown in the channel window.
  virtual void SendPacket(const std::string& bytes) = 0;
  // A text for the station, shown in the channel window too.
  virtual void SendText(const std::string& text) = 0;
  // Ends the command: the text, then the prompt.
  virtual void EndService(const std::string& text) = 0;
  // Upload (62) or download (63) of the file, for the activity log.
  virtual void LogTransfer(int event, const std::string& file) = 0;
  // Bytes sent, for the station's download volume.
  virtual void CountDownload(long bytes) = 0;
  virtual void ShowProgress(const TransferProgress& progress) = 0;
  virtual void CloseProgress() = 0;
};

class TYappXfer : public TFileOperations {
 public:
  // How long the station may keep us waiting for its next packet before
  // the transfer is given up: longer than a radio link takes to retry a
  // frame through, short enough that a station gone silent does not hold
  // its channel and its half-received file for the whole inactivity time.
  static constexpr int64_t kAnswerSeconds = 120;

  // `name` is the command's parameter text with the CR it was typed with;
  // `cmd` is kYappUpload or kYappDownload.
  TYappXfer(std::unique_ptr<YappHost> host, const std::string& name, int cmd);
  ~TYappXfer();
  TYappXfer(const TYappXfer&) = delete;
  TYappXfer& operator=(const TYappXfer&) = delete;

  // Starts the transfer; false when it did not start (the station has had
  // its answer and prompt).
  bool Proceed();

  // A byte from the station. False when the input ring is full: the byte is
  // lost and the transfer cancels at its next step.
  bool putyappbuf(unsigned char byte);
  bool inready() const { return reader_.Ready(); }
  bool readyapp(unsigned char* byte) { return reader_.Take(byte); }
  // Recognises the next packet from the ring; sets and returns ptype.
  int GetPack();

  // The pump's steps; false when the transfer is over. Receiving works
  // through everything in the ring, sending makes one step per call.
  bool ReceiveStep();
  bool SendStep();

  // Sends a cancel with its reason and waits for its acknowledgement.
  void Cancel(const std::string& reason = "Cancelled");
  // The sysop's Cancel button: the transfer cancels at its next step.
  void AbortByOperator() { state = kSndAbort; }

  // The state's name, for the progress window.
  static const char* StateName(int state);

  char cn[80] = "";       // the parameter text as the station gave it
  int whatcmd;
  bool terminate = false;  // the file has been dealt with: nothing to clean up
  int Sendinit_Count = 0;
  int state = kStart;
  int ptype = kYappNone;
  std::string xferhdr;     // header text shown in the progress window
  long long xfercnt = 0;   // bytes moved so far
  bool xferok = false;     // the file went across whole
  std::string filname;     // the file as the log names it: area, "\", the station's path
  std::string pkfname;     // the bare file name the header carries
  // When the service timer may call the step (0: never): the sender's
  // pace, the receiver's time-out, the wait for the station's last word.
  int64_t yapptimer = 0;
  // The transfer goes as YAPP-C: a checksum after each data block.
  bool checksummed() const { return checksums_; }
  // The next send step puts a packet out without waiting for the station:
  // it goes as soon as the link has room, not at the next second.
  bool PacketReady() const;

 private:
  // Receiving.
  void Receive();
  void RcvHdr();
  void RcvData();
  // Sending.
  void Sendinit();
  void Sendhdr();
  void Senddata();
  void SendEOF();
  void SendEOT();
  // Either side.
  // The station owes an answer from now on.
  void AwaitAnswer() { answerDue_ = host_->Now() + kAnswerSeconds; }
  bool AnswerOverdue() const { return answerDue_ < host_->Now(); }
  void GiveUp(const char* reason);
  void AwaitCancelAck();
  void Abort();
  // The next packet, passing over texts for display.
  int NextPacket();
  // Ends the transfer with an answer to the station.
  void Finish(const std::string& text);
  void Progress(const std::string& stateText);
  // The upload takes its name; false when it cannot (the name was taken
  // meanwhile, or the disk failed).
  bool Publish();
  void DropPart();

  std::unique_ptr<YappHost> host_;
  YappReader reader_;
  std::string path_;      // the file in the binary area
  std::string partPath_;  // the upload while it grows; empty when there is none
  unsigned long long size_ = 0;
  long long total_ = -1;  // the file's size for the progress, once known
  bool overrun_ = false;  // input was lost: the stream cannot be trusted
  bool waiting_ = false;  // send-init is out, an answer is awaited
  bool hdrSent_ = false;
  bool etSent_ = false;
  bool done_ = false;
  bool checksums_ = false;
  bool hasDate_ = false;          // the upload's header carried its date
  uint32_t dosDateTime_ = 0;
  int64_t answerDue_ = 0;          // when waiting for the station ends in a time-out
  std::string cancelReason_ = "Cancelled";
};

}  // namespace orn
