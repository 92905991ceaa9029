#include "fwd/lzhuf_match_tree.h"

#include <bit>
#include <cstring>

namespace orn::lzhuf {
namespace {

// Eight bytes as a big-endian number: comparing two of them compares the
// bytes in order, and the leading zeros of their difference count equal bytes.
static_assert(std::endian::native == std::endian::little, "Load8 swaps a little-endian load");
uint64_t Load8(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

}  // namespace

void MatchTree::InitTree() {
  std::memset(text_buf, 0, sizeof text_buf);
  for (int i = kRingSize + 1; i <= kRingSize + 256; ++i) rson_[i] = kNil;
  for (int i = 0; i < kRingSize; ++i) dad_[i] = kNil;
  match_position = match_length = 0;
}

void MatchTree::InsertNode(int r) {
  // The string's bytes 1 to 8 (byte 0 chose the tree). The walk keeps its
  // state in locals: it reads the ring through byte pointers, after which the
  // compiler would otherwise reload every member following each store.
  const uint8_t* buf = text_buf;
  const uint64_t head = Load8(buf + r + 1);
  int length = 0;
  int position = match_position;
  rson_[r] = lson_[r] = kNil;

  int p = kRingSize + 1 + buf[r];
  if (rson_[p] == kNil) {
    rson_[p] = static_cast<int16_t>(r);
    dad_[r] = static_cast<int16_t>(p);
    match_length = 0;
    return;
  }
  p = rson_[p];
  uint64_t other = Load8(buf + p + 1);
  for (;;) {
    // Both children and their heads are fetched before the comparison
    // decides between them (an empty link reads harmless bytes): the walk
    // is a chain of dependent loads, and this takes one load off each step.
    const int left = lson_[p];
    const int rightChild = rson_[p];
    const uint64_t leftHead = Load8(buf + left + 1);
    const uint64_t rightHead = Load8(buf + rightChild + 1);

    // i: length of the common start of the strings at r and p, at most kMaxMatch.
    int i;
    bool right;
    if (head != other) {
      i = 1 + __builtin_clzll(head ^ other) / 8;
      right = head > other;
    } else {
      i = kMaxMatch;
      right = true;
      for (int at = 9; at < kMaxMatch; at += 8) {
        const uint64_t a = Load8(buf + r + at);
        const uint64_t b = Load8(buf + p + at);
        if (a != b) {
          i = at + __builtin_clzll(a ^ b) / 8;
          right = a > b;
          break;
        }
      }
      if (i > kMaxMatch) i = kMaxMatch;  // a difference past the string's end
    }
    // A longer match than any so far, or an equally long and nearer one, is
    // the new match. Which case holds, and which way the walk goes, is
    // unpredictable: the choices are made with masks, not branches.
    const int here = ((r - p) & kRingMask) - 1;
    const int floor = length > kThreshold ? length : kThreshold;
    const int longer = -static_cast<int>(i > floor);
    const int take = longer | -static_cast<int>((i == length) & (here < position));
    position = (here & take) | (position & ~take);
    length = (i & longer) | (length & ~longer);
    if (length >= kMaxMatch) {
      ReplaceNode(p, r);
      break;
    }
    const int side = -static_cast<int>(right);
    const int next = (rightChild & side) | (left & ~side);
    if (next == kNil) {
      if (right) {
        rson_[p] = static_cast<int16_t>(r);
      } else {
        lson_[p] = static_cast<int16_t>(r);
      }
      dad_[r] = static_cast<int16_t>(p);
      break;
    }
    const uint64_t wide = static_cast<uint64_t>(static_cast<int64_t>(side));
    other = (rightHead & wide) | (leftHead & ~wide);
    p = next;
  }
  match_length = length;
  match_position = position;
}

void MatchTree::ReplaceNode(int p, int r) {
  dad_[r] = dad_[p];
  lson_[r] = lson_[p];
  rson_[r] = rson_[p];
  dad_[lson_[p]] = static_cast<int16_t>(r);
  dad_[rson_[p]] = static_cast<int16_t>(r);
  if (rson_[dad_[p]] == p) {
    rson_[dad_[p]] = static_cast<int16_t>(r);
  } else {
    lson_[dad_[p]] = static_cast<int16_t>(r);
  }
  dad_[p] = kNil;
}

void MatchTree::DeleteNode(int p) {
  if (dad_[p] == kNil) return;  // not in a tree
  int q;
  if (rson_[p] == kNil) {
    q = lson_[p];
  } else if (lson_[p] == kNil) {
    q = rson_[p];
  } else {
    q = lson_[p];
    if (rson_[q] != kNil) {
      do {
        q = rson_[q];
      } while (rson_[q] != kNil);
      rson_[dad_[q]] = lson_[q];
      dad_[lson_[q]] = dad_[q];
      lson_[q] = lson_[p];
      dad_[lson_[p]] = static_cast<int16_t>(q);
    }
    rson_[q] = rson_[p];
    dad_[rson_[p]] = static_cast<int16_t>(q);
  }
  dad_[q] = dad_[p];
  if (rson_[dad_[p]] == p) {
    rson_[dad_[p]] = static_cast<int16_t>(q);
  } else {
    lson_[dad_[p]] = static_cast<int16_t>(q);
  }
  dad_[p] = kNil;
}

}  // namespace orn::lzhuf
