// The bit streams of the LZHUF code: bits packed most significant first, the
// last byte padded with zero bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orn::lzhuf {

class BitWriter {
 public:
  explicit BitWriter(std::string* out) : out_(out) {}

  // Appends the top `l` bits (at most 32) of `c`.
  void Putcode(int l, uint32_t c) {
    buf_ |= static_cast<uint64_t>(c) << (32 - len_);
    len_ += l;
    while (len_ >= 8) {
      out_->push_back(static_cast<char>(buf_ >> 56));
      buf_ <<= 8;
      len_ -= 8;
    }
  }

  // Writes the last partial byte, padded with zeros.
  void EncodeEnd() {
    if (len_ > 0) out_->push_back(static_cast<char>(buf_ >> 56));
    buf_ = 0;
    len_ = 0;
  }

 private:
  std::string* out_;
  uint64_t buf_ = 0;  // pending bits, left-aligned
  int len_ = 0;       // fewer than 8 between calls
};

// Past the end of its input the reader delivers zero bits, as the published
// decoder does, but it counts them: a stream whose symbols need them is cut short.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  int GetBit() {
    if (len_ == 0) Refill();
    int bit = static_cast<int>(buf_ >> 63);
    buf_ <<= 1;
    --len_;
    return bit;
  }

  int GetByte() {
    if (len_ < 8) Refill();
    int byte = static_cast<int>(buf_ >> 56);
    buf_ <<= 8;
    len_ -= 8;
    return byte;
  }

  // True once a bit beyond the end of the input has been taken.
  bool Overran() const { return filler_ * 8 > static_cast<uint64_t>(len_); }

  // Whole bytes of the input not yet touched by a bit taken: after the last
  // code of a sound stream there are none (its last byte is padding at most).
  uint64_t UnreadBytes() const {
    const uint64_t bits = static_cast<uint64_t>(end_ - p_) * 8 + static_cast<uint64_t>(len_);
    return bits > filler_ * 8 ? (bits - filler_ * 8) / 8 : 0;
  }

 private:
  void Refill() {
    if (end_ - p_ >= 8 && len_ == 0) {
      uint64_t word = 0;
      for (int i = 0; i < 8; ++i) word = (word << 8) | p_[i];
      p_ += 8;
      buf_ = word;
      len_ = 64;
      return;
    }
    while (len_ <= 56) {
      uint64_t byte = 0;
      if (p_ < end_) {
        byte = *p_++;
      } else {
        ++filler_;
      }
      buf_ |= byte << (56 - len_);
      len_ += 8;
    }
  }

  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t buf_ = 0;  // valid bits, left-aligned
  int len_ = 0;
  uint64_t filler_ = 0;  // zero bytes supplied past the end
};

}  // namespace orn::lzhuf
