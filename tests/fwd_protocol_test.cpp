#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context/prompts.h"
#include "fwd/block_packets.h"
#include "fwd/proposal.h"
#include "fwd/sid.h"
#include "platform/text.h"

namespace orn {
namespace {

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

TEST(SidTest, AbilityLetters) {
  struct Case {
    const char* line;
    bool accepted;
    SFwd want;  // fbb, ascii, binary, bid, hier, route, mid, fbbonly, b1
  } cases[] = {
      {kSystemId, true, {true, false, true, true, true, true, true, false, true}},
      {"[X-1-FA$]", true, {true, true, false, true, false, false, false, false}},
      {"[X-1-F$]", true, {true, true, false, true, false, false, false, true}},
      {"[X-1-FB$]", true, {true, false, true, true, false, false, false, false}},
      {"[FBB-7.00-AB1FHMRX$]", true, {true, false, true, true, true, true, true, false, true}},
      {"[BPQ-6.0.24.1-B1FWIHJM$]", true, {true, false, true, true, true, false, true, false, true}},
      // "1" without "B" means nothing; the version's digits do not count.
      {"[X-1-F1$]", true, {true, true, false, true, false, false, false, true, false}},
      {"[FBB-7.0.11-ABFHMR$]", true, {true, false, true, true, true, true, true, false, false}},
      // Without F: the plain dialogue; A and B are taken as they come.
      {"[X-1-AB$]", true, {false, true, true, true, false, false, false, false}},
      {"[X-1-AB]", false, {}},
      {"[X-1-FB$", false, {}},
      {"", false, {}},
      // Only the letters after the last "-" count: the name's F and $ do not.
      {"[F$-1-AB]", false, {}},
      {"[$]", true, {false, false, false, true, false, false, false, false}},
      {"]", false, {}},
  };
  for (const Case& c : cases) {
    SFwd f;
    f.fbbok = true;  // cleared first
    EXPECT_EQ(ParseSid(c.line, &f), c.accepted) << c.line;
    if (!c.accepted) continue;
    EXPECT_EQ(f.fbbok, c.want.fbbok) << c.line;
    EXPECT_EQ(f.asciiok, c.want.asciiok) << c.line;
    EXPECT_EQ(f.binaryok, c.want.binaryok) << c.line;
    EXPECT_EQ(f.bidok, c.want.bidok) << c.line;
    EXPECT_EQ(f.hierok, c.want.hierok) << c.line;
    EXPECT_EQ(f.routeok, c.want.routeok) << c.line;
    EXPECT_EQ(f.midok, c.want.midok) << c.line;
    EXPECT_EQ(f.fbbonly, c.want.fbbonly) << c.line;
    EXPECT_EQ(f.b1ok, c.want.b1ok) << c.line;
  }
}

TEST(ProposalTest, Checksums) {
  EXPECT_EQ(ProposalChecksum("abc"), "DA");
  const std::string one = "FB P XX1AAA XX2BBB XX3CCC 41_XX1AAA 1520\r";
  EXPECT_EQ(ProposalChecksum(one), "33");
  EXPECT_EQ(ProposalChecksum(one + "FB B XX1AAA ALL XX3CCC 42_XX1AAA 880\r"), "6A");
  EXPECT_EQ(ProposalChecksum(std::string(2, '\x80')), "00");
  EXPECT_EQ(ProposalChecksum(""), "00");
  EXPECT_EQ(DtoHex(0x3A, 2), "3A");
  EXPECT_EQ(DtoHex(5, 4), "0005");
  EXPECT_EQ(DtoHex(0x1234, 2), "X4");  // the leading digit above 15
}

TEST(ProposalTest, LinesOfStoredMessages) {
  MsgDB m{};
  CopyField(m.Type, "B");
  CopyField(m.FromStation, "XX1AAA.#ATH.GRC.EU");
  CopyField(m.AtBbs, "XX2BBB.#X.Y");
  CopyField(m.ToStation, "ALL");
  CopyField(m.Bid, "7_XX1AAA");
  m.Size = 880;
  EXPECT_EQ(FormatProposalLine(m, false, true), "FA B XX1AAA XX2BBB ALL 7_XX1AAA 880\r");
  EXPECT_EQ(FormatProposalLine(m, true, true), "FA B XX1AAA XX2BBB.#X.Y ALL 7_XX1AAA 880\r");
  EXPECT_EQ(FormatProposalLine(m, false, false), "FB B XX1AAA XX2BBB ALL 7_XX1AAA 880\r");
  // A message sent with a plain "S" has no type: personal to a callsign,
  // a bulletin otherwise.
  CopyField(m.Type, " ");
  EXPECT_EQ(FormatProposalLine(m, false, true), "FA B XX1AAA XX2BBB ALL 7_XX1AAA 880\r");
  CopyField(m.Type, "");
  CopyField(m.ToStation, "XX3CCC.#Z.Y");
  EXPECT_EQ(FormatProposalLine(m, false, true), "FA P XX1AAA XX2BBB XX3CCC 7_XX1AAA 880\r");
}

TEST(ProposalTest, ReceivedLines) {
  struct Case {
    const char* line;
    bool ok;
    char type;
    const char* to;
    const char* bid;
    long size;
  } cases[] = {
      {"FB P XX1AAA XX2BBB XX3CCC 41_XX1AAA 1520\r", true, 'P', "XX3CCC", "41_XX1AAA", 1520},
      {"FA B XX1AAA XX2BBB.#X.Y ALL 42_XX1AAA 880", true, 'B', "ALL", "42_XX1AAA", 880},
      {"FB p  XX1AAA  XX2BBB XX3CCC   41_XX1AAA 1\r", true, 'P', "XX3CCC", "41_XX1AAA", 1},
      {"FB P XX1AAA XX2BBB XX3CCC 41_XX1AAA\r", false, 0, "", "", 0},            // no size
      {"FB P XX1AAA XX2BBB XX3CCC 41_XX1AAA 12 9\r", false, 0, "", "", 0},       // a field too many
      {"FB P XX1AAA XX2BBB XX3CCC 1234567890123 5\r", false, 0, "", "", 0},     // BID over 12
      {"FB P XX1AAA XX2BBB XX3CCC 41_XX1AAA 15x\r", false, 0, "", "", 0},
      {"FB P XX1AAA XX2BBB XX3CCC 41_XX1AAA 99999999999\r", false, 0, "", "", 0},
      {"FC P XX1AAA XX2BBB XX3CCC 41_XX1AAA 5\r", false, 0, "", "", 0},
      {"FB 1 XX1AAA XX2BBB XX3CCC 41_XX1AAA 5\r", false, 0, "", "", 0},
      {"FB\r", false, 0, "", "", 0},
  };
  for (const Case& c : cases) {
    ProposalFields f;
    ASSERT_EQ(ParseProposalLine(c.line, &f), c.ok) << c.line;
    if (!c.ok) continue;
    EXPECT_EQ(f.type, c.type) << c.line;
    EXPECT_EQ(f.from, "XX1AAA") << c.line;
    EXPECT_EQ(f.to, c.to) << c.line;
    EXPECT_EQ(f.bid, c.bid) << c.line;
    EXPECT_EQ(f.size, c.size) << c.line;
  }
  const std::string wide = "FB P " + std::string(40, 'A') + " XX2BBB XX3CCC 41_X 5\r";
  ProposalFields f;
  EXPECT_FALSE(ParseProposalLine(wide, &f));
  EXPECT_FALSE(ParseProposalLine("FB P XX1 XX2 XX3 B " + std::string(120, '1'), &f));
}

TEST(ProposalTest, ChecksumLines) {
  EXPECT_EQ(ParseChecksumLine("F> 33\r"), 0x33);
  EXPECT_EQ(ParseChecksumLine("F> 6a"), 0x6A);
  EXPECT_EQ(ParseChecksumLine("F>6A\r"), -1);
  EXPECT_EQ(ParseChecksumLine("F> 6G\r"), -1);
  EXPECT_EQ(ParseChecksumLine("F> 123\r"), -1);
  EXPECT_EQ(ParseChecksumLine("FF\r"), -1);
}

TEST(ProposalTest, Answers) {
  struct Case {
    const char* line;
    int proposals;
    bool ok;
    const char* flags;
    std::vector<long> offsets;  // empty: no B1 resume taken
  } cases[] = {
      {"FS +-=\r", 3, true, "+-=", {}},
      {"FS +\r", 5, true, "+", {}},  // the rest stay unanswered
      {"FS ++\r", 1, false, "", {}},
      {"FS +x\r", 2, false, "", {}},
      {"F> +\r", 1, false, "", {}},
      {"FS \r", 1, true, "", {}},
      // The letters of LinBPQ and other FBB peers.
      {"FS YNL\r", 3, true, "+-=", {}},
      {"FS RE\r", 2, true, "--", {}},
      {"FS H\r", 1, true, "+", {}},
      // B1 resume: an offset per answer, "!" or "A" before the digits.
      {"FS +!1234-\r", 3, true, "++-", {0, 1234, 0}},
      {"FS A250\r", 1, true, "+", {250}},
      {"FS !\r", 1, false, "", {0}},
      {"FS !12!13\r", 1, false, "", {0}},
      {"FS !99999999999\r", 1, false, "", {0}},
  };
  for (const Case& c : cases) {
    std::string flags = "?";
    std::vector<long> offsets;
    EXPECT_EQ(ParseAnswerLine(c.line, c.proposals, &flags, &offsets), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(flags, c.flags) << c.line;
      if (!c.offsets.empty()) {
        EXPECT_EQ(offsets, c.offsets) << c.line;
      }
    }
    // Without B1 an offset is no answer.
    if (c.offsets.empty()) {
      EXPECT_EQ(ParseAnswerLine(c.line, c.proposals, &flags), c.ok) << c.line;
    } else {
      EXPECT_FALSE(ParseAnswerLine(c.line, c.proposals, &flags)) << c.line;
    }
  }
}

TEST(ProposalTest, RelayLines) {
  struct Case {
    const char* line;
    bool ok;
    const char* id;
  } cases[] = {
      {"R:970101/1200Z @:XX1ABC.#ATH.GRC.EU #:12", true, "XX1ABC.#ATH.GRC.EU"},
      {"R:970101/1200Z @XX2BBB [Town] #:1\r", true, "XX2BBB"},
      {"R:970101/1200Z 12345@XX3CCC.EU", true, "XX3CCC.EU"},
      {"R:970101/1200Z no at sign", false, ""},
      {"From: XX1ABC@XX2BBB", false, ""},
      {"R:", false, ""},
  };
  for (const Case& c : cases) {
    std::string id;
    EXPECT_EQ(ReturnBbsinLine(c.line, &id), c.ok) << c.line;
    if (c.ok) {
      EXPECT_EQ(id, c.id) << c.line;
    }
  }
  std::string id;
  EXPECT_TRUE(ReturnBbsinLine("R:1 @:" + std::string(48, 'A'), &id));
  EXPECT_FALSE(ReturnBbsinLine("R:1 @:" + std::string(49, 'A'), &id));
}

TEST(BlockPacketTest, WhatThisSideSends) {
  EXPECT_EQ(HeaderPacket("Test"), Bytes({1, 0x0C, 'T', 'e', 's', 't', 0, ' ', ' ', ' ', ' ', ' ', '0', 0}));
  EXPECT_EQ(static_cast<unsigned char>(HeaderPacket(std::string(300, 't'))[1]), 119 + 8);
  EXPECT_EQ(EndPacket(0x61 + 0x62 + 0x63), Bytes({4, 0xDA}));
  EXPECT_EQ(EndPacket(256), Bytes({4, 0}));
  EXPECT_TRUE(CheckSumOk(0x126, 0xDA));
  EXPECT_FALSE(CheckSumOk(0x126, 0xDB));
  EXPECT_EQ(DataPacket(std::string(256, 'x')).substr(0, 2), Bytes({2, 0}));

  struct Case {
    size_t size;
    std::vector<size_t> packets;
  } cases[] = {{500, {250, 250}}, {501, {250, 250, 1}}, {250, {250}}, {1, {1}}, {0, {}}};
  for (const Case& c : cases) {
    const std::string stream = BlockStream("T", std::string(c.size, 'a'));
    PacketReader r;
    ASSERT_TRUE(r.Put(stream.data(), stream.size()));
    ASSERT_EQ(r.Next(), PacketReader::Kind::kHeader);
    std::vector<size_t> got;
    PacketReader::Kind k;
    while ((k = r.Next()) == PacketReader::Kind::kData) got.push_back(r.data().size());
    EXPECT_EQ(k, PacketReader::Kind::kEnd) << c.size;
    EXPECT_EQ(got, c.packets) << c.size;
    EXPECT_TRUE(CheckSumOk(c.size * 'a', r.checksum())) << c.size;
    EXPECT_EQ(r.Next(), PacketReader::Kind::kNone);
  }
}

TEST(BlockPacketTest, B1StreamsAndResumedHeaders) {
  // CRC-16/XMODEM's check value, and the stream with it in front, low byte
  // first.
  EXPECT_EQ(Crc16Xmodem("123456789"), 0x31C3);
  EXPECT_EQ(B1Stream("123456789"), Bytes({0xC3, 0x31}) + "123456789");
  const std::string stream = B1Stream(Bytes({5, 0, 0, 0}) + "codes");
  EXPECT_TRUE(B1StreamOk(stream));
  for (size_t i = 0; i < stream.size(); ++i) {
    std::string bad = stream;
    bad[i] = static_cast<char>(bad[i] ^ 0x10);
    EXPECT_FALSE(B1StreamOk(bad)) << i;
  }
  EXPECT_FALSE(B1StreamOk(stream.substr(0, 5)));

  // The offset field as FBB peers write it: six characters, right-aligned,
  // whether the transfer starts at its beginning or goes on.
  const struct {
    long offset;
    const char* field;
  } sent[] = {{0, "     0"}, {1750, "  1750"}, {1234, "  1234"}, {987654, "987654"}, {-5, "     0"}};
  for (const auto& c : sent)
    EXPECT_EQ(HeaderPacket("Test", c.offset), Bytes({1, 0x0C}) + "Test" + Bytes({0}) + c.field + Bytes({0})) << c.offset;
  EXPECT_EQ(HeaderPacket("Test", 0), HeaderPacket("Test"));
  struct Case {
    std::string header;  // after the length byte
    long offset;
  } cases[] = {
      {HeaderPacket("Test").substr(2), 0},
      {HeaderPacket("Test", 987654).substr(2), 987654},
      {std::string("Private from LinFBB\0     0\0", 27), 0},
      {std::string("T\0  1500\0", 9), 1500},
      {std::string("T\0" "001500\0", 9), 1500},  // LinBPQ's B2 form
      {"T", 0},
      {std::string("T\0 12x\0", 7), -1},
      {std::string("T\0 1 2\0", 7), -1},
      {std::string("T\09999999999\0", 13), -1},
  };
  for (const Case& c : cases) EXPECT_EQ(HeaderOffset(c.header), c.offset) << c.header;
}

TEST(BlockPacketTest, ReadingPacketsInAnyPieces) {
  const std::string stream = Bytes({0x55, 1, 3, 'a', 0, 'z', 2, 0}) + std::string(256, 'd') +
                             Bytes({2, 255}) + std::string(255, 'e') + Bytes({0x18, 2, 'x', 'y', 3, 1, 3, 9, 4, 0x77});
  // Every way of cutting the stream in two, and byte by byte, reads the same.
  for (size_t cut = 0; cut <= stream.size(); cut += (cut < 20 || cut > stream.size() - 20) ? 1 : 37) {
    PacketReader r;
    std::vector<std::pair<PacketReader::Kind, std::string>> got;
    auto drain = [&] {
      for (PacketReader::Kind k; (k = r.Next()) != PacketReader::Kind::kNone;)
        got.emplace_back(k, k == PacketReader::Kind::kEnd ? std::string(1, static_cast<char>(r.checksum())) : r.data());
    };
    ASSERT_TRUE(r.Put(stream.data(), cut));
    drain();
    ASSERT_TRUE(r.Put(stream.data() + cut, stream.size() - cut));
    drain();
    ASSERT_EQ(got.size(), 6u) << cut;
    EXPECT_EQ(got[0].first, PacketReader::Kind::kHeader);
    EXPECT_EQ(got[0].second, Bytes({'a', 0, 'z'}));
    EXPECT_EQ(got[1].first, PacketReader::Kind::kData);
    EXPECT_EQ(got[1].second, std::string(256, 'd'));  // length byte 0
    EXPECT_EQ(got[2].second, std::string(255, 'e'));
    EXPECT_EQ(got[3].first, PacketReader::Kind::kCancel);
    EXPECT_EQ(got[4].first, PacketReader::Kind::kEtxSoh);
    // 03 09 is swallowed; the end packet's checksum came last.
    EXPECT_EQ(got[5].first, PacketReader::Kind::kEnd);
    EXPECT_EQ(got[5].second, "\x77");
  }
}

TEST(BlockPacketTest, AnUnpacedSenderIsRefused) {
  PacketReader r;
  const std::string big(PacketReader::kMaxHeld, 'x');
  EXPECT_TRUE(r.Put(big.data(), big.size()));
  EXPECT_FALSE(r.Put('y'));
  // Bytes read make room again.
  EXPECT_EQ(r.Next(), PacketReader::Kind::kNone);
  EXPECT_TRUE(r.Put('y'));
  r.Reset();
  EXPECT_FALSE(r.inready());
}

}  // namespace
}  // namespace orn
