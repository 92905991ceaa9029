#include "admin/msg_exchange.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "store/decode_send.h"
#include "platform/file_names.h"
#include "platform/text.h"
#include "store/date_time.h"
#include "store/file_operations.h"
#include "store/mail_beacon_list.h"
#include "store/msg_text.h"
#include "store/store.h"

namespace orn {
namespace {

std::string Converted(const std::string& s, const CodePages* cp, bool toOem) {
  if (!cp) return s;
  return toOem ? cp->AnsiToOem(s) : cp->OemToAnsi(s);
}

}  // namespace

int ExportMsgs(TOrnDbase& db, const std::string& mailDir, const std::vector<long>& numbers, const std::string& path,
               const CodePages* ansiToOem) {
  std::string out;
  int count = 0;
  for (long number : numbers) {
    const long pos = db.SearchBinary(number);
    MsgDB m{};
    MsgDBidx i{};
    if (!db.ReadFromFile(pos, m, i) || m.MsgNo != number) continue;
    std::string text;
    if (!ReadWholeFile(ResolveCase(MsgFileName(mailDir, number)), &text)) continue;
    char line[256];
    std::snprintf(line, sizeof line, "S%s %s @ %s < %s $%s\n", m.Type, m.ToStation, m.AtBbs, m.FromStation, m.Bid);
    out += line;
    out += Converted(FieldText(m.MsgSubject), ansiToOem, true) + "\n";
    out += Converted(text, ansiToOem, true) + "\n/EX\n";
    ++count;
  }
  std::FILE* f = std::fopen(ResolveCase(path).c_str(), "ab");
  if (!f) return -1;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok ? count : -1;
}

// ---- import ----

std::string ContentBid(uint64_t hash) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string bid(12, '0');
  for (int i = 11; i >= 0; --i) {
    bid[static_cast<size_t>(i)] = kDigits[hash % 36];
    hash /= 36;
  }
  return bid;
}

namespace {

constexpr uint64_t kHashStart = 14695981039346656037ull;  // FNV-1a, 64 bits

uint64_t Hash(uint64_t h, const std::string& s) {
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h ^ 0xFF;  // a line end of its own, so that "ab"+"c" and "a"+"bc" differ
}

// A send line is longer than any of its fields allows.
constexpr size_t kMaxSendLine = 512;

bool Blank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

// "S", the type (a letter), a blank, then the addressee and the address
// fields. False when the line is none.
bool ParseSendLine(const std::string& send, MsgDB* m) {
  if (send.size() < 4 || send.size() > kMaxSendLine || (send[0] != 'S' && send[0] != 's') ||
      !std::isalpha(static_cast<unsigned char>(send[1])) || send[2] != ' ')
    return false;
  *m = MsgDB{};
  CopyField(m->Type, std::string(1, send[1]));
  CopyField(m->Status, "N");
  std::string cn = send.substr(3);
  const size_t end = cn.find_first_of("@ <$");
  CopyField(m->ToStation, cn.substr(0, std::min<size_t>(end, 39)));
  cn.erase(0, end == std::string::npos ? cn.size() : end);
  cn.erase(0, std::min(cn.find_first_not_of(' '), cn.size()));
  while (!cn.empty()) DecodeSend(cn, *m);
  return true;
}

std::string Megabytes(long long bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return buf;
}

}  // namespace

