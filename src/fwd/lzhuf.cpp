#include "fwd/lzhuf.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace orn {
namespace {

using namespace lzhuf;

// The upper six bits of a match position go out in a fixed prefix code:
// p_len[i] bits of p_code[i], from the top (the published tables).
constexpr std::array<uint8_t, 64> p_len = {
    0x03, 0x04, 0x04, 0x04, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x06,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x08, 0x08, 0x08, 0x08,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08};

constexpr std::array<uint8_t, 64> p_code = {
    0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60, 0x68, 0x70, 0x78, 0x80, 0x88, 0x90,
    0x94, 0x98, 0x9C, 0xA0, 0xA4, 0xA8, 0xAC, 0xB0, 0xB4, 0xB8, 0xBC, 0xC0, 0xC2,
    0xC4, 0xC6, 0xC8, 0xCA, 0xCC, 0xCE, 0xD0, 0xD2, 0xD4, 0xD6, 0xD8, 0xDA, 0xDC,
    0xDE, 0xE0, 0xE2, 0xE4, 0xE6, 0xE8, 0xEA, 0xEC, 0xEE, 0xF0, 0xF1, 0xF2, 0xF3,
    0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};

// The decoding tables, indexed by the next eight bits of the stream: the
// upper six position bits and the length of their code. The published
// program lists them; they follow from the two above, entry for entry.
struct DecodeTables {
  std::array<uint8_t, 256> d_code{};
  std::array<uint8_t, 256> d_len{};
};

constexpr DecodeTables MakeDecodeTables() {
  DecodeTables t;
  for (int i = 0; i < 64; ++i) {
    int span = 1 << (8 - p_len[i]);
    for (int b = p_code[i]; b < p_code[i] + span; ++b) {
      t.d_code[b] = static_cast<uint8_t>(i);
      t.d_len[b] = p_len[i];
    }
  }
  return t;
}

constexpr DecodeTables kDecode = MakeDecodeTables();

// Every byte value starts exactly one code: the prefix code is complete.
constexpr bool CodesTileTheByte() {
  int next = 0;
  for (int i = 0; i < 64; ++i) {
    if (p_code[i] != next) return false;
    next += 1 << (8 - p_len[i]);
  }
  return next == 256;
}
static_assert(CodesTileTheByte());
static_assert(kDecode.d_code[0x1F] == 0 && kDecode.d_len[0x1F] == 3);
static_assert(kDecode.d_code[0x20] == 1 && kDecode.d_len[0x4F] == 4);
static_assert(kDecode.d_code[0x90] == 12 && kDecode.d_len[0xBF] == 6);
static_assert(kDecode.d_code[0xFF] == 63 && kDecode.d_len[0xF0] == 8);

// The coders look at the stop request this often (bytes of text).
constexpr uint32_t kStopCheckInterval = 64 * 1024;

bool StopRequested(const std::atomic<bool>* stop) {
  return stop && stop->load(std::memory_order_relaxed);
}

void PutHeader(uint32_t length, std::string* out) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
}

}  // namespace

const char* LzhufErrorText(LzhufError error) {
  switch (error) {
    case LzhufError::kNone:
      return "no error";
    case LzhufError::kShortHeader:
      return "compressed input shorter than its header";
    case LzhufError::kTooLong:
      return "text too long";
    case LzhufError::kTruncated:
      return "compressed input ends before its text";
    case LzhufError::kStopped:
      return "stopped";
    case LzhufError::kLeftOver:
      return "compressed input holds more than its text";
  }
  return "unknown error";
}

uint32_t LzhufTextLength(std::string_view stream) {
  uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<uint8_t>(stream[i]);
  return length;
}

void LzhufEncoder::EncodePosition(BitWriter& out, int c) {
  int i = c >> 6;
  out.Putcode(p_len[i], static_cast<uint32_t>(p_code[i]) << 24);
  out.Putcode(6, static_cast<uint32_t>(c & 0x3F) << 26);
}

