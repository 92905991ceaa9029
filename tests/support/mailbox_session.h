// A BBS session with messages in its store: records and texts written before
// the BBS starts, stations logged in, and the service timer at hand to run
// paced listings and readings step by step.
#pragma once

#include <string>
#include <vector>

#include "support/bbs_session.h"

namespace orn::test {

// One message to store; numbers are handed out from 1001 in the order the
// messages are added.
struct StoredMsg {
  const char* type = "B";
  const char* status = "N";
  const char* to = "ALL";
  const char* from = "XX2BBB";
  const char* at = "XX9ORN";
  const char* subject = "subject";
  const char* text = nullptr;  // with LF line ends; no file when null
};

class MailboxSession : public BbsSession {
 protected:
  // Before Start: appends the message record and writes its text file.
  long AddMsg(const StoredMsg& m);
  // Before Start: `count` bulletins to ALL.
  void AddBulletins(int count);
  // A registered station of type R.
  void AddStation(const std::string& call, long lastRead = 0);
  // Starts the BBS on an open port with two channels (more ini text may
  // follow) and connects the stations in order, on channels 1, 2...
  void StartAndConnect(const std::vector<std::string>& calls, const std::string& moreIni = "");

  // What the station on `channel` is sent after typing the line.
  std::string Says(const std::string& line, int channel = 1);
  // One service-timer tick; what it sent.
  std::string Tick();
  // Ticks until the channel is back at its prompt, answering every page
  // pause with `answer`; everything sent.
  std::string RunToPrompt(std::string sofar, const std::string& answer = "", int channel = 1);
  // The message numbers of the listing lines in a text, in order.
  static std::vector<long> Listed(const std::string& text);
  // A message record as the store has it now.
  MsgDB Record(long position);

  std::vector<std::string> calls_;
};

}  // namespace orn::test
