// The ring of recent text and the binary search trees over its strings that
// find the longest earlier match of the string at a ring position.
#pragma once

#include <cstdint>

#include "fwd/lzhuf_params.h"

namespace orn::lzhuf {

class MatchTree {
 public:
  static constexpr int kNil = kRingSize;
  // kMaxMatch - 1 bytes after the ring mirror its start, so a string never wraps.
  static constexpr int kBufferSize = kRingSize + kMaxMatch - 1;

  // Empties every tree and zeroes the ring.
  void InitTree();

  // Puts the string at r into its tree and sets match_length and
  // match_position to its longest earlier match (the nearest of equals). A
  // string equal in all kMaxMatch bytes takes the place of the older one.
  void InsertNode(int r);
  void DeleteNode(int p);

  // Stores a text byte at ring position s, and in the mirror.
  void Store(int s, uint8_t c) {
    text_buf[s] = c;
    if (s < kMaxMatch - 1) text_buf[s + kRingSize] = c;
  }

  // Bytes past kBufferSize let the comparison read whole words; they are never part of a string.
  uint8_t text_buf[kBufferSize + 8];
  int match_position = 0;
  int match_length = 0;

 private:
  // A string equal to p in all kMaxMatch bytes takes p's place in the tree.
  void ReplaceNode(int p, int r);

  int16_t lson_[kRingSize + 1];
  int16_t rson_[kRingSize + 257];  // kRingSize + 1 + c is the root of strings beginning with c
  int16_t dad_[kRingSize + 1];
};

}  // namespace orn::lzhuf
