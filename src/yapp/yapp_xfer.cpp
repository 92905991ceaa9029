#include "yapp/yapp_xfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "context/area_path.h"
#include "context/language.h"
#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {
namespace {

constexpr size_t kMaxBareName = 12;
constexpr int kSendInitTries = 3;
// A send-init is sent again only after this long without an answer: the
// connected link delivers it, and one sent again while the answer is on its
// way reaches the station as a second start.
constexpr int64_t kSendInitRetrySeconds = 10;
// How long a cancel or the end of a transfer waits for the station's last
// packet after its last byte, so that what it still had under way does not
// reach the command interpreter as command lines.
constexpr int64_t kLastWordSeconds = 5;

constexpr const char* kStateNames[] = {"SendInit", "SendInit", "SendHeader", "SendData", "SendEof",
                                       "SendEOT",  "RcvWait",  "RcvHeader",  "RcvData",  "SndABORT",
                                       "WaitAbtAck", "RcdABORT", "Start"};

// Text from the station as the sysop's window can show it.
std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
  return out;
}

// Copies a file to a name nobody has, never over an existing file; what is
// left of a failed copy is removed.
bool CopyToNewFile(const std::string& from, const std::string& to) {
  FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) return false;
  const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);  // the umask decides
  if (fd < 0) {
    std::fclose(in);
    return false;
  }
  char buf[8192];
  bool ok = true;
  size_t n;
  while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0) {
    size_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(fd, buf + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += static_cast<size_t>(w);
    }
  }
  ok = ok && !std::ferror(in);
  std::fclose(in);
  if (::close(fd) != 0) ok = false;
  if (!ok) ::unlink(to.c_str());
  return ok;
}

// A file's time as DOS keeps it and YAPP headers carry it: the date in the
// high 16 bits (years since 1980, month, day), the time of day in the low 16
// (hours, minutes, seconds / 2). Times before 1980 become its first second.
uint32_t DosDateTime(const std::tm& t) {
  const int year = t.tm_year + 1900;
  if (year < 1980) return (1u << 5 | 1u) << 16;
  const auto date = static_cast<uint32_t>(std::min(year - 1980, 127) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
  const auto time = static_cast<uint32_t>(t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec / 2);
  return date << 16 | time;
}

// The second count of a DOS date and time read in the host's local time;
// false for a date no DOS clock shows.
bool FromDosDateTime(uint32_t v, const YappHost& host, int64_t* out) {
  std::tm t{};
  t.tm_year = static_cast<int>(v >> 25) + 80;
  t.tm_mon = static_cast<int>(v >> 21 & 15) - 1;
  t.tm_mday = static_cast<int>(v >> 16 & 31);
  t.tm_hour = static_cast<int>(v >> 11 & 31);
  t.tm_min = static_cast<int>(v >> 5 & 63);
  t.tm_sec = static_cast<int>(v & 31) * 2;
  if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 59)
    return false;
  const int64_t asUtc = ::timegm(&t);
  // Local time is UTC moved by the zone's offset at that moment; the second
  // round corrects for an offset that changes in between (summer time).
  int64_t guess = asUtc;
  for (int i = 0; i < 2; ++i) {
    std::tm local = host.Local(guess);
    guess = asUtc - (::timegm(&local) - guess);
  }
  *out = guess;
  return true;
}

}  // namespace

TYappXfer::TYappXfer(std::unique_ptr<YappHost> host, const std::string& name, int cmd)
    : whatcmd(cmd), host_(std::move(host)) {
  CopyField(cn, name);
}

TYappXfer::~TYappXfer() {
  closefile(infile);
  DropPart();
  host_->CloseProgress();
}

const char* TYappXfer::StateName(int s) {
  return s >= kSendInit && s <= kStart ? kStateNames[s - kSendInit] : "";
}

void TYappXfer::Progress(const std::string& stateText) {
  TransferProgress p;
  p.header = xferhdr;
  p.state = stateText;
  p.bytes = xfercnt;
  p.total = total_;
  host_->ShowProgress(p);
}

