// The record files' bytes are a contract with every BBS directory in use:
// these tests compare what the code writes with byte images built here from
// the published offsets, so a change of layout cannot pass unnoticed.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/bytes.h"
#include "platform/text.h"
#include "store/orn_dbase.h"
#include "store/records.h"
#include "support/store_files.h"
#include "support/test_dir.h"

namespace orn {
namespace {

using test::TestDir;

// A byte image, zero where nothing is put.
class Image {
 public:
  explicit Image(size_t size) : bytes_(size, '\0') {}
  Image& Text(size_t offset, const std::string& text) {
    bytes_.replace(offset, text.size(), text);
    return *this;
  }
  Image& Le32(size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<char>(v >> (8 * i));
    return *this;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// First differing offset, for a readable failure.
std::string Diff(const std::string& got, const std::string& want) {
  if (got.size() != want.size())
    return "size " + std::to_string(got.size()) + " instead of " + std::to_string(want.size());
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i] != want[i])
      return "offset " + std::to_string(i) + ": " + std::to_string(static_cast<unsigned char>(got[i])) +
             " instead of " + std::to_string(static_cast<unsigned char>(want[i]));
  return "";
}

TEST(RecordsTest, NewUserIsWrittenAsTheHandBuiltImage) {
  TestDir dir;
  TOrnDbase db(test::MakeEmptyStore(dir));
  ASSERT_TRUE(db.OpenUserFile());
  ASSERT_EQ(db.AppendUser("XX7ZZ"), 1);
  db.CloseAll();

  Image user(19326);
  user.Le32(0, 1)
      .Text(4, "XX7ZZ")
      .Text(11, "Noname")
      .Text(26, "U")
      .Text(28, "?????")
      .Text(34, "?????")
      .Text(74, "?????")
      .Text(114, "ENGLISH")
      .Text(162, "N")
      .Text(164, "??????")
      .Text(179, "N")
      .Text(185, "00/00/00")
      .Text(194, "00:00")
      // No connect entry (from offset 1404) and no routing rules (4504): a
      // new user is no partner until the sysop writes them.
      .Le32(19237, 'D');
  EXPECT_EQ(Diff(dir.Read("USERS.ADB"), user.bytes()), "");

  Image idx(34);
  idx.Le32(0, 1).Text(4, "XX7ZZ").Text(11, "Noname").Text(26, "U").Text(28, "N");
  EXPECT_EQ(Diff(dir.Read("USERS.IDX"), idx.bytes()), "");
}

TEST(RecordsTest, MessageIsWrittenAsTheHandBuiltImage) {
  TestDir dir;
  TOrnDbase db(test::MakeEmptyStore(dir));
  ASSERT_TRUE(db.OpenMsgFile());
  MsgDB r;
  db.DBdefaults(&r, 1001);
  CopyField(r.MsgDate, "1530/970507");  // what FormatMsgDateTime gives at 15:30 on 7 May 1997
  ASSERT_EQ(db.AppendMsg(r), 1);
  db.CloseAll();

  Image msg(415);
  msg.Le32(0, 1001)
      .Text(4, " ")
      .Text(6, "N")
      .Le32(8, 1)
      .Text(12, "SYSOP")
      .Text(52, "XX9ORN.GRC.EU")
      .Text(92, "XX9ORN.GRC.EU")
      .Text(132, "1530/970507")
      .Text(402, "XX9ORN_1001");
  EXPECT_EQ(Diff(dir.Read("MSG.ADB"), msg.bytes()), "");

  Image idx(8);
  idx.Le32(0, 1001).Text(4, " ").Text(6, "N");
  EXPECT_EQ(Diff(dir.Read("MSG.IDX"), idx.bytes()), "");
}

TEST(RecordsTest, IntegersAreLittleEndianAndSigned) {
  MsgDB r{};
  r.MsgNo = 0x01020304;
  r.Size = -2;
  char out[kMsgDBSize];
  EncodeMsgDB(r, out);
  EXPECT_EQ(std::string(out, 4), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(std::string(out + 8, 4), std::string("\xfe\xff\xff\xff", 4));
  MsgDB back;
  DecodeMsgDB(out, &back);
  EXPECT_EQ(back.MsgNo, 0x01020304);
  EXPECT_EQ(back.Size, -2);
}

// A text member that fills its whole width (no terminator in memory) is cut
// to width - 1 on disk; the next field is untouched.
TEST(RecordsTest, OverlongTextIsCutInsideItsField) {
  MsgDB r{};
  std::memset(r.Type, 'P', sizeof r.Type);
  std::memset(r.Bid, 'X', sizeof r.Bid);
  CopyField(r.Status, "N");
  char out[kMsgDBSize];
  std::memset(out, '#', sizeof out);
  EncodeMsgDB(r, out);
  EXPECT_EQ(std::string(out + 4, 2), std::string("P\0", 2));
  EXPECT_EQ(std::string(out + 6, 2), std::string("N\0", 2));
  EXPECT_EQ(std::string(out + 402, 13), std::string(12, 'X') + '\0');
}

// Bytes after a terminator carry no meaning, and a field without one (a
// damaged file) reads as its first width - 1 characters.
TEST(RecordsTest, DecodingIgnoresBytesAfterTheTerminatorAndCutsUnterminatedFields) {
  std::vector<char> in(kUserDBidxSize, 'Z');
  std::memcpy(&in[4], "AB1CD\0GARBAGE", 13);  // Call, then the start of Name
  UserDBidx r;
  DecodeUserDBidx(in.data(), &r);
  EXPECT_STREQ(r.Call, "AB1CD");
  EXPECT_EQ(std::string(r.Call, sizeof r.Call), std::string("AB1CD\0\0", 7));
  EXPECT_STREQ(r.Name, "ARBAGEZZZZZZZZ");  // 14 characters of a 15-byte field
  EXPECT_STREQ(r.Type, "Z");
}

TEST(RecordsTest, UserRecordRoundTripsThroughItsImage) {
  TOrnDbase db(StoreSite{"", "", "XX9ORN", "GRC.EU"});
  UserDB r;
  db.DBdefaults(&r, 77);
  CopyField(r.Password, "secret");
  r.PasswordOk = 1;
  r.FwdQueue = 12;
  CopyField(r.Hcon[9].expfile, "out.txt");
  r.Hcon[9].flag = 'Y';
  CopyField(r.FwdMsgNo[500].ExpDays, "1530/970507");
  r.FwdMsgNo[500].FwdMsgNumbers = 4242;
  CopyField(r.Favourites, "XX7ZZ");
  std::vector<char> out(kUserDBSize);
  EncodeUserDB(r, out.data());
  UserDB back;
  DecodeUserDB(out.data(), &back);
  EXPECT_STREQ(back.Password, "secret");
  EXPECT_EQ(back.PasswordOk, 1);
  EXPECT_EQ(back.FwdQueue, 12);
  EXPECT_STREQ(back.Hcon[9].expfile, "out.txt");
  EXPECT_EQ(back.Hcon[9].flag, 'Y');
  EXPECT_EQ(back.Hcon[0].flag, '\0');
  EXPECT_STREQ(back.FwdMsgNo[500].ExpDays, "1530/970507");
  EXPECT_EQ(back.FwdMsgNo[500].FwdMsgNumbers, 4242);
  EXPECT_STREQ(back.Favourites, "XX7ZZ");
  EXPECT_EQ(back.FwdKind, 'D');
  // A connect entry is 310 bytes from offset 1404; its one-byte flag, last,
  // has no terminator.
  EXPECT_EQ(out[1404 + 9 * 310 + 309], 'Y');
  EXPECT_EQ(std::string(out.data() + 1404 + 9 * 310 + 229, 7), std::string("out.txt"));
  // The last slot of the queue sits just before FwdQueue.
  EXPECT_EQ(ReadLeInt32(out.data() + 5105 + 500 * 27 + 4), 4242);
}

}  // namespace
}  // namespace orn
