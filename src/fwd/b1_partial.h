// What a broken B1 transfer leaves behind: the bytes of a message received
// so far, kept in temp/ under the partner's call and the message's BID, so
// that the next session asks for the rest instead of the whole message.
//
// One file per message: a text line "ORNB1 <bid> <size>" (the size the
// proposal announced), " <asked>" after it once the rest has been asked for
// (how often), then the received bytes of the B1 stream as they came
// (CRC, length word, code). Only whole data packets are written, so the file
// always ends where a packet ended.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace orn {

class B1Partial {
 public:
  // Older than this, a partial message is given up.
  static constexpr std::chrono::hours kKeep{24 * 7};
  // What one partner's partial messages may take together: making room for
  // a new one removes the oldest first.
  static constexpr size_t kMaxFilesPerPartner = 32;
  static constexpr uint64_t kMaxBytesPerPartner = 8u * 1024 * 1024;
  // Files a sweep step looks at: a step costs the loop a few milliseconds
  // however many files temp/ holds.
  static constexpr size_t kSweepStepFiles = 200;

  // The most a partial message may hold of the stream for a proposal of
  // `size` bytes: the CRC and length word, and the coded text, which for a
  // short or incompressible text is a little longer than the text itself
  // (random bytes grow by a tenth at most), with room for the R: lines a
  // peer adds to the text it proposes (LinFBB proposes 23 bytes and sends
  // the message with its routing lines); more is not that message.
  static size_t MaxHeld(long size);

  B1Partial(const std::string& tempDir, const std::string& partner, const std::string& bid);

  // The bytes held of the message when the partner announces it with
  // `size`; a file left for another size is removed (0). `asked` (if given)
  // is how often the rest has been asked for.
  size_t Held(long size, int* asked = nullptr);
  // Notes that the rest is asked for once more; false when the file cannot
  // be written.
  bool NoteAsked();
  // Starts the message anew, nothing held; the bytes follow by appending
  // to path().
  bool Begin(long size);
  // Removes the oldest of the partner's other partial messages until this
  // one, holding up to `bytes` of stream, fits beside the rest; false, with
  // nothing removed, when it alone would be more than a partner may keep.
  bool MakeRoom(size_t bytes) const;
  // The stream held, without the line in front.
  bool Read(std::string* stream) const;
  void Remove();
  const std::string& path() const { return path_; }

  // Removes the partial messages of `tempDir` that are older than kKeep or
  // whose BID `known` says has arrived whole.
  static void Sweep(const std::string& tempDir, const std::function<bool(const std::string& bid)>& known);
  // The same in steps of at most kSweepStepFiles files, each going on where
  // the last one in that directory stopped; true when a step reached the end
  // of the directory (the next one begins again).
  static bool SweepStep(const std::string& tempDir, const std::function<bool(const std::string& bid)>& known);

 private:
  // The line in front of the bytes, and the size it names; false when the
  // file is none of ours.
  static bool ReadHead(const std::string& path, std::string* bid, long* size, size_t* headLength,
                       int* asked = nullptr);

  std::string path_, bid_;
  std::string prefix_;  // the file names of the partner's partial messages begin so
};

}  // namespace orn
