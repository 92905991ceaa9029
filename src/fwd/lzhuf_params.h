// The parameters of the LZHUF coder as BBSes use it on the air: the published
// program's values, except for a ring of 2048 bytes instead of 4096. A stream
// made with a 4096-byte ring does not decode with these.
#pragma once

#include <cstdint>

namespace orn::lzhuf {

inline constexpr int kRingSize = 2048;                  // N; also the empty link of the match tree
inline constexpr int kRingMask = kRingSize - 1;
inline constexpr int kMaxMatch = 60;                    // F
inline constexpr int kThreshold = 2;                    // K: longer matches are coded as matches
inline constexpr int kCharCodes = 256 - kThreshold + kMaxMatch;  // C = 314
inline constexpr int kTreeSize = 2 * kCharCodes - 1;    // T = 627
inline constexpr int kRoot = kTreeSize - 1;             // R = 626
inline constexpr unsigned kMaxFreq = 0x8000;            // M: root frequency that halves the tree
inline constexpr int kHeaderSize = 4;                   // text length, least significant byte first

// Nothing the message store keeps comes near this; a header claiming more is damage.
inline constexpr uint32_t kMaxTextLength = 16u * 1024 * 1024;

}  // namespace orn::lzhuf