bool TYappXfer::Proceed() {
  const Language& lang = host_->Texts();
  std::string arg = cn;
  if (!arg.empty() && arg.back() == '\r') arg.pop_back();
  pkfname = BareName(arg);
  path_ = AreaPath(host_->BinaryArea(), arg);
  if (pkfname.size() > kMaxBareName || pkfname.empty() || pkfname == "." || pkfname == ".." || path_.empty()) {
    terminate = true;
    host_->EndService(lang.invalidparameters);
    return false;
  }
  filname = host_->BinaryAreaName() + "\\" + arg;
  path_ = ResolveCase(path_);
  reader_.Clear();
  xfercnt = 0;
  if (whatcmd == kYappUpload) {
    if (FileExists(path_) || DirExists(path_)) {
      terminate = true;
      host_->EndService(lang.thereisfile);
      return false;
    }
    // The file can take its name at the end only in a directory that exists.
    const size_t slash = path_.find_last_of('/');
    if (slash != std::string::npos && !DirExists(path_.substr(0, slash))) {
      terminate = true;
      host_->EndService(lang.invalidparameters);
      return false;
    }
    partPath_ = host_->PartFile();
    outfile = std::fopen(partPath_.c_str(), "wb");
    if (!outfile) {
      partPath_.clear();
      terminate = true;
      host_->EndService(lang.aborted);
      return false;
    }
    host_->SetService(kServiceYappReceive);
    state = kRcvWait;
    AwaitAnswer();
    yapptimer = answerDue_;
    host_->SendText(lang.rcvfileyapp);
    xferhdr = "RcvReady";
    Progress("Awaiting Send Ready.");
    return true;
  }
  if (FileExists(path_)) infile = std::fopen(path_.c_str(), "rb");
  struct stat st {};
  if (!infile || ::fstat(::fileno(infile), &st) != 0) {
    closefile(infile);
    terminate = true;
    host_->EndService(lang.notfound);
    return false;
  }
  size_ = static_cast<unsigned long long>(st.st_size);
  total_ = static_cast<long long>(size_);
  dosDateTime_ = DosDateTime(host_->Local(static_cast<int64_t>(st.st_mtime)));
  host_->SetService(kServiceYappSend);
  state = kSendInit;
  Sendinit_Count = 0;
  waiting_ = false;
  host_->SendText(lang.sendfileyapp);
  yapptimer = host_->Now();
  xferhdr = "SndReady";
  Progress("Awaiting Rcv Ready.");
  return true;
}

bool TYappXfer::putyappbuf(unsigned char byte) {
  // A station that is sending has not fallen silent, whatever it sends.
  if (answerDue_ != 0) AwaitAnswer();
  if (reader_.Put(byte)) return true;
  overrun_ = true;
  return false;
}

int TYappXfer::GetPack() { return ptype = reader_.Next(); }

int TYappXfer::NextPacket() {
  while (GetPack() == kYappTX) {
  }
  return ptype;
}

void TYappXfer::Finish(const std::string& text) {
  done_ = true;
  state = kStart;
  yapptimer = 0;
  host_->EndService(text);
}

// ---- receiving ---------------------------------------------------------------

bool TYappXfer::ReceiveStep() {
  if (overrun_ && state != kWaitAbtAck) state = kSndAbort;
  const bool receiving = state == kRcvWait || state == kRcvHeader || state == kRcvData;
  // Silence, or a packet begun and never finished: the station has given up.
  if (receiving && !inready() && AnswerOverdue()) GiveUp("Timeout");
  do {
    switch (state) {
      case kRcvWait: Receive(); break;
      case kRcvHeader: RcvHdr(); break;
      case kRcvData: RcvData(); break;
      case kWaitAbtAck: AwaitCancelAck(); break;
      default: break;
    }
    if (state == kSndAbort || state == kRcdAbort) Abort();
    if (done_) return false;
  } while (inready());
  if (state == kRcvWait || state == kRcvHeader || state == kRcvData) yapptimer = answerDue_;
  return true;
}

