// The record files looked over at start-up, before anything reads them: a
// crash may leave a last record half written, or an index longer than its
// records; garbage in place of a file must not be taken for messages.
#pragma once

#include <string>
#include <vector>

namespace orn {

struct RecordCheck {
  // What was mended, one line each for the sysop and the activity log.
  std::vector<std::string> mended;
  // Empty, or the damage that stops the start: the file, what is wrong with
  // it and what to do.
  std::string damage;
};

// Cuts off a torn last record of each record file in `dir` and the index
// entries of records that are gone; no readable record is ever dropped.
// Message numbers that do not rise from record to record, or an index that
// names other messages than its records, are damage.
RecordCheck CheckRecordFiles(const std::string& dir);

}  // namespace orn
