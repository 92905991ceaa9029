// The record files looked over at start-up, before anything reads them: a
// crash may leave a last record half written, or an index longer than its
// records; an index may be emptied or overwritten by a bad copy or a tool;
// garbage in place of a file must not be taken for messages.
#pragma once

#include <string>
#include <vector>

namespace orn {

struct RecordCheck {
  // What was mended, one line each for the sysop and the activity log.
  std::vector<std::string> mended;
  // Empty, or the damage that stops the start: the file and what is wrong
  // with it; `advice` says what to do.
  std::string damage;
  std::string advice;
};

// Cuts off a torn last record of each record file in `dir` and the index
// entries of records that are gone, then rebuilds the indexes (see
// RebuildIndexes); no readable record is ever dropped. Message numbers that
// do not rise from record to record are damage. `mailDir` holds the message
// texts (empty: none are looked at).
RecordCheck CheckRecordFiles(const std::string& dir, const std::string& mailDir = "");

// The index of each pair is nothing but what its records say: an entry
// missing or differing from its record (an index emptied, cut short or
// overwritten) has USERS.IDX or MSG.IDX written anew from USERS.ADB or
// MSG.ADB, said in one line. A rebuilt MSG.IDX also raises the high-water
// mark to the highest message number of a record or of a text in `mailDir`,
// so that no number in use is given again. An index that already matches is
// left as it is.
RecordCheck RebuildIndexes(const std::string& dir, const std::string& mailDir);

}  // namespace orn
