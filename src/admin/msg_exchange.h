// Messages to and from exchange files: the line protocol of a station that
// sends a message (send line, subject, text, "/EX"), one block after another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "admin/msg_admin.h"
#include "platform/code_pages.h"

namespace orn {

// Appends the messages of these numbers to `path` (created when missing).
// Subject and text go out in the stations' code page when `ansiToOem` is
// given. Messages without a text file are skipped. Returns how many were
// written; -1 when the file cannot be written.
int ExportMsgs(TOrnDbase& db, const std::string& mailDir, const std::vector<long>& numbers, const std::string& path,
               const CodePages* ansiToOem);

struct ImportResult {
  std::vector<long> stored;  // the new message numbers
  int blocks = 0;            // complete messages in the file
  int known = 0;             // already in the store: their BID is known
  int skipped = 0;           // without addressee, destination or sender
  // Empty when the whole file was read. Otherwise why the import stopped:
  // the file is no exchange file (nothing was stored then), or a message
  // could not be stored (those before it were).
  std::string error;
  bool storeFailed = false;  // the error is the store's, not the file's
};

// A block without a BID gets one made from what it holds (type, addresses,
// subject, text): twelve letters and digits. Imported again, here or at
// another BBS, the same block gets the same BID and is known.
std::string ContentBid(uint64_t hash);

// An import in steps, so that a big file never holds up the stations. The
// file is read twice: first it is checked whole (a regular file of 8-bit
// text lines, every block complete), and only a file that passes has its
// blocks stored, each with the routing header of this BBS before the
// block's own text. Subject and text come in from the stations' code page
// when `oemToAnsi` is given.
class ImportJob {
 public:
  ImportJob(MsgAdminContext ctx, std::string path, const CodePages* oemToAnsi);
  ~ImportJob();
  ImportJob(const ImportJob&) = delete;
  ImportJob& operator=(const ImportJob&) = delete;

  // Works for about `budgetMs` milliseconds (one line or one message at
  // least) on `db`, which may be opened anew for every step. True once the
  // import has ended; result() says how.
  bool Step(TOrnDbase& db, int budgetMs);
  bool finished() const { return phase_ == Phase::kDone; }
  const ImportResult& result() const { return result_; }
  // One line on how far it has come.
  std::string Progress() const;

  // Lines longer than this come in pieces; a send line or a subject that
  // long is not one.
  static constexpr size_t kMaxLine = 64 * 1024;

 private:
  enum class Phase { kOpen, kCheck, kStore, kDone };
  enum class In { kBetween, kSubject, kText };
  class Reader;

  void Fail(const std::string& why, bool store = false);
  bool Open();
  // One line (or piece) of the file: false at its end.
  bool Line(TOrnDbase& db);
  void EndOfFile();
  void BlockDone(TOrnDbase& db);
  bool StoreBlock(TOrnDbase& db);

  MsgAdminContext ctx_;
  std::string path_;
  const CodePages* oemToAnsi_;
  Phase phase_ = Phase::kOpen;
  ImportResult result_;
  std::unique_ptr<Reader> reader_;
  long long size_ = 0;  // as the check found it; the storing reads no further

  // The block being read.
  In in_ = In::kBetween;
  long line_ = 0, blockLine_ = 0;
  MsgDB m_{};
  std::string text_;
  uint64_t hash_ = 0;
  int done_ = 0;  // blocks dealt with in the storing
  std::unordered_set<std::string> bids_;  // every BID of msg.adb, and those stored here
};

// A whole import at once: for the desktop's menu command and the tests.
ImportResult ImportMsgs(const MsgAdminContext& ctx, TOrnDbase& db, const std::string& path,
                        const CodePages* oemToAnsi);

}  // namespace orn
