#include "ornpe/telnet_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace orn {
namespace {

using namespace std::string_literals;

struct Case {
  const char* what;
  bool raw;
  std::string in;       // from the peer
  std::string data;     // what the stream makes of it
  std::string answers;  // what goes back
  bool binaryIn;
  bool binaryOut;
};

// IAC 255, DONT 254, DO 253, WONT 252, WILL 251, SB 250, SE 240; options:
// BINARY 0, ECHO 1, SGA 3, TTYPE 24, NAWS 31.
const Case kCases[] = {
    {"plain bytes, line ends untouched", false, "a\r\nb\rc\nd\r\0e"s, "a\r\nb\rc\nd\r\0e"s, "", false, false},
    {"every byte but IAC passes", false, "\x00\x01\x7f\x80\xf0\xfa\xfe"s, "\x00\x01\x7f\x80\xf0\xfa\xfe"s, "", false,
     false},
    {"IAC IAC is one 0xFF", false, "\xff\xff\xff\xff" "x\xff\xff"s, "\xff\xffx\xff"s, "", false, false},
    {"WILL ECHO refused", false, "a\xff\xfb\x01" "b"s, "ab", "\xff\xfe\x01"s, false, false},
    {"DO SGA and DO TTYPE refused", false, "\xff\xfd\x03\xff\xfd\x18"s, "", "\xff\xfc\x03\xff\xfc\x18"s, false, false},
    {"WONT and DONT of what is off: no answer", false, "\xff\xfc\x01\xff\xfe\x03\xff\xfc\x00\xff\xfe\x00"s, "", "",
     false, false},
    {"WILL BINARY agreed", false, "\xff\xfb\x00" "\xff\xff"s, "\xff", "\xff\xfd\x00"s, true, false},
    {"DO BINARY agreed", false, "\xff\xfd\x00"s, "", "\xff\xfb\x00"s, false, true},
    {"both directions binary", false, "\xff\xfb\x00\xff\xfd\x00"s, "", "\xff\xfd\x00\xff\xfb\x00"s, true, true},
    {"a repeated request is not answered again", false, "\xff\xfb\x00\xff\xfb\x00\xff\xfd\x00\xff\xfd\x00"s, "",
     "\xff\xfd\x00\xff\xfb\x00"s, true, true},
    {"BINARY on and off again", false, "\xff\xfb\x00\xff\xfd\x00\xff\xfc\x00\xff\xfe\x00"s, "",
     "\xff\xfd\x00\xff\xfb\x00\xff\xfe\x00\xff\xfc\x00"s, false, false},
    {"subnegotiation dropped, IAC IAC and SE inside it too", false,
     "a\xff\xfa\x1f\x00\x50\xff\xff\xf0\x00\x18\xff\xf0" "b"s, "ab", "", false, false},
    {"other commands dropped", false, "a\xff\xf1" "b\xff\xf4" "c\xff\xf6" "d\xff\x41" "e"s, "abcde", "", false, false},
    {"raw: IAC and all passes", true, "\xff\xfb\x01\xff\xff\xff\xfa\x18\xff\xf0\r\n"s,
     "\xff\xfb\x01\xff\xff\xff\xfa\x18\xff\xf0\r\n"s, "", false, false},
};

TEST(TelnetStreamTest, DecodesAndAnswers) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    TelnetStream t(c.raw);
    EXPECT_EQ(t.Decode(c.in), c.data);
    EXPECT_EQ(t.TakeAnswers(), c.answers);
    EXPECT_EQ(t.binaryFromPeer(), c.binaryIn);
    EXPECT_EQ(t.binaryToPeer(), c.binaryOut);
    EXPECT_EQ(t.TakeAnswers(), "");
  }
}

TEST(TelnetStreamTest, SequencesSplitAcrossReadsAtAnyByte) {
  for (const Case& c : kCases) {
    for (size_t cut = 1; cut < c.in.size(); ++cut) {
      SCOPED_TRACE(std::string(c.what) + ", cut at " + std::to_string(cut));
      TelnetStream t(c.raw);
      std::string data = t.Decode(c.in.substr(0, cut));
      data += t.Decode(c.in.substr(cut));
      EXPECT_EQ(data, c.data);
      EXPECT_EQ(t.TakeAnswers(), c.answers);
    }
    SCOPED_TRACE(std::string(c.what) + ", byte by byte");
    TelnetStream t(c.raw);
    std::string data;
    for (char b : c.in) {
      if (t.IsData(b)) data += b;
    }
    EXPECT_EQ(data, c.data);
    EXPECT_EQ(t.TakeAnswers(), c.answers);
  }
}

TEST(TelnetStreamTest, EncodingDoublesIacOnlyAndEveryByteSurvives) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  all += "\xff\xff\r\n\r\0"s;
  TelnetStream telnet;
  const std::string wire = telnet.Encode(all);
  EXPECT_EQ(wire.size(), all.size() + 3);
  EXPECT_EQ(wire.substr(0, 255), all.substr(0, 255));
  EXPECT_EQ(wire.substr(255, 8), "\xff\xff\xff\xff\xff\xff\r\n"s);
  TelnetStream peer;
  EXPECT_EQ(peer.Decode(wire), all);
  EXPECT_EQ(peer.TakeAnswers(), "");

  TelnetStream raw(true);
  EXPECT_EQ(raw.Encode(all), all);
}

}  // namespace
}  // namespace orn
