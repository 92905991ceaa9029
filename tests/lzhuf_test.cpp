#include "fwd/lzhuf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/file_names.h"

namespace orn {
namespace {

std::string Vector(const std::string& name) {
  std::string data;
  EXPECT_TRUE(ReadWholeFile(std::string(ORN_SOURCE_DIR) + "/tests/data/lzhuf/" + name, &data)) << name;
  return data;
}

// Message-like lines of words from a small vocabulary, CR LF ended.
std::string WordText(size_t size, uint32_t seed) {
  static const char* const kWords[] = {
      "the",   "BBS",  "forward", "message", "packet", "radio", "73",    "de",     "QSL",
      "route", "via",  "XX9ORN",  "bulletin", "TCP/IP", "node", "sysop", "please", "antenna",
      "band",  "1200", "baud",    "link",    "R:",     "@",     "WW",    "net",    "2m"};
  std::mt19937 rng(seed);
  std::string text;
  size_t column = 0;
  while (text.size() < size) {
    const char* w = kWords[rng() % std::size(kWords)];
    text += w;
    column += std::char_traits<char>::length(w);
    if (rng() % 97 == 0) text += std::to_string(rng() % 100000);
    if (column > 60 + rng() % 15) {
      text += "\r\n";
      column = 0;
    } else {
      text += ' ';
      ++column;
    }
  }
  text.resize(size);
  return text;
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  return data;
}

std::string Header(uint32_t length) {
  std::string h;
  for (int i = 0; i < 4; ++i) h.push_back(static_cast<char>(length >> (8 * i)));
  return h;
}

std::string Encoded(std::string_view text) {
  std::string code;
  EXPECT_EQ(LzhufEncode(text, &code), LzhufError::kNone);
  return code;
}

TEST(LzhufTest, PublishedVectors) {
  for (const char* name : {"empty.txt", "one-byte.txt", "abc.txt", "blanks-5000.txt",
                           "text-2049.txt", "message-rheaders.txt"}) {
    SCOPED_TRACE(name);
    std::string text = Vector(name);
    std::string code = Vector(std::string(name) + ".lzh");
    EXPECT_EQ(Encoded(text), code);
    std::string back;
    EXPECT_EQ(LzhufDecode(code, &back), LzhufError::kNone);
    EXPECT_EQ(back, text);
  }
}

TEST(LzhufTest, SmallTextsCompressAsExpected) {
  EXPECT_EQ(Encoded(""), Header(0));
  EXPECT_EQ(Encoded("A"), Header(1) + "\xe6\x80");
  // The ring starts out blank, so blanks are one long match after another.
  EXPECT_LT(Encoded(std::string(5000, ' ')).size(), 150u);
  EXPECT_EQ(Encoded(WordText(70000, 1)).substr(0, 4), std::string("\x70\x11\x01\x00", 4));
}

// Every length up to past two rings, for text, blanks and bytes of every value.
TEST(LzhufTest, RoundTripsEveryLength) {
  struct Kind {
    const char* name;
    std::string data;
  };
  const Kind kinds[] = {{"text", WordText(5000, 2)},
                        {"blanks", std::string(5000, ' ')},
                        {"random", RandomBytes(5000, 3)}};
  LzhufEncoder encoder;
  LzhufDecoder decoder;
  for (const Kind& kind : kinds) {
    for (size_t n = 0; n <= kind.data.size(); ++n) {
      std::string_view text(kind.data.data(), n);
      std::string code, back;
      ASSERT_EQ(encoder.Encode(text, &code), LzhufError::kNone) << kind.name << " " << n;
      ASSERT_EQ(LzhufTextLength(code), n);
      ASSERT_EQ(decoder.Decode(code, &back), LzhufError::kNone) << kind.name << " " << n;
      ASSERT_EQ(back, text) << kind.name << " " << n;
    }
  }
}

// Long enough for the root frequency to reach its limit several times, so
// the tree is halved and rebuilt on both sides.
TEST(LzhufTest, RoundTripsLongTexts) {
  // Random bytes rarely repeat three in a row within the ring: about one
  // code per byte, i.e. ten times past the limit.
  const std::string inputs[] = {WordText(600000, 4), RandomBytes(300000, 5)};
  for (const std::string& text : inputs) {
    std::string code = Encoded(text);
    std::string back;
    ASSERT_EQ(LzhufDecode(code, &back), LzhufError::kNone);
    EXPECT_TRUE(back == text);
  }
}

TEST(LzhufTest, DamagedHeaders) {
  std::string back = "stale";
  for (size_t n = 0; n < 4; ++n) {
    EXPECT_EQ(LzhufDecode(std::string(n, '\0'), &back), LzhufError::kShortHeader) << n;
    EXPECT_EQ(back, "");
  }
  EXPECT_EQ(LzhufDecode(Header(0), &back), LzhufError::kNone);
  EXPECT_EQ(back, "");
  // An empty text has no code: what follows its header is damage.
  EXPECT_EQ(LzhufDecode(Header(0) + "junk", &back), LzhufError::kLeftOver);
  EXPECT_EQ(back, "");
  std::string blanks = Encoded(std::string(5000, ' '));
  EXPECT_EQ(LzhufDecode(Header(lzhuf::kMaxTextLength + 1) + blanks.substr(4), &back),
            LzhufError::kTooLong);
  EXPECT_EQ(LzhufDecode(Header(0xFFFFFFFF) + blanks.substr(4), &back), LzhufError::kTooLong);
  // Allowed, but no code can hold that much.
  EXPECT_EQ(LzhufDecode(Header(lzhuf::kMaxTextLength) + blanks.substr(4), &back),
            LzhufError::kTruncated);
  EXPECT_LT(back.size(), 100000u);
}

TEST(LzhufTest, TextEndsAtTheHeadersLength) {
  // 5000 blanks are 60-byte matches; a header of 4990 ends inside one.
  std::string code = Encoded(std::string(5000, ' '));
  std::string back;
  EXPECT_EQ(LzhufDecode(Header(4990) + code.substr(4), &back), LzhufError::kNone);
  EXPECT_EQ(back, std::string(4990, ' '));
  // A longer header than the code: the code runs out.
  EXPECT_EQ(LzhufDecode(Header(5100) + code.substr(4), &back), LzhufError::kTruncated);
  // A shorter one, or bytes after the code: code is left over, and the text
  // would be cut short or the stream is not what was sent.
  const std::string words = WordText(3000, 3);
  const std::string wordCode = Encoded(words);
  EXPECT_EQ(LzhufDecode(Header(5) + wordCode.substr(4), &back), LzhufError::kLeftOver);
  EXPECT_EQ(LzhufDecode(Header(2000) + wordCode.substr(4), &back), LzhufError::kLeftOver);
  EXPECT_EQ(LzhufDecode(wordCode + std::string(1, '\0'), &back), LzhufError::kLeftOver);
  EXPECT_EQ(LzhufDecode(wordCode, &back), LzhufError::kNone);
  EXPECT_EQ(back, words);
  EXPECT_LE(back.size(), 5100u);
}

TEST(LzhufTest, CutStreamsAreReported) {
  for (const std::string& text : {Vector("message-rheaders.txt"), WordText(3000, 6)}) {
    std::string code = Encoded(text);
    for (size_t n = 4; n < code.size(); ++n) {
      std::string back;
      ASSERT_EQ(LzhufDecode(code.substr(0, n), &back), LzhufError::kTruncated) << n;
      ASSERT_LT(back.size(), text.size());
      ASSERT_EQ(back, text.substr(0, back.size()));
    }
  }
}

TEST(LzhufTest, CorruptCodeNeverExceedsTheHeader) {
  std::string code = Encoded(WordText(4000, 7));
  std::mt19937 rng(8);
  for (int round = 0; round < 2000; ++round) {
    std::string bad = code;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) bad[4 + rng() % (bad.size() - 4)] ^= static_cast<char>(1 << (rng() % 8));
    std::string back;
    LzhufError err = LzhufDecode(bad, &back);
    ASSERT_TRUE(err == LzhufError::kNone || err == LzhufError::kTruncated || err == LzhufError::kLeftOver) << round;
    if (err == LzhufError::kNone) {
      ASSERT_EQ(back.size(), 4000u);
    } else {
      ASSERT_LE(back.size(), 4000u);
    }
  }
}

TEST(LzhufTest, StopRequest) {
  std::atomic<bool> stop{true};
  std::string text = WordText(300000, 9), code, back;
  LzhufEncoder encoder;
  EXPECT_EQ(encoder.Encode(text, &code, &stop), LzhufError::kStopped);
  LzhufDecoder decoder;
  EXPECT_EQ(decoder.Decode(Encoded(text), &back, &stop), LzhufError::kStopped);
  // A coder that gave up starts afresh on the next buffer.
  code.clear();
  EXPECT_EQ(encoder.Encode(text, &code), LzhufError::kNone);
  EXPECT_EQ(code, Encoded(text));
}

// Weights that make a chain above the blanket of unused codes give codes
// longer than 16 bits; they must go out whole.
TEST(LzhufTest, CodesLongerThanSixteenBits) {
  constexpr int kChain = 9;
  constexpr int kUnused = lzhuf::kCharCodes - kChain;
  std::vector<int> symbols;
  std::vector<long> sums = {kUnused};
  for (int i = 0; i < kChain; ++i) {
    long weight = i == 0 ? kUnused / 2 + 3 : i == 1 ? kUnused + 3 : sums[sums.size() - 2] + 3;
    sums.push_back(sums.back() + weight);
    symbols.insert(symbols.end(), static_cast<size_t>(weight - 1), 256 + i);
  }
  lzhuf::AdaptiveHuffman model;
  model.StartHuff();
  for (int c : symbols) model.update(c);
  int deepest = 0;
  for (int c = 0; c < lzhuf::kCharCodes; ++c) {
    if (model.Depth(c) > model.Depth(deepest)) deepest = c;
  }
  ASSERT_GT(model.Depth(deepest), 16);
  symbols.insert(symbols.end(), {deepest, 'x', deepest, 300});

  std::string bits;
  lzhuf::BitWriter writer(&bits);
  lzhuf::AdaptiveHuffman encoder;
  encoder.StartHuff();
  for (int c : symbols) encoder.EncodeChar(writer, c);
  writer.EncodeEnd();

  lzhuf::BitReader reader(reinterpret_cast<const uint8_t*>(bits.data()), bits.size());
  lzhuf::AdaptiveHuffman decoder;
  decoder.StartHuff();
  for (size_t i = 0; i < symbols.size(); ++i) ASSERT_EQ(decoder.DecodeChar(reader), symbols[i]) << i;
  EXPECT_FALSE(reader.Overran());
}

}  // namespace
}  // namespace orn