LzhufError LzhufEncoder::Encode(std::string_view text, std::string* out,
                                const std::atomic<bool>* stop) {
  if (text.size() > kMaxTextLength) return LzhufError::kTooLong;
  const auto size = static_cast<uint32_t>(text.size());
  PutHeader(size, out);
  if (size == 0) return LzhufError::kNone;
  out->reserve(out->size() + size / 2 + 16);

  const auto* in = reinterpret_cast<const uint8_t*>(text.data());
  uint32_t next = 0;  // next input byte
  uint32_t nextStopCheck = kStopCheckInterval;
  BitWriter bits(out);
  uint8_t* ring = tree_.text_buf;

  huff_.StartHuff();
  tree_.InitTree();
  int s = 0;
  int r = kRingSize - kMaxMatch;
  std::memset(ring, ' ', static_cast<size_t>(r));
  int len = 0;
  while (len < kMaxMatch && next < size) ring[r + len++] = in[next++];
  // The blanks before r are strings too: a text may begin with a match.
  for (int i = 1; i <= kMaxMatch; ++i) tree_.InsertNode(r - i);
  tree_.InsertNode(r);

  do {
    if (tree_.match_length > len) tree_.match_length = len;
    if (tree_.match_length <= kThreshold) {
      tree_.match_length = 1;
      huff_.EncodeChar(bits, ring[r]);
    } else {
      huff_.EncodeChar(bits, 255 - kThreshold + tree_.match_length);
      EncodePosition(bits, tree_.match_position);
    }
    int last_match_length = tree_.match_length;
    int i = 0;
    for (; i < last_match_length && next < size; ++i) {
      tree_.DeleteNode(s);
      tree_.Store(s, in[next++]);
      s = (s + 1) & kRingMask;
      r = (r + 1) & kRingMask;
      tree_.InsertNode(r);
    }
    // At the end of the text the look-ahead keeps its stale bytes; they
    // still take part in comparisons, as in the published program.
    while (i++ < last_match_length) {
      tree_.DeleteNode(s);
      s = (s + 1) & kRingMask;
      r = (r + 1) & kRingMask;
      if (--len) tree_.InsertNode(r);
    }
    if (next >= nextStopCheck) {
      if (StopRequested(stop)) return LzhufError::kStopped;
      nextStopCheck = next + kStopCheckInterval;
    }
  } while (len > 0);
  bits.EncodeEnd();
  return LzhufError::kNone;
}

int LzhufDecoder::DecodePosition(BitReader& in) {
  int i = in.GetByte();
  int c = kDecode.d_code[i] << 6;
  int j = kDecode.d_len[i] - 2;
  while (j--) i = (i << 1) + in.GetBit();
  return c | (i & 0x3F);
}

LzhufError LzhufDecoder::Decode(std::string_view stream, std::string* out,
                                const std::atomic<bool>* stop) {
  out->clear();
  if (stream.size() < kHeaderSize) return LzhufError::kShortHeader;
  const uint32_t size = LzhufTextLength(stream);
  if (size > kMaxTextLength) return LzhufError::kTooLong;
  const size_t codeBytes = stream.size() - kHeaderSize;
  // A length word that disagrees with the code would give a text cut short.
  if (size == 0) return codeBytes ? LzhufError::kLeftOver : LzhufError::kNone;

  BitReader bits(reinterpret_cast<const uint8_t*>(stream.data()) + kHeaderSize, codeBytes);
  // Every code takes at least one bit, a match at least ten bits for at most
  // kMaxMatch bytes: no stream of this size can give more text than this,
  // so a damaged header cannot make us reserve memory for nothing.
  const uint64_t most = static_cast<uint64_t>(codeBytes) * 8 * kMaxMatch / 10 + kMaxMatch;
  const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(size, most));
  out->resize(limit);
  auto* text = reinterpret_cast<uint8_t*>(out->data());

  huff_.StartHuff();
  std::memset(text_buf_, ' ', kRingSize - kMaxMatch);
  std::memset(text_buf_ + kRingSize - kMaxMatch, 0, kMaxMatch);
  int r = kRingSize - kMaxMatch;
  uint32_t count = 0;
  uint32_t nextStopCheck = kStopCheckInterval;
  while (count < limit) {
    const uint32_t before = count;
    int c = huff_.DecodeChar(bits);
    if (c < 256) {
      text[count++] = static_cast<uint8_t>(c);
      text_buf_[r] = static_cast<uint8_t>(c);
      r = (r + 1) & kRingMask;
    } else {
      int i = (r - DecodePosition(bits) - 1) & kRingMask;
      int j = c - 255 + kThreshold;
      // A valid stream never runs past its length; a damaged one must not grow the text.
      j = static_cast<int>(std::min<uint32_t>(static_cast<uint32_t>(j), limit - count));
      for (int k = 0; k < j; ++k) {
        uint8_t b = text_buf_[(i + k) & kRingMask];
        text[count++] = b;
        text_buf_[r] = b;
        r = (r + 1) & kRingMask;
      }
    }
    if (bits.Overran()) {  // the last code was made of filler: drop its text
      out->resize(before);
      return LzhufError::kTruncated;
    }
    if (count >= nextStopCheck) {
      if (StopRequested(stop)) {
        out->resize(count);
        return LzhufError::kStopped;
      }
      nextStopCheck = count + kStopCheckInterval;
    }
  }
  if (count < size) return LzhufError::kTruncated;  // more text than the code can hold
  if (bits.UnreadBytes() != 0) return LzhufError::kLeftOver;
  return LzhufError::kNone;
}

LzhufError LzhufEncode(std::string_view text, std::string* out) {
  auto coder = std::make_unique<LzhufEncoder>();
  return coder->Encode(text, out);
}

LzhufError LzhufDecode(std::string_view stream, std::string* out) {
  auto coder = std::make_unique<LzhufDecoder>();
  return coder->Decode(stream, out);
}

}  // namespace orn
