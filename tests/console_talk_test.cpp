// The sysop's chats from a console (ornctl's socket, the web console) on a
// BBS running on the in-memory engine: a chat ends with its station and
// leaves the channel to the next one, each console ends only its own chat,
// and "talk list" names the chats open (a page loaded again rebuilds its
// controls from it).
#include <gtest/gtest.h>

#include <memory>

#include "app/control.h"
#include "platform/json.h"
#include "support/bbs_on_engine.h"

namespace orn {
namespace {

class ConsoleTalkTest : public test::BbsOnEngine {
 protected:
  void SetUp() override {
    StartWith("[PERSONAL]\nMYCALL=XX9ORN-1\nSYSOP=1\n[RADIO]\nPORTS=1\n[PORT0]\nCHANNELS=2\nBBSONLY=0\nLIMITED=0\n");
    ControlSite s;
    s.running = true;
    s.cfg = &bbs_->cfg();
    s.ini = &bbs_->ini();
    s.store = bbs_->store();
    s.client = &bbs_->client();
    s.partners = bbs_->partners();
    s.optimizer = bbs_->optimizer();
    s.timers = bbs_->serviceTimers();
    s.clock = &clock_;
    ornctl_ = std::make_unique<ControlHandler>(s);
    s.console = "web";
    web_ = std::make_unique<ControlHandler>(s);
  }
  // A station at its prompt (a new station's name lets it past the gate).
  int OnAir(const std::string& call) {
    const int ch = Connects(0, call);
    engine_.Data(0, call, "N Anna\r");
    Sent();
    return ch;
  }
  std::string List(ControlHandler& h) { return h.Handle({"talk", "list"}, "").out; }
  std::unique_ptr<ControlHandler> ornctl_;
  std::unique_ptr<ControlHandler> web_;
};

TEST_F(ConsoleTalkTest, AChatEndsWithItsStationAndTheChannelTakesTheNext) {
  ASSERT_EQ(OnAir("XX1ABC"), 1);
  ASSERT_EQ(OnAir("XX2BCD"), 2);
  ASSERT_EQ(web_->Handle({"talk", "1-1"}, "").status, 0);
  ASSERT_TRUE(web_->TalkOpen(1));
  Sent();

  engine_.Event(0, "*** DISCONNECTED From Station XX1ABC\r");
  EXPECT_FALSE(Ch(1).terminal);
  EXPECT_FALSE(web_->TalkOpen(1));
  EXPECT_FALSE(web_->TalkLine(1, "anyone there?"));
  EXPECT_EQ(List(*web_), "no chats\n");

  // Every other channel is taken: the one the chat held serves the next
  // station as the BBS, not as a chat no one holds.
  ASSERT_EQ(Connects(0, "XX3CDE"), 1);
  EXPECT_TRUE(Disconnects().empty());
  EXPECT_STREQ(Ch(1).UserCallOnly, "XX3CDE");
  EXPECT_FALSE(Ch(1).terminal);
  EXPECT_NE(Sent(), "") << "greeted";
  engine_.Data(0, "XX3CDE", "N Carl\r");
  EXPECT_NE(Sent().find('>'), std::string::npos) << "a command is answered with a prompt";

  // The console's late end (its page's End button) leaves the new station be.
  web_->TalkEnd(1);
  EXPECT_EQ(Sent(), "");
  EXPECT_EQ(web_->Handle({"talk", "1-1"}, "").status, 0);  // and a chat with it may begin
}

TEST_F(ConsoleTalkTest, EachConsoleEndsOnlyItsOwnChatAndTheListNamesWhose) {
  ASSERT_EQ(OnAir("XX1ABC"), 1);
  ASSERT_EQ(OnAir("XX2BCD"), 2);
  EXPECT_EQ(List(*ornctl_), "no chats\n");
  ASSERT_EQ(ornctl_->Handle({"talk", "1-1"}, "").status, 0);
  ASSERT_EQ(web_->Handle({"talk", "1-2"}, "").status, 0);
  EXPECT_EQ(List(*web_), "1-1  XX1ABC  ornctl\n1-2  XX2BCD  web\n");
  const ControlAnswer a = web_->Handle({"talk", "list", "--json"}, "");
  Json j;
  ASSERT_TRUE(ParseJson(a.out, &j, nullptr)) << a.out;
  ASSERT_EQ(j.items().size(), 2u);
  EXPECT_EQ(j.items()[1].Get("channel").AsString(), "1-2");
  EXPECT_EQ(j.items()[1].Get("port").AsNumber(), 1);
  EXPECT_EQ(j.items()[1].Get("call").AsString(), "XX2BCD");
  EXPECT_EQ(j.items()[1].Get("console").AsString(), "web");
  Sent();

  // A console's stale end or line for a channel another holds changes nothing.
  web_->TalkEnd(1);
  EXPECT_FALSE(web_->TalkLine(1, "not mine"));
  EXPECT_TRUE(Ch(1).terminal);
  EXPECT_EQ(Sent(), "");
  EXPECT_TRUE(ornctl_->TalkLine(1, "Hello Anna"));
  EXPECT_EQ(Sent(), "Hello Anna\r");

  // The desktop gives the channel back and takes it again as its own
  // terminal: ornctl's chat is over and its end leaves the desktop's be.
  Ch(1).ToggleTerminal();
  EXPECT_FALSE(ornctl_->TalkOpen(1));
  Ch(1).ToggleTerminal();
  ornctl_->TalkEnd(1);
  EXPECT_TRUE(Ch(1).terminal);
  EXPECT_EQ(List(*ornctl_), "1-2  XX2BCD  web\n");

  EXPECT_EQ(web_->Handle({"talk", "list", "extra"}, "").status, 2);
}

}  // namespace
}  // namespace orn
