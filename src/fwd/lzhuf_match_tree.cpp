#include "fwd/lzhuf_match_tree.h"

#include <cstring>

namespace orn::lzhuf {

void MatchTree::InitTree() {
  std::memset(text_buf, 0, sizeof text_buf);
  for (int i = kRingSize + 1; i <= kRingSize + 256; ++i) rson_[i] = kNil;
  for (int i = 0; i < kRingSize; ++i) dad_[i] = kNil;
  match_position = match_length = 0;
}

int MatchTree::Compare(int r, int p, int* cmp) const {
  const uint8_t* key = &text_buf[r];
  const uint8_t* other = &text_buf[p];
  for (int i = 1; i < kMaxMatch; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, key + i, 8);
    std::memcpy(&b, other + i, 8);
    if (a != b) {
      int at = i + __builtin_ctzll(a ^ b) / 8;  // the first differing byte (little-endian load)
      if (at >= kMaxMatch) break;
      *cmp = static_cast<int>(key[at]) - static_cast<int>(other[at]);
      return at;
    }
  }
  *cmp = 0;
  return kMaxMatch;
}

void MatchTree::InsertNode(int r) {
  int cmp = 1;
  int p = kRingSize + 1 + text_buf[r];
  rson_[r] = lson_[r] = kNil;
  match_length = 0;
  for (;;) {
    if (cmp >= 0) {
      if (rson_[p] != kNil) {
        p = rson_[p];
      } else {
        rson_[p] = static_cast<int16_t>(r);
        dad_[r] = static_cast<int16_t>(p);
        return;
      }
    } else {
      if (lson_[p] != kNil) {
        p = lson_[p];
      } else {
        lson_[p] = static_cast<int16_t>(r);
        dad_[r] = static_cast<int16_t>(p);
        return;
      }
    }
    int i = Compare(r, p, &cmp);
    if (i > kThreshold) {
      int position = ((r - p) & kRingMask) - 1;
      if (i > match_length) {
        match_position = position;
        if ((match_length = i) >= kMaxMatch) break;
      } else if (i == match_length && position < match_position) {
        match_position = position;
      }
    }
  }
  // A full match: r takes p's place in the tree.
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
