// Any text compresses and expands back to itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fwd/lzhuf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string code, back;
  if (orn::LzhufEncode(text, &code) != orn::LzhufError::kNone) std::abort();
  if (orn::LzhufTextLength(code) != size) std::abort();
  if (orn::LzhufDecode(code, &back) != orn::LzhufError::kNone || back != text) std::abort();
  return 0;
}
