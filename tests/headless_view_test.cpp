#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/headless_view.h"

namespace orn {
namespace {

// What a channel window of the headless BBS writes for the pieces shown.
std::string Shown(const std::vector<std::string>& pieces) {
  std::FILE* out = std::tmpfile();
  {
    HeadlessView view(stderr, out);
    std::unique_ptr<ChannelView> ch = view.CreateChannelView(1);
    ch->SetCaption("PC(1-1)");
    for (const std::string& p : pieces) ch->AppendText(p, TextKind::ChannelInput);
  }
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  return text;
}

TEST(HeadlessViewTest, BinaryFramesShowAsOneLineWithTheirSize) {
  const std::string block = std::string("\x02\x05") + "\x1B\xC3\xA9\x01z";
  EXPECT_EQ(Shown({"FS +\n", "half a line ", block, "rest\n"}),
            "[1 PC(1-1)] FS +\n[1 PC(1-1)] half a line \n[1 PC(1-1)] <binary data, 7 bytes>\n[1 PC(1-1)] rest\n");
  // A plain message's text with its Ctrl-Z end is text.
  EXPECT_EQ(Shown({"Hello\tthere\x1A\n"}), "[1 PC(1-1)] Hello\tthere\x1A\n");
}

TEST(HeadlessViewTest, APageIsAJournalLineWithTheCommandsThatAnswerIt) {
  std::FILE* errors = std::tmpfile();
  HeadlessView(errors, nullptr).PageRequest(3, "From XX1ABC,on Port:2,Channel:1.", "ornctl talk 2-1");
  std::rewind(errors);
  std::string text;
  for (int c; (c = std::fgetc(errors)) != EOF;) text += static_cast<char>(c);
  std::fclose(errors);
  EXPECT_EQ(text,
            "Chat Request..: From XX1ABC,on Port:2,Channel:1. Answer: ornctl talk 2-1, decline: ornctl page decline "
            "2-1\n");
}

TEST(HeadlessViewTest, WithoutAChannelStreamTheStationsTextGoesNowhereButTheStatusDoes) {
  std::FILE* errors = std::tmpfile();
  std::FILE* status = std::tmpfile();
  {
    HeadlessView view(errors, nullptr, status);
    std::unique_ptr<ChannelView> ch = view.CreateChannelView(1);
    ch->SetCaption("XX1ABC on PC(1-1)");
    ch->AppendText("SP XX2DEF\nMeet me at the club, the key is under the mat\n/EX\n", TextKind::ChannelInput);
    view.SetStatusText("BBS->Idle Mode");
  }
  auto read = [](std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    std::fclose(f);
    return text;
  };
  EXPECT_EQ(read(errors), "");
  EXPECT_EQ(read(status), "status: BBS->Idle Mode\n");
}

}  // namespace
}  // namespace orn