void TYappXfer::Receive() {
  switch (GetPack()) {
    case kYappPartial:
    case kYappTX:
      return;
    case kYappSI:
      host_->SendPacket(std::string(kYappRcvReady));
      state = kRcvHeader;
      Progress(StateName(state));
      return;
    case kYappCN: state = kRcdAbort; return;
    default: state = kSndAbort; return;
  }
}

void TYappXfer::RcvHdr() {
  const Language& lang = host_->Texts();
  switch (GetPack()) {
    case kYappPartial:
    case kYappTX:
    case kYappSI:
      return;
    case kYappHD: {
      if (xferok) {
        // One command, one file: a second one is refused, the first stays.
        host_->SendPacket(YappNotReady("One file per upload"));
        Finish(lang.filestored);
        return;
      }
      YappHeaderFields h;
      if (!ParseYappHeader(reader_.body(), reader_.length(), &h)) {
        state = kSndAbort;
        return;
      }
      xferhdr = Printable(Cut(h.name, 80));
      if (!h.size.empty()) xferhdr += " " + h.size;
      total_ = -1;
      if (!h.size.empty() && h.size.size() <= 12 && h.size.find_first_not_of("0123456789") == std::string::npos)
        total_ = std::stoll(h.size);
      // A header with the file's date comes from a sender that speaks
      // YAPP-C: it is asked for checksums. Any other gets plain YAPP.
      hasDate_ = h.hasDate;
      dosDateTime_ = h.dosDateTime;
      checksums_ = h.hasDate;
      reader_.ExpectChecksums(checksums_);
      host_->SendPacket(std::string(checksums_ ? kYappRcvChecked : kYappRcvFile));
      state = kRcvData;
      Progress(StateName(state));
      return;
    }
    case kYappET:
      // A transfer that sent no file leaves an empty one.
      if (!xferok && !Publish()) {
        state = kSndAbort;
        return;
      }
      host_->SendPacket(std::string(kYappAckEot));
      Finish(lang.filestored);
      return;
    case kYappCN: state = kRcdAbort; return;
    default: state = kSndAbort; return;
  }
}

void TYappXfer::RcvData() {
  switch (GetPack()) {
    case kYappPartial:
    case kYappTX:
      return;
    case kYappDT: {
      const size_t n = reader_.length();
      // A block damaged on its way cannot be asked for again: the file
      // would be wrong, so the transfer ends.
      if (!reader_.checksumOk()) {
        GiveUp("Bad checksum");
        return;
      }
      if (!outfile || std::fwrite(reader_.body(), 1, n, outfile) != n) {
        state = kSndAbort;
        return;
      }
      xfercnt += static_cast<long long>(n);
      Progress(StateName(state));
      return;
    }
    case kYappEF:
      if (!Publish()) {
        state = kSndAbort;
        return;
      }
      host_->SendPacket(std::string(kYappAckEof));
      state = kRcvHeader;
      Progress(StateName(state));
      host_->LogTransfer(62, filname);
      return;
    case kYappCN: state = kRcdAbort; return;
    default: state = kSndAbort; return;
  }
}

bool TYappXfer::Publish() {
  if (!outfile) return false;
  const bool written = std::fflush(outfile) == 0 && !std::ferror(outfile);
  const bool closed = std::fclose(outfile) == 0;
  outfile = nullptr;
  if (!written || !closed) return false;
  // A hard link claims the name only if nobody has it, and shows the whole
  // file at once; where links are not to be had, a copy to a new name.
  if (::link(partPath_.c_str(), path_.c_str()) != 0 && (errno == EEXIST || !CopyToNewFile(partPath_, path_)))
    return false;
  ::unlink(partPath_.c_str());
  int64_t when = 0;
  if (hasDate_ && FromDosDateTime(dosDateTime_, *host_, &when)) {
    // The file keeps the date it had at the sender's; a date that cannot
    // be set leaves the time of arrival, which is no reason to refuse it.
    struct timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(when);
    ::utimensat(AT_FDCWD, path_.c_str(), times, 0);
  }
  partPath_.clear();
  xferok = true;
  terminate = true;
  return true;
}

