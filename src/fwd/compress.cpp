#include "fwd/compress.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "platform/file_names.h"

namespace orn {
namespace {

// The longest code a valid stream of kMaxTextLength bytes can need: literal
// codes stay below 24 bits. Input past this is never read; if the text needs
// it, the stream is reported as cut short.
constexpr size_t kMaxStreamLength = lzhuf::kHeaderSize + size_t{3} * lzhuf::kMaxTextLength;

// How much nicer than their starter the coder threads run (on Linux niceness
// is a per-thread property).
constexpr int kCoderNice = 10;
constexpr int kMaxNice = 19;

}  // namespace

TCompress::TCompress(CompressOwner* parent) : parent_(parent) {}

TCompress::~TCompress() {
  if (infile_) std::fclose(infile_);
  if (outfile_) std::fclose(outfile_);
}

bool TCompress::Open(const std::string& inName, const std::string& outName) {
  inName_ = ResolveCase(inName);
  outName_ = ResolveCase(outName);
  infile_ = std::fopen(inName_.c_str(), "rb");
  if (infile_) outfile_ = std::fopen(outName_.c_str(), "wb");
  if (infile_ && outfile_) return true;
  if (infile_) std::fclose(infile_);
  infile_ = nullptr;
  return false;
}

void TCompress::Error(const std::string& message) {
  if (error_.empty()) error_ = message;
}

bool TCompress::ReadInput(size_t limit, std::string* data) {
  char chunk[64 * 1024];
  while (data->size() < limit) {
    size_t want = std::min(sizeof chunk, limit - data->size());
    size_t got = std::fread(chunk, 1, want, infile_);
    data->append(chunk, got);
    if (got < want) break;
  }
  if (std::ferror(infile_)) {
    Error("Can't read " + inName_ + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

bool TCompress::WriteOutput(const std::string& data) {
  if (std::fwrite(data.data(), 1, data.size(), outfile_) != data.size() ||
      std::fflush(outfile_) != 0) {
    Error("Can't write " + outName_ + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

void TCompress::Encode() {
  if (!infile_ || !outfile_) {
    Error("files not open");
  } else {
    std::string text;
    // One byte more than allowed tells a text that is too long.
    if (ReadInput(lzhuf::kMaxTextLength + size_t{1}, &text)) {
      std::string code;
      auto coder = std::make_unique<LzhufEncoder>();
      LzhufError err = coder->Encode(text, &code, &stop_);
      if (err != LzhufError::kNone) {
        Error(inName_ + ": " + LzhufErrorText(err));
      } else {
        WriteOutput(code);
      }
    }
  }
  Finish();
}

void TCompress::Decode() {
  if (!infile_ || !outfile_) {
    Error("files not open");
  } else {
    std::string code;
    if (ReadInput(kMaxStreamLength, &code)) {
      std::string text;
      auto coder = std::make_unique<LzhufDecoder>();
      LzhufError err = coder->Decode(code, &text, &stop_);
      if (err != LzhufError::kNone) {
        Error(inName_ + ": " + LzhufErrorText(err));
      } else {
        WriteOutput(text);
      }
    }
  }
  Finish();
}

void TCompress::Finish() {
  if (infile_) std::fclose(infile_);
  infile_ = nullptr;
  if (outfile_ && std::fclose(outfile_) != 0) Error("Can't write " + outName_ + ": " + std::strerror(errno));
  outfile_ = nullptr;
  if (!parent_) return;
  CompressOwner* owner = parent_;
  if (failed()) owner->coderfailed.store(true, std::memory_order_relaxed);
  owner->donotrcvdde.store(false, std::memory_order_release);
}

int Enc(TCompress* coder) {
  coder->Encode();
  return 0;
}

int Dec(TCompress* coder) {
  coder->Decode();
  return 0;
}

bool StartCoderThread(int (*entry)(TCompress*), TCompress* coder, std::thread* thread) {
  try {
    *thread = std::thread([entry, coder] {
      // Lower than the thread that started it, never higher (root could
      // raise it). Failing is harmless: the coder only runs sooner.
      const auto self = static_cast<id_t>(::gettid());
      errno = 0;
      int nice = ::getpriority(PRIO_PROCESS, self);
      if (errno == 0 && nice < kMaxNice) {
        (void)::setpriority(PRIO_PROCESS, self, std::min(nice + kCoderNice, kMaxNice));
      }
      entry(coder);
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace orn
