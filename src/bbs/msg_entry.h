// Message entry: the S command and the operation that takes a station's
// subject and text and stores the message.
#pragma once

#include <string>

namespace orn {

class TBBSCmd;
class TChannel;

// The S command line (upper-cased letter, its text as typed, ending in CR).
// Only the first line of the received text is the command; text after it is
// the first input of the entry.
void SendCommand(TChannel& ch, const char* line);

// The working state of one message entry, owned by its TBBSCmd.
class MsgEntry {
 public:
  explicit MsgEntry(TBBSCmd& op) : op_(op) {}
  MsgEntry(const MsgEntry&) = delete;
  MsgEntry& operator=(const MsgEntry&) = delete;

  // Reads the send line in the operation's `cn`; true while the entry waits
  // for a subject or text.
  bool Start();
  // A piece of received text, as the engine delivered it: lines are
  // assembled here. False once the entry has ended.
  bool Input(const char* piece);
  // The operation goes away: text entry cut short leaves no file behind.
  void Abandon();

 private:
  // Ends the entry with the reply and the prompt; always false.
  bool End(const std::string& reply);
  bool StartText();
  // One received line, normally ending in its CR.
  bool Line(std::string line);
  bool StoreMessage();
  void DropTempFile();

  TBBSCmd& op_;
  std::string tempPath_;
  std::string pending_;  // received text not yet ended by a CR
  bool subjectOnLine_ = false;
  bool writeFailed_ = false;
  bool ended_ = false;
};

}  // namespace orn