void TYappXfer::DropPart() {
  closefile(outfile);
  if (partPath_.empty()) return;
  ::unlink(partPath_.c_str());
  partPath_.clear();
}

// ---- sending -----------------------------------------------------------------

bool TYappXfer::SendStep() {
  if (overrun_ && state != kWaitAbtAck) state = kSndAbort;
  switch (state) {
    case kSendInit:
    case kSendInitAgain: Sendinit(); break;
    case kSendHeader: Sendhdr(); break;
    case kSendData: Senddata(); break;
    case kSendEof: SendEOF(); break;
    case kSendEot: SendEOT(); break;
    case kWaitAbtAck: AwaitCancelAck(); break;
    default: break;
  }
  if (state == kSndAbort || state == kRcdAbort) Abort();
  return !done_;
}

bool TYappXfer::PacketReady() const {
  if (done_) return false;
  switch (state) {
    case kSendInit: return !waiting_;
    case kSendHeader: return !hdrSent_;
    case kSendData:
    case kSendEof: return true;
    default: return false;
  }
}

void TYappXfer::Sendinit() {
  const int64_t now = host_->Now();
  if (!waiting_) {
    reader_.Clear();
    host_->SendPacket(std::string(kYappSendInit));
    waiting_ = true;
    ++Sendinit_Count;
    yapptimer = now + kSendInitRetrySeconds;
    return;
  }
  if (!inready()) {
    // A try waits its time, however often the step is called meanwhile.
    if (now < yapptimer) return;
    if (Sendinit_Count >= kSendInitTries) {
      // A late answer of the station's still belongs to the transfer, not
      // to the command interpreter: wait for it as after any cancel.
      Cancel("Timeout");
      return;
    }
    host_->SendPacket(std::string(kYappSendInit));
    ++Sendinit_Count;
    state = kSendInitAgain;
    yapptimer = now + kSendInitRetrySeconds;
    return;
  }
  switch (NextPacket()) {
    case kYappPartial: return;
    case kYappRR:
      state = kSendHeader;
      Progress(StateName(state));
      return;
    case kYappRF:
    case kYappRT:
      // A receiver that wants no header; it may still ask for checksums.
      checksums_ = ptype == kYappRT;
      state = kSendData;
      Progress(StateName(state));
      return;
    case kYappRI:
      waiting_ = false;
      state = kSendInit;
      return;
    case kYappNR: Finish(host_->Texts().aborted); return;
    case kYappCN: state = kRcdAbort; return;
    default: state = kSndAbort; return;
  }
}

void TYappXfer::Sendhdr() {
  if (!hdrSent_) {
    host_->SendPacket(YappHeader(pkfname, size_, dosDateTime_));
    hdrSent_ = true;
    AwaitAnswer();
    xferhdr = pkfname + " " + std::to_string(size_);
    Progress(StateName(state));
    return;
  }
  if (!inready()) {
    if (AnswerOverdue()) GiveUp("Timeout");
    return;
  }
  switch (NextPacket()) {
    case kYappPartial: return;
    case kYappRF:
    case kYappRT:
      // Plain YAPP or YAPP-C, as the receiver chooses.
      checksums_ = ptype == kYappRT;
      state = kSendData;
      Progress(StateName(state));
      return;
    case kYappNR: {
      // A receiver with the file's beginning from an earlier try asks for
      // the rest; any other not-ready ends the transfer.
      const unsigned char* body = reader_.body();
      const size_t length = reader_.length();
      if (length < 2 || body[0] != 'R' || body[1] != 0) {
        Finish(host_->Texts().aborted);
        return;
      }
      // A receiver that asked to resume waits for data, not for a prompt:
      // a resume we cannot give is cancelled, with the reason.
      unsigned long long have = 0;
      bool checksums = false;
      if (!ParseYappResume(body, length, &have, &checksums)) {
        GiveUp("Bad resume request");
        return;
      }
      if (have > size_) {
        GiveUp("Resume beyond end of file");
        return;
      }
      if (!infile || ::fseeko(infile, static_cast<off_t>(have), SEEK_SET) != 0) {
        GiveUp("Cannot resume");
        return;
      }
      checksums_ = checksums;
      xfercnt = static_cast<long long>(have);
      state = kSendData;
      Progress(StateName(state));
      return;
    }
    case kYappCN: state = kRcdAbort; return;
    default: state = kSndAbort; return;
  }
}

