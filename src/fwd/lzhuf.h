// LZHUF compression of whole buffers, in the stream format forwarding BBSes
// exchange: a 4-byte text length (least significant byte first), then the
// code bits. Each coder object holds all its state, so coders on several
// threads never share anything.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fwd/lzhuf_huffman.h"
#include "fwd/lzhuf_match_tree.h"
#include "fwd/lzhuf_params.h"

namespace orn {

enum class LzhufError {
  kNone,
  kShortHeader,  // compressed input shorter than its 4-byte header
  kTooLong,      // text longer than lzhuf::kMaxTextLength
  kTruncated,    // the code ends before the header's number of bytes
  kLeftOver,     // code left over once the header's number of bytes is out
  kStopped,      // the owner asked the coder to stop
};

const char* LzhufErrorText(LzhufError error);

class LzhufEncoder {
 public:
  // Appends the compressed form of `text` to *out. `stop`, when given, is
  // polled now and then; once it is true the coder gives up with kStopped.
  LzhufError Encode(std::string_view text, std::string* out,
                    const std::atomic<bool>* stop = nullptr);

 private:
  void EncodePosition(lzhuf::BitWriter& out, int c);

  lzhuf::AdaptiveHuffman huff_;
  lzhuf::MatchTree tree_;
};

class LzhufDecoder {
 public:
  // Replaces *out with the text of `stream`: exactly the header's number of
  // bytes on success; on failure, what was decoded before it was detected.
  LzhufError Decode(std::string_view stream, std::string* out,
                    const std::atomic<bool>* stop = nullptr);

 private:
  int DecodePosition(lzhuf::BitReader& in);

  lzhuf::AdaptiveHuffman huff_;
  uint8_t text_buf_[lzhuf::kRingSize];
};

// One-shot helpers for callers that hold the whole buffer; the state lives
// on the heap for the duration of the call.
LzhufError LzhufEncode(std::string_view text, std::string* out);
LzhufError LzhufDecode(std::string_view stream, std::string* out);

// The text length a stream's header announces (the stream must hold 4 bytes).
uint32_t LzhufTextLength(std::string_view stream);

}  // namespace orn
