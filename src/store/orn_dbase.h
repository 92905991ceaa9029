// The database object: one handle on each of users.adb, users.idx, msg.adb
// and msg.idx, and the records read last. Every channel owns one for its
// whole life; other users make one, open it, work and close it.
//
// Records are addressed by position, counted from 1: record n starts at
// (n - 1) times the record size, a position of 0 or less means 1, and a read
// past the last record fails, which is how every scan ends. An .adb record
// and the .idx record at the same position describe one object; the index
// record is always derived from the full record as it is written.
#pragma once

#include <functional>
#include <string>

#include "store/record_file.h"
#include "store/records.h"

namespace orn {

// Where a store lives and whose it is.
struct StoreSite {
  std::string dir;      // the BBS directory, home of the record files
  std::string mailDir;  // the message texts
  std::string ownCall;  // the BBS's callsign without SSID
  std::string ownHier;  // the BBS's hierarchical address
};

extern const char* const kUsersFile;     // "users.adb"
extern const char* const kUsersIdxFile;  // "users.idx"
extern const char* const kMsgFile;       // "msg.adb"
extern const char* const kMsgIdxFile;    // "msg.idx"

class TOrnDbase {
 public:
  explicit TOrnDbase(StoreSite site);
  TOrnDbase(const TOrnDbase&) = delete;
  TOrnDbase& operator=(const TOrnDbase&) = delete;

  const StoreSite& site() const { return site_; }

  // Open an existing pair read/write without truncating it; true only when
  // both files opened.
  bool OpenUserFile();
  bool OpenMsgFile();
  void CloseUserFile();
  void CloseMsgFile();
  void CloseAll() {
    CloseUserFile();
    CloseMsgFile();
  }

  static void EqualIndices(const UserDB& r, UserDBidx* idx) { orn::EqualIndices(r, idx); }
  static void EqualIndices(const MsgDB& r, MsgDBidx* idx) { orn::EqualIndices(r, idx); }

  // Positions both files of the pair at the record; the record arguments
  // only choose the pair.
  bool SeekToRecord(long position, const UserDB&, const UserDBidx&);
  bool SeekToRecord(long position, const MsgDB&, const MsgDBidx&);

  // Writes the record and its index record at the position; the position
  // after the last record appends. False, with nothing written, when the
  // pair is not open; false too when the disk refuses the write.
  bool WriteToFile(long position, const UserDB& r);
  bool WriteToFile(long position, const MsgDB& r);

  // Reads the pair at the position into `r` and `idx` (callers usually pass
  // the current records). False, with both left unchanged, past the last
  // record. An index record missing from a damaged .idx file is derived from
  // the full record.
  bool ReadFromFile(long position, UserDB& r, UserDBidx& idx);
  bool ReadFromFile(long position, MsgDB& r, MsgDBidx& idx);

  // The defaults of a new record.
  void DBdefaults(UserDB* r, long id) const;
  void DBdefaults(MsgDB* r, long number) const;

  // Number of whole records in users.adb / msg.adb: a new record goes at the
  // count + 1.
  long UserCount() const;
  long MsgCount() const;

  // The first user whose callsign equals `call` exactly (case-sensitive),
  // found in users.idx; its full record is read into userdb/useridx. Returns
  // the position, or 0 when there is none.
  long FindUser(const std::string& call);
  // Appends a user with the defaults and this callsign (without SSID); the
  // new record is left in userdb/useridx. Returns its position (= its Id), or
  // 0 when it could not be written.
  long AppendUser(const std::string& call);
  // Appends a message record; returns its position, or 0.
  long AppendMsg(const MsgDB& r);

  // Binary search of msg.idx for a message number. The result is only a
  // candidate position: the caller reads the pair there and compares MsgNo,
  // a difference meaning that no such message exists. An empty msg.idx gives
  // 1. Afterwards msgdb/msgidx hold the last record probed.
  long SearchBinary(long number);

  // The listing line of a message (see FormatMsgHeader in msg_text.h); the
  // option has no effect on it.
  void FormatMsgHeader(std::string* out, const MsgDB& r, short option) const;

  // Sequential scans from position 1 until the end of the file or until the
  // visitor returns false. They read in large blocks, so they are the way to
  // walk a whole file; the current records are left alone.
  using UserIdxVisitor = std::function<bool(long position, const UserDBidx&)>;
  using MsgIdxVisitor = std::function<bool(long position, const MsgDBidx&)>;
  using MsgVisitor = std::function<bool(long position, const MsgDB&)>;
  void ScanUserIdx(const UserIdxVisitor& visit) const;
  void ScanMsgIdx(const MsgIdxVisitor& visit) const;
  void ScanMsgs(const MsgVisitor& visit) const;

  RecordFile UserFile, MsgFile, UserIdxFile, MsgIdxFile;
  UserDB userdb{};
  UserDBidx useridx{};
  MsgDB msgdb{};
  MsgDBidx msgidx{};
  long mpos = 0, upos = 0;

 private:
  StoreSite site_;
};

}  // namespace orn
