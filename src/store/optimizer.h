// Database repair: the one place where the record files are rewritten.
// Messages older than a limit are marked old, messages of the chosen
// statuses and killed users are dropped (the text files of dropped messages
// go with them), and the files are replaced by the kept records in their
// order, so msg.idx stays sorted and message numbers do not change. Every
// run, with or without anything to drop, first rebuilds an index that does
// not match its records.
//
// MakeOptimize works on the files alone: the caller makes sure no one else
// has them open while it runs (no station connected, no channel holding a
// database object).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "store/orn_dbase.h"

namespace orn {

// What a run drops and ages.
struct PurgeOptions {
  bool killed = false;     // status "K"
  bool old = false;        // status "O"
  bool held = false;       // status "H"
  bool forwarded = false;  // status "F"
  bool read = false;       // status "Y"
  bool deleteLog = false;  // the caller empties the activity log
  bool renumber = false;   // starts a run; nothing is renumbered
  long maxDaysOld = 0;     // 0: no ageing
  // Whether a run has anything to do at all.
  bool Any() const { return killed || old || held || forwarded || read || deleteLog || renumber || maxDaysOld; }
};

struct OptimizeResult {
  bool ok = true;           // every file that was to be replaced was
  long messagesKept = 0, messagesDropped = 0, messagesAged = 0;
  long usersKept = 0, usersDropped = 0;
  std::string error;
  // Indexes rebuilt from their records, one line each for the activity log.
  std::vector<std::string> mended;
};

// A message dated msgdate ("HHMM/YYMMDD") is at most maxdays old on `today`
// (YYMMDD), counting a year as 365 days and a month as 30. A date in a later
// year by its two digits (past a century change) is not old.
bool GetDays(const std::string& msgdate, const std::string& today, long maxdays);

// The work files, left in the BBS directory after a run.
extern const char* const kMsgWorkFile;      // "msg.tmp"
extern const char* const kMsgIdxWorkFile;   // "idx.tmp"
extern const char* const kUserWorkFile;     // "user.tmp"
extern const char* const kUserIdxWorkFile;  // "uidx.tmp"

// The run. `dropped` hears of every dropped message number (its forwarding
// queues are the caller's); `progress` hears what the run is doing.
OptimizeResult MakeOptimize(const StoreSite& site, const PurgeOptions& options, const std::string& today,
                            const std::function<void(long number)>& dropped = nullptr,
                            const std::function<void(const std::string&)>& progress = nullptr);

}  // namespace orn