// The file's lines, read in blocks of the file rather than a byte at a time,
// never more than kMaxLine of one line in memory.
class ImportJob::Reader {
 public:
  explicit Reader(int fd) : fd_(fd), buf_(64 * 1024) {}
  ~Reader() { ::close(fd_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // From the beginning again, reading no further than `limit` bytes.
  bool Rewind(long long limit) {
    if (::lseek(fd_, 0, SEEK_SET) != 0) return false;
    limit_ = limit;
    read_ = 0;
    pos_ = len_ = 0;
    skipLf_ = midLine_ = false;
    return true;
  }

  // The next line without its line end (CR, LF or CR LF), or the next piece
  // of a line longer than kMaxLine. `starts`: the piece begins a line;
  // `ends`: it ends one (a last line without line end ends with the file).
  // False at the end of the file, or when reading fails (error()).
  bool Next(std::string* line, bool* starts, bool* ends) {
    line->clear();
    *starts = !midLine_;
    for (;;) {
      if (pos_ == len_ && !Fill()) {
        midLine_ = false;
        *ends = true;
        return !line->empty();
      }
      const char c = buf_[pos_++];
      if (skipLf_) {
        skipLf_ = false;
        if (c == '\n') continue;
      }
      if (c == '\r' || c == '\n') {
        skipLf_ = c == '\r';
        midLine_ = false;
        *ends = true;
        return true;
      }
      if (c == '\0') nul_ = true;
      line->push_back(c);
      if (line->size() >= kMaxLine) {
        midLine_ = true;
        *ends = false;
        return true;
      }
    }
  }

  long long offset() const { return read_ - static_cast<long long>(len_ - pos_); }
  int error() const { return error_; }
  // A NUL byte was read: binary data, or text in UTF-16.
  bool nul() const { return nul_; }

 private:
  bool Fill() {
    if (limit_ >= 0 && read_ >= limit_) return false;
    size_t want = buf_.size();
    if (limit_ >= 0) want = static_cast<size_t>(std::min<long long>(static_cast<long long>(want), limit_ - read_));
    for (;;) {
      const ssize_t n = ::read(fd_, buf_.data(), want);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) error_ = errno;
      if (n <= 0) return false;
      read_ += n;
      pos_ = 0;
      len_ = static_cast<size_t>(n);
      return true;
    }
  }

  int fd_;
  std::vector<char> buf_;
  size_t pos_ = 0, len_ = 0;
  long long read_ = 0, limit_ = -1;
  bool skipLf_ = false, midLine_ = false, nul_ = false;
  int error_ = 0;
};

ImportJob::ImportJob(MsgAdminContext ctx, std::string path, const CodePages* oemToAnsi)
    : ctx_(std::move(ctx)), path_(std::move(path)), oemToAnsi_(oemToAnsi) {}

ImportJob::~ImportJob() = default;

void ImportJob::Fail(const std::string& why, bool store) {
  result_.error = why;
  result_.storeFailed = store;
  phase_ = Phase::kDone;
  reader_.reset();
  text_.clear();
  text_.shrink_to_fit();
}

bool ImportJob::Open() {
  // Opened without waiting, so that a pipe nobody writes to cannot hold us;
  // only a regular file goes on to be read.
  const int fd = ::open(ResolveCase(path_).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    Fail("cannot read " + path_ + ": " + std::strerror(errno));
    return false;
  }
  struct stat st {};
  const bool statted = ::fstat(fd, &st) == 0;
  std::string why;
  if (!statted) {
    why = "cannot read " + path_ + ": " + std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    why = path_ + " is a directory, not an exchange file";
  } else if (!S_ISREG(st.st_mode)) {
    why = path_ + " is not a regular file (a device, a pipe or a socket), not an exchange file";
  } else if (st.st_size == 0) {
    why = path_ + " is empty: no message in it";
  }
  if (!why.empty()) {
    ::close(fd);
    Fail(why);
    return false;
  }
  size_ = st.st_size;
  reader_ = std::make_unique<Reader>(fd);
  phase_ = Phase::kCheck;
  return true;
}

bool ImportJob::Line(TOrnDbase& db) {
  std::string line;
  bool starts = false, ends = false;
  if (!reader_->Next(&line, &starts, &ends)) {
    EndOfFile();
    return false;
  }
  if (starts) ++line_;
  const std::string at = path_ + " line " + std::to_string(line_);
  if (phase_ == Phase::kCheck) {
    if (line_ == 1 && starts && line.size() >= 2 &&
        ((line[0] == '\xFF' && line[1] == '\xFE') || (line[0] == '\xFE' && line[1] == '\xFF'))) {
      Fail(path_ + " is UTF-16 text: an exchange file is 8-bit text in the stations' code page");
      return false;
    }
    if (reader_->nul()) {
      Fail(path_ + " holds binary data (a NUL byte by line " + std::to_string(line_) + "), not an exchange file");
      return false;
    }
  }
  // An editor's UTF-8 mark before the first line.
  if (line_ == 1 && starts && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);

  switch (in_) {
    case In::kBetween:
      if (ends && Blank(line)) return true;
      if (!ends || !ParseSendLine(line, &m_)) {
        Fail(at + " is not the send line of a message (\"S\", the type, a blank, the addressee), "
             "not an exchange file");
        return false;
      }
      blockLine_ = line_;
      hash_ = Hash(kHashStart, line);
      in_ = In::kSubject;
      return true;
    case In::kSubject:
      if (!ends || line.size() > 2 * sizeof m_.MsgSubject) {
        Fail(at + " is too long for the subject of the message that begins at line " + std::to_string(blockLine_));
        return false;
      }
      hash_ = Hash(hash_, line);
      CopyField(m_.MsgSubject, oemToAnsi_ ? oemToAnsi_->OemToAnsi(line) : line);
      if (phase_ == Phase::kStore) {
        // The new routing header goes before the block's own text, which
        // keeps its old header and address lines.
        text_ = (ctx_.routingHeader ? ctx_.routingHeader() : std::string()) + "\n";
      }
      in_ = In::kText;
      return true;
    case In::kText: {
      std::string kept;
      const bool end = starts && ends && EndMarkLine(line, &kept);
      if (end) line = kept;
      if (!end || !kept.empty()) {
        hash_ = Hash(hash_, line);
        if (phase_ == Phase::kStore) {
          text_ += oemToAnsi_ ? oemToAnsi_->OemToAnsi(line) : line;
          if (ends) text_ += '\n';
        }
      }
      if (end) {
        in_ = In::kBetween;
        BlockDone(db);
      }
      return true;
    }
  }
  return true;
}

void ImportJob::EndOfFile() {
  if (reader_->error()) {
    Fail("cannot read " + path_ + ": " + std::strerror(reader_->error()), phase_ == Phase::kStore);
    return;
  }
  if (phase_ == Phase::kCheck) {
    if (in_ != In::kBetween) {
      Fail(path_ + " ends inside the message that begins at line " + std::to_string(blockLine_) +
           " (no \"/EX\" line): the file is cut short");
    } else if (result_.blocks == 0) {
      Fail("no message in " + path_ + ", not an exchange file");
    } else {
      // The check passed: now the same bytes again, and no more of them.
      size_ = reader_->offset();
      if (!reader_->Rewind(size_)) {
        Fail("cannot read " + path_ + ": " + std::strerror(errno));
        return;
      }
      line_ = 0;
      phase_ = Phase::kStore;
    }
    return;
  }
  if (in_ != In::kBetween || done_ != result_.blocks) {
    Fail(path_ + " changed during the import: " + std::to_string(done_) + " of its " +
             std::to_string(result_.blocks) + " messages were read",
         true);
    return;
  }
  phase_ = Phase::kDone;
  reader_.reset();
}

void ImportJob::BlockDone(TOrnDbase& db) {
  if (phase_ == Phase::kCheck) {
    ++result_.blocks;
    return;
  }
  if (done_++ == 0) {
    // Every BID the store holds, not only the ring of recent ones: a big
    // file imported twice has pushed its first BIDs out of the ring.
    db.ScanMsgs([this](long, const MsgDB& r) {
      if (r.Bid[0]) bids_.insert(FieldText(r.Bid));
      return true;
    });
  }
  StoreBlock(db);
  text_.clear();
  if (text_.capacity() > (1u << 20)) text_.shrink_to_fit();
}

bool ImportJob::StoreBlock(TOrnDbase& db) {
  if (!m_.AtBbs[0] || !m_.FromStation[0] || !m_.ToStation[0]) {
    ++result_.skipped;
    return true;
  }
  if (!m_.Bid[0]) CopyField(m_.Bid, ContentBid(hash_));
  const std::string bid = FieldText(m_.Bid);
  if (bids_.count(bid) || (ctx_.store && ctx_.store->Bids.WeHaveThebid(bid))) {
    ++result_.known;
    return true;
  }
  // A number used again after a repair may still sit in a partner's queue.
  if (ctx_.RemFwd) ctx_.RemFwd(static_cast<long>(ctx_.store ? ctx_.store->counters.lastmsg + 1 : 0));
  switch (StoreNewMsg(ctx_, db, m_, text_, "")) {
    case MsgEditResult::kStored:
      result_.stored.push_back(m_.MsgNo);
      bids_.insert(bid);
      return true;
    case MsgEditResult::kKnownBid:
      ++result_.known;
      return true;
    default:
      Fail("the message that begins at " + path_ + " line " + std::to_string(blockLine_) +
               " could not be stored (is the disk full?)",
           true);
      return false;
  }
}

bool ImportJob::Step(TOrnDbase& db, int budgetMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
  for (unsigned n = 1; phase_ != Phase::kDone; ++n) {
    if (phase_ == Phase::kOpen) {
      Open();
      continue;
    }
    const size_t storedBefore = result_.stored.size();
    Line(db);
    // The clock is looked at now and then while lines are only read, and
    // after every message stored.
    if (((n & 31) == 0 || result_.stored.size() != storedBefore) && std::chrono::steady_clock::now() >= end) break;
  }
  return phase_ == Phase::kDone;
}

std::string ImportJob::Progress() const {
  switch (phase_) {
    case Phase::kOpen:
      return "opening " + path_;
    case Phase::kCheck:
      return "checking " + path_ + ": " + Megabytes(reader_ ? reader_->offset() : 0) + " of " + Megabytes(size_) +
             " MB, " + std::to_string(result_.blocks) + " messages";
    case Phase::kStore:
      return "importing " + path_ + ": " + std::to_string(done_) + " of " + std::to_string(result_.blocks) +
             " messages (stored " + std::to_string(result_.stored.size()) + ", already here " +
             std::to_string(result_.known) + ")";
    case Phase::kDone:
      break;
  }
  return "done";
}

ImportResult ImportMsgs(const MsgAdminContext& ctx, TOrnDbase& db, const std::string& path,
                        const CodePages* oemToAnsi) {
  ImportJob job(ctx, path, oemToAnsi);
  while (!job.Step(db, 1000)) {
  }
  return job.result();
}

}  // namespace orn