void TYappXfer::Senddata() {
  if (inready()) {
    switch (NextPacket()) {
      case kYappPartial: break;
      case kYappCN: state = kRcdAbort; return;
      default: state = kSndAbort; return;
    }
  }
  char data[256];
  const size_t n = infile ? std::fread(data, 1, sizeof data, infile) : 0;
  if (!infile || std::ferror(infile)) {
    state = kSndAbort;
    return;
  }
  // An empty read sends nothing: a data packet of length 0 would mean 256 bytes.
  if (n > 0) {
    host_->SendPacket(YappData(data, n, checksums_));
    xfercnt += static_cast<long long>(n);
    host_->CountDownload(static_cast<long>(n));
    Progress(StateName(state));
  }
  yapptimer = host_->Now();
  if (n < sizeof data) state = kSendEof;
}

void TYappXfer::SendEOF() {
  host_->SendPacket(std::string(kYappEndOfFile));
  xferok = true;
  terminate = true;
  closefile(infile);
  state = kSendEot;
  AwaitAnswer();
  Progress(StateName(state));
  host_->LogTransfer(63, filname);
}

void TYappXfer::SendEOT() {
  if (!inready()) {
    if (etSent_ && yapptimer < host_->Now()) Finish("\r");
    else if (!etSent_ && AnswerOverdue()) GiveUp("Timeout");
    return;
  }
  while (inready()) {
    const int p = GetPack();
    if (p == kYappPartial) return;
    if (p == kYappAF && !etSent_) {
      // The receiver has the file; one file per command, so the transfer
      // ends, and the receiver's last acknowledgement is awaited.
      host_->SendPacket(std::string(kYappEndOfXfer));
      etSent_ = true;
      yapptimer = host_->Now() + kLastWordSeconds;
      continue;
    }
    if (p == kYappCN) {
      host_->SendPacket(std::string(kYappCanAck));
      Finish(host_->Texts().aborted);
      return;
    }
    unsigned char b;
    while (readyapp(&b)) {
    }
    Finish("\r");
    return;
  }
}

// ---- cancelling --------------------------------------------------------------

void TYappXfer::Cancel(const std::string& reason) {
  // Never an empty reason: peers read a length of 0 as 256 and wait for them.
  host_->SendPacket(YappCancel(reason));
  state = kWaitAbtAck;
  yapptimer = host_->Now() + kLastWordSeconds;
}

void TYappXfer::GiveUp(const char* reason) {
  cancelReason_ = reason;
  state = kSndAbort;
}

void TYappXfer::Abort() {
  DropPart();
  closefile(infile);
  if (state == kRcdAbort) {
    // The station cancelled: it waits for the acknowledgement, then is done.
    host_->SendPacket(std::string(kYappCanAck));
    Finish(host_->Texts().aborted);
    return;
  }
  Cancel(cancelReason_);
  Progress(StateName(state));
}

void TYappXfer::AwaitCancelAck() {
  if (!inready()) {
    if (yapptimer < host_->Now()) Finish(host_->Texts().aborted);
    return;
  }
  // Whatever the station had under way is dropped, up to its answer.
  while (inready()) {
    const int p = GetPack();
    if (p == kYappCA || p == kYappCN) {
      if (p == kYappCN) host_->SendPacket(std::string(kYappCanAck));
      Finish(host_->Texts().aborted);
      return;
    }
  }
  yapptimer = host_->Now() + kLastWordSeconds;
}

}  // namespace orn
