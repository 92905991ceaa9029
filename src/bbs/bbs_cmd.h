// An operation of a station's session that runs over many exchanges: message
// entry, listing, reading, and the text file transfers. The command decoder
// creates it and starts it with Proceed(); the channel's pump then feeds it
// the station's input or the service timer's ticks until a step returns
// false, which ends it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "store/file_operations.h"

namespace orn {

class MsgEntry;
class TChannel;

// What the operation does.
enum WhatCmd : int {
  kCmdUpload = 1,
  kCmdSend = 2,
  kCmdDownload = 5,
  kCmdList = 6,
  kCmdListLast = 7,
  kCmdListFrom = 8,
  kCmdListTo = 9,
  kCmdListAt = 10,
  kCmdListMine = 11,
  kCmdListType = 12,
  kCmdListStatus = 13,
  kCmdListSbj = 14,
  kCmdRead = 15,
  kCmdReadMine = 16,
};

class TBBSCmd : public TFileOperations {
 public:
  TBBSCmd(TChannel* channel, const std::string& text, int what);
  TBBSCmd(TChannel* channel, long position, int what);
  // Closes what an unfinished operation leaves open, by its kind.
  ~TBBSCmd();

  bool CanClose() const { return true; }
  // Starts the operation; true while it goes on, false when it has ended
  // (the caller then destroys it).
  bool Proceed();
  // The pump's steps, by the channel's service; true while more follows.
  bool Upload(const char* text);
  bool DownLoad();
  bool Send(const char* line);
  bool List();
  bool ListLast();
  bool ListFrom();
  bool ListTo();
  bool ListAt();
  bool ListMine();
  bool ListSbj();
  bool ListType();
  bool ListStatus();
  bool ReadMsgText();
  // True for a routing line ("R:..."); the line then becomes the call after
  // its "@" followed by "!".
  bool ReturnBbsinLine(char* line);

  TChannel* chan;
  char cn[80] = "";
  char searchcall[50] = "";
  int whatcmd;
  long listpos = 0;
  long untilpos = 0;
  // A paced operation's next step may go from this time on (Clock::NowMs; 0:
  // it waits for the station); the link's queue decides when it does.
  int64_t DownloadTimer = 0, listtimer = 0, readtimer = 0;
  bool terminate = false;
  bool verbose = false;

 private:
  // Each kind of operation keeps its own working state in its own file.
  bool StartSend();
  bool StartRead();
  bool StartUpload();
  bool StartDownload();

  std::unique_ptr<MsgEntry> entry_;
  // A text upload collects under this name and takes its real one (`cn`)
  // only when it is complete.
  std::string partial_;
  std::string uploadPending_;  // an upload's line not yet ended

 public:
  // Working state of listing and reading.
  int listedlines = 0;     // lines sent by the listing step in progress
  bool firstline = true;   // the column titles are still to come: nothing listed yet
  bool pathlines = true;   // reading is still at the routing lines of its message
  bool pathprefix = true;  // "Path:" is still to be written
  std::string textFault;   // why the message being read is not whole (MsgTextFault), said after its text
};

}  // namespace orn
