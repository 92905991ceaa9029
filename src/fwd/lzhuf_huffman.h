// The adaptive Huffman code of LZHUF for its 314 character codes: 256
// literals and 58 match lengths. Encoder and decoder keep identical trees by
// applying the same update after every code.
#pragma once

#include <cstdint>

#include "fwd/lzhuf_bits.h"
#include "fwd/lzhuf_params.h"

namespace orn::lzhuf {

class AdaptiveHuffman {
 public:
  // Every code at frequency 1, leaves paired bottom-up under the root.
  void StartHuff();

  // Counts one more occurrence of code c, keeping the nodes sorted by frequency.
  void update(int c);

  void EncodeChar(BitWriter& out, int c);
  int DecodeChar(BitReader& in) {
    int node = son_[kRoot];
    while (node < kTreeSize) node = son_[node + in.GetBit()];
    int c = node - kTreeSize;
    update(c);
    return c;
  }

  // Length of the current code of c, in bits.
  int Depth(int c) const;
  unsigned RootFrequency() const { return freq_[kRoot]; }

 private:
  // Halves every frequency and rebuilds the internal nodes.
  void reconst();

  uint16_t freq_[kTreeSize + 1];         // entry kTreeSize is a 0xFFFF sentinel
  int16_t prnt_[kTreeSize + kCharCodes];  // from kTreeSize on: the leaf of each code
  int16_t son_[kTreeSize];                // first child; kTreeSize + c marks the leaf of c
};

}  // namespace orn::lzhuf
