// The callsigns the BBS holds mail for, each with its number of pending
// messages, kept in mail.adb across restarts; the mail beacon names them.
// Storing a message to a callsign counts it in, reading or killing it by its
// addressee counts it out. Records are 11 bytes; a record whose call is six
// blanks is free and is reused before the file grows.
#pragma once

#include <string>

#include "store/counters.h"
#include "store/record_file.h"
#include "store/records.h"

namespace orn {

extern const char* const kMailBeaconFile;  // "mail.adb"
extern const char* const kFreeMailsCall;   // six blanks

class UpdatemsgBeacon {
 public:
  // Opens dir/mail.adb, which must exist. When it cannot be opened, every
  // operation does nothing and the list reads as empty: a broken beacon list
  // never fails the operation that stores or reads a message.
  explicit UpdatemsgBeacon(const std::string& dir);
  ~UpdatemsgBeacon();
  UpdatemsgBeacon(const UpdatemsgBeacon&) = delete;
  UpdatemsgBeacon& operator=(const UpdatemsgBeacon&) = delete;

  bool is_open() const { return msgbeaconfile.is_open(); }

  // Every operation keys on the callsign part of its argument
  // ("XX7ZZ.GRC.EU" is "XX7ZZ"), compared exactly.

  // One more message for the call; nothing for what is not a valid callsign
  // (bulletins to "ALL" or to a category).
  void PutCallInList(const std::string& call);
  // One message less; the record is freed at zero.
  void RemoveCallFromList(const std::string& call);
  // The position of the call's record, left in `mails`; 0 when absent.
  long InList(const std::string& call);
  // The position of the first free record; 0 when none.
  long FindAPlace();
  // Writes `mails` at the position.
  bool WriteToFile(long position);
  // The listed calls separated by blanks, one blank for each free record as
  // well; at most 3011 characters.
  std::string FormatMailBeacon() const;

  Mails mails{};

 private:
  // Scans from position 1 for the first record whose call is `key`.
  long Find(const std::string& key);

  RecordFile msgbeaconfile;
};

// The sysop changed a message's status: a message that becomes unread ("N")
// is counted in the list, any other change counts it out; the active and
// held counters follow a kill, a hold and their undoing.
void DecideIfWePutTheMsgInMailBeacon(UpdatemsgBeacon& list, MsgCounters& counters, const std::string& oldStatus,
                                     const std::string& newStatus, const std::string& call);

}  // namespace orn
