// Compression and expansion of one forwarded message file on a worker thread.
//
// The forwarding session sets its donotrcvdde flag, creates a TCompress,
// opens the two files into it and starts Enc or Dec on a thread
// (StartCoderThread). The worker clears donotrcvdde as its very last act;
// until then the session leaves the coder and its files alone, afterwards it
// joins the thread, reads coderfailed and deletes the coder.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "fwd/lzhuf.h"

namespace orn {

// The part of a forwarding session a coder reports to.
struct CompressOwner {
  // Set by the session before the worker starts; cleared by the worker when
  // it is done (release), polled by the session's thread (acquire).
  std::atomic<bool> donotrcvdde{false};
  // Set by the worker, before it clears donotrcvdde, when the output is not
  // to be used: the session then ends as after a failed (de)compression.
  std::atomic<bool> coderfailed{false};
};

class TCompress {
 public:
  // `parent` may be null for a coder run outside a session (the tools).
  explicit TCompress(CompressOwner* parent);
  ~TCompress();
  TCompress(const TCompress&) = delete;
  TCompress& operator=(const TCompress&) = delete;

  // Opens the input for reading and creates the output; false (and nothing
  // left open) when either cannot be opened.
  bool Open(const std::string& inName, const std::string& outName);

  // Compress or expand the input into the output, close both and report to
  // the owner. Each object does one of them, once.
  void Encode();
  void Decode();

  // Asks a running coder to give up soon (as a failure): for a session that
  // goes away while its worker runs. Join the thread afterwards.
  void Stop() { stop_.store(true, std::memory_order_relaxed); }

  // The outcome; read them only once the work is done.
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  bool ReadInput(size_t limit, std::string* data);
  bool WriteOutput(const std::string& data);
  void Error(const std::string& message);
  // Closes both files and tells the owner; the object is not touched after it.
  void Finish();

  CompressOwner* parent_;
  FILE* infile_ = nullptr;
  FILE* outfile_ = nullptr;
  std::string inName_, outName_;
  std::string error_;
  std::atomic<bool> stop_{false};
};

// Thread entries: run Encode or Decode and return 0.
int Enc(TCompress* coder);
int Dec(TCompress* coder);

// Starts entry(coder) on a new thread at a lower scheduling priority, so the
// sessions stay responsive while a long message is coded. False when no thread
// could be created. *thread must not hold a thread that is still to be joined.
bool StartCoderThread(int (*entry)(TCompress*), TCompress* coder, std::thread* thread);

}  // namespace orn
