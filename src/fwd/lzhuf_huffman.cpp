#include "fwd/lzhuf_huffman.h"

#include <cstring>

namespace orn::lzhuf {

void AdaptiveHuffman::StartHuff() {
  for (int i = 0; i < kCharCodes; ++i) {
    freq_[i] = 1;
    son_[i] = static_cast<int16_t>(i + kTreeSize);
    prnt_[i + kTreeSize] = static_cast<int16_t>(i);
  }
  for (int i = 0, j = kCharCodes; j <= kRoot; i += 2, ++j) {
    freq_[j] = static_cast<uint16_t>(freq_[i] + freq_[i + 1]);
    son_[j] = static_cast<int16_t>(i);
    prnt_[i] = prnt_[i + 1] = static_cast<int16_t>(j);
  }
  freq_[kTreeSize] = 0xFFFF;
  prnt_[kRoot] = 0;
}

void AdaptiveHuffman::reconst() {
  // The leaves, in their (sorted) order, with frequencies halved and rounded up.
  int j = 0;
  for (int i = 0; i < kTreeSize; ++i) {
    if (son_[i] >= kTreeSize) {
      freq_[j] = static_cast<uint16_t>((freq_[i] + 1) / 2);
      son_[j] = son_[i];
      ++j;
    }
  }
  // Each pair's sum goes in at its place in frequency order. The published
  // program moves (j - k) * 2 bytes, i.e. j - k 16-bit entries, as here.
  for (int i = 0, j = kCharCodes; j < kTreeSize; i += 2, ++j) {
    unsigned f = freq_[i] + freq_[i + 1];
    freq_[j] = static_cast<uint16_t>(f);
    int k = j - 1;
    while (f < freq_[k]) --k;
    ++k;
    size_t moved = static_cast<size_t>(j - k);
    std::memmove(&freq_[k + 1], &freq_[k], moved * sizeof freq_[0]);
    freq_[k] = static_cast<uint16_t>(f);
    std::memmove(&son_[k + 1], &son_[k], moved * sizeof son_[0]);
    son_[k] = static_cast<int16_t>(i);
  }
  for (int i = 0; i < kTreeSize; ++i) {
    int k = son_[i];
    if (k >= kTreeSize) {
      prnt_[k] = static_cast<int16_t>(i);
    } else {
      prnt_[k] = prnt_[k + 1] = static_cast<int16_t>(i);
    }
  }
}

void AdaptiveHuffman::update(int c) {
  if (freq_[kRoot] == kMaxFreq) reconst();
  int node = prnt_[c + kTreeSize];
  do {
    unsigned k = ++freq_[node];
    // Out of order: swap with the last node of lower frequency.
    int l = node + 1;
    if (k > freq_[l]) {
      while (k > freq_[++l]) {
      }
      --l;
      freq_[node] = freq_[l];
      freq_[l] = static_cast<uint16_t>(k);

      int i = son_[node];
      prnt_[i] = static_cast<int16_t>(l);
      if (i < kTreeSize) prnt_[i + 1] = static_cast<int16_t>(l);

      int j = son_[l];
      son_[l] = static_cast<int16_t>(i);

      prnt_[j] = static_cast<int16_t>(node);
      if (j < kTreeSize) prnt_[j + 1] = static_cast<int16_t>(node);
      son_[node] = static_cast<int16_t>(j);

      node = l;
    }
    node = prnt_[node];
  } while (node != 0);
}

void AdaptiveHuffman::EncodeChar(BitWriter& out, int c) {
  // The path from the leaf up to the root, each new bit entering at the top.
  // Frequencies are 16-bit and sum to at most 0x8000, which keeps a Huffman
  // tree far shallower than 32 levels; the published program keeps only 16
  // bits and so corrupts the rare code that is longer.
  uint32_t code = 0;
  int len = 0;
  int node = prnt_[c + kTreeSize];
  do {
    code >>= 1;
    if (node & 1) code |= 0x80000000u;
    ++len;
    node = prnt_[node];
  } while (node != kRoot);
  out.Putcode(len, code);
  update(c);
}

int AdaptiveHuffman::Depth(int c) const {
  int len = 0;
  int node = prnt_[c + kTreeSize];
  do {
    ++len;
    node = prnt_[node];
  } while (node != kRoot);
  return len;
}

}  // namespace orn::lzhuf
