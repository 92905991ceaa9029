// Expanding arbitrary bytes must end cleanly: never more text than the
// header announces, exactly that much on success, over-long headers refused,
// and whatever expands compresses back to a stream that expands to it again.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "fwd/lzhuf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view stream(reinterpret_cast<const char*>(data), size);
  auto decoder = std::make_unique<orn::LzhufDecoder>();
  std::string text;
  orn::LzhufError err = decoder->Decode(stream, &text);
  if (size < 4) {
    if (err != orn::LzhufError::kShortHeader || !text.empty()) std::abort();
    return 0;
  }
  const uint32_t length = orn::LzhufTextLength(stream);
  if (text.size() > length) std::abort();
  if (length > orn::lzhuf::kMaxTextLength) {
    if (err != orn::LzhufError::kTooLong || !text.empty()) std::abort();
    return 0;
  }
  if (err == orn::LzhufError::kNone) {
    if (text.size() != length) std::abort();
    if (text.size() <= 8 * 1024) {  // the round-trip target covers longer texts
      std::string again, back;
      if (orn::LzhufEncode(text, &again) != orn::LzhufError::kNone) std::abort();
      if (decoder->Decode(again, &back) != orn::LzhufError::kNone || back != text) std::abort();
    }
  } else if (err != orn::LzhufError::kTruncated) {
    std::abort();
  }
  return 0;
}
