#include "ornpe/virtual_engine.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace orn {
namespace {

using namespace std::string_literals;

// retry 1100 ms: a retry every 100 ms, the tenth unanswered retry gives up.
constexpr int64_t kRetryMs = 1100;

class VirtualEngineTest : public ::testing::Test {
 protected:
  VirtualEngineTest() : engine_(EngineOptions{2, kRetryMs}, [] { return "12:34:56"s; }) {}

  int Client() { return engine_.Open(); }

  void Send(int ep, char kind, const std::string& from = "", const std::string& to = "", const std::string& data = "",
            uint8_t port = 0, uint8_t pid = 0) {
    ApiFrame f;
    f.port = port;
    f.kind = kind;
    f.pid = pid;
    f.callFrom = from;
    f.callTo = to;
    f.data = data;
    engine_.Receive(ep, f);
  }

  void At(int64_t ms) {
    now_ = ms;
    engine_.Advance(ms);
  }
  void Wait(int64_t ms) { At(now_ + ms); }

  // Everything sent to `ep` so far, monitor frames included.
  std::vector<ApiFrame> All(int ep) {
    Collect();
    return std::exchange(received_[ep], {});
  }
  // Everything but monitor frames.
  std::vector<ApiFrame> Notices(int ep) {
    std::vector<ApiFrame> out;
    for (auto& f : All(ep)) {
      if (std::string("IUST").find(f.kind) == std::string::npos) out.push_back(f);
    }
    return out;
  }
  std::vector<std::string> MonitorLines(int ep) {
    std::vector<std::string> out;
    for (auto& f : All(ep)) {
      if (std::string("IUST").find(f.kind) != std::string::npos) out.push_back(std::string(1, f.kind) + f.data);
    }
    return out;
  }

  bool Register(int ep, const std::string& call, uint8_t port = 0) {
    Send(ep, 'X', call, "", "", port);
    auto n = Notices(ep);
    return n.size() == 1 && n[0].kind == 'X' && n[0].data == "\x01"s;
  }

  // A connected link A (own XX1AAA) -> B (registered XX2BBB).
  void Connect(int a, int b) {
    ASSERT_TRUE(Register(b, "XX2BBB"));
    Send(a, 'C', "XX1AAA", "XX2BBB");
    ASSERT_EQ(Notices(a).size(), 1u);
    ASSERT_EQ(Notices(b).size(), 1u);
  }

  void Collect() {
    for (auto& o : engine_.TakeOutput()) received_[o.endpoint].push_back(o.frame);
  }

  VirtualEngine engine_;
  int64_t now_ = 0;
  std::map<int, std::vector<ApiFrame>> received_;
};

void ExpectFrame(const ApiFrame& f, char kind, const std::string& from, const std::string& to,
                 const std::string& data, uint8_t port = 0) {
  EXPECT_EQ(f.kind, kind);
  EXPECT_EQ(f.port, port);
  EXPECT_EQ(f.callFrom, from);
  EXPECT_EQ(f.callTo, to);
  EXPECT_EQ(f.data, data);
}

TEST_F(VirtualEngineTest, AnswersQueriesLikeDirewolf) {
  const int a = Client();
  struct Case {
    char kind;
    uint8_t port;
    std::string reply;  // "" = no reply at all
    uint8_t replyPort;
  };
  const Case cases[] = {
      {'R', 0, "\xd5\x07\x00\x00\x7f\x00\x00\x00"s, 0},
      {'G', 0,
       "2;Port1 ornpe virtual radio;Port2 ornpe virtual radio;Port3 INVALID CHANNEL;Port4 INVALID CHANNEL;"
       "Port5 INVALID CHANNEL;Port6 INVALID CHANNEL;\0"s,
       0},
      {'g', 1, "\x00\x01\x19\x04\xc8\x04\x07\x00\x01\x00\x00\x00"s, 1},
      {'y', 1, "\0\0\0\0"s, 1},
      {'H', 0, "", 0},
      {'P', 0, "", 0},
      {'Q', 0, "", 0},
      {'k', 0, "", 0},
      {'K', 0, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.kind));
    Send(a, c.kind, "", "", "", c.port);
    auto n = All(a);
    if (c.reply.empty()) {
      EXPECT_TRUE(n.empty());
      continue;
    }
    ASSERT_EQ(n.size(), 1u);
    ExpectFrame(n[0], c.kind, "", "", c.reply, c.replyPort);
  }
}

TEST_F(VirtualEngineTest, RegistrationSucceedsOnRadioPortsOnly) {
  const int a = Client();
  struct Case {
    uint8_t port;
    uint8_t replyPort;
    char result;
  };
  // Port 2 is listed but has no radio; port 9 is not listed and becomes port 0.
  for (const Case& c : {Case{0, 0, 1}, Case{1, 1, 1}, Case{2, 2, 0}, Case{9, 0, 1}}) {
    SCOPED_TRACE(c.port);
    Send(a, 'X', "XX9ORN-1", "", "", c.port);
    auto n = All(a);
    ASSERT_EQ(n.size(), 1u);
    ExpectFrame(n[0], 'X', "XX9ORN-1", "", std::string(1, c.result), c.replyPort);
  }
  // Any text registers, lower case and over-long ones included (cut to 9).
  Send(a, 'X', "nocall");
  EXPECT_EQ(All(a)[0].data, "\x01"s);
  Send(a, 'X', "ABCDEFGHIJ");
  EXPECT_EQ(All(a)[0].callFrom, "ABCDEFGHI");
}

TEST_F(VirtualEngineTest, ConnectDataAndDisconnectReachBothSides) {
  const int a = Client(), b = Client();
  ASSERT_TRUE(Register(b, "XX2BBB"));
  Send(a, 'C', "XX1AAA", "XX2BBB");
  auto na = Notices(a), nb = Notices(b);
  ASSERT_EQ(na.size(), 1u);
  ASSERT_EQ(nb.size(), 1u);
  ExpectFrame(na[0], 'C', "XX2BBB", "XX1AAA", "*** CONNECTED With Station XX2BBB\r\0"s);
  ExpectFrame(nb[0], 'C', "XX1AAA", "XX2BBB", "*** CONNECTED To Station XX1AAA\r\0"s);

  // Binary-safe data both ways; header calls are always own -> remote.
  Send(a, 'D', "XX1AAA", "XX2BBB", "hello\0there\r"s, 0, 0xF0);
  Send(b, 'D', "XX2BBB", "XX1AAA", "answer\r", 0, 0xF0);
  nb = Notices(b);
  na = Notices(a);
  ASSERT_EQ(nb.size(), 1u);
  ASSERT_EQ(na.size(), 1u);
  ExpectFrame(nb[0], 'D', "XX1AAA", "XX2BBB", "hello\0there\r"s);
  EXPECT_EQ(nb[0].pid, 0xF0);
  ExpectFrame(na[0], 'D', "XX2BBB", "XX1AAA", "answer\r");

  // Everything was acknowledged at once.
  Send(a, 'Y', "XX1AAA", "XX2BBB");
  na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  ExpectFrame(na[0], 'Y', "XX1AAA", "XX2BBB", "\0\0\0\0"s);

  Send(a, 'd', "XX1AAA", "XX2BBB");
  na = Notices(a);
  nb = Notices(b);
  ASSERT_EQ(na.size(), 1u);
  ASSERT_EQ(nb.size(), 1u);
  ExpectFrame(na[0], 'd', "XX2BBB", "XX1AAA", "*** DISCONNECTED From Station XX2BBB\r\0"s);
  ExpectFrame(nb[0], 'd', "XX1AAA", "XX2BBB", "*** DISCONNECTED From Station XX1AAA\r\0"s);

  // The link is gone on both sides: data is dropped, 'd' answers at once.
  Send(b, 'D', "XX2BBB", "XX1AAA", "late\r");
  EXPECT_TRUE(Notices(a).empty());
  Send(b, 'd', "XX2BBB", "XX1AAA");
  nb = Notices(b);
  ASSERT_EQ(nb.size(), 1u);
  ExpectFrame(nb[0], 'd', "XX1AAA", "XX2BBB", "*** DISCONNECTED From Station XX1AAA\r\0"s);
}

TEST_F(VirtualEngineTest, DataIsCutIntoPacketsAndPidsFollowTheEngine) {
  const int a = Client(), b = Client();
  Connect(a, b);
  Send(a, 'D', "XX1AAA", "XX2BBB", std::string(600, 'x'), 0, 0x00);
  Send(a, 'D', "XX1AAA", "XX2BBB", "y", 0, 0xCF);
  Send(a, 'D', "XX1AAA", "XX2BBB", "z", 0, 0xFF);
  auto nb = Notices(b);
  ASSERT_EQ(nb.size(), 5u);
  EXPECT_EQ(nb[0].data.size(), 256u);
  EXPECT_EQ(nb[1].data.size(), 256u);
  EXPECT_EQ(nb[2].data.size(), 88u);
  const uint8_t pids[] = {0xF0, 0xF0, 0xF0, 0xCF, 0xF0};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(nb[i].pid, pids[i]) << i;
}

TEST_F(VirtualEngineTest, DataWithoutAnEstablishedLinkIsDropped) {
  const int a = Client(), b = Client();
  ASSERT_TRUE(Register(b, "XX2BBB"));
  Send(a, 'D', "XX1AAA", "XX2BBB", "before\r");
  Send(a, 'C', "XX1AAA", "XX2BBB");
  Notices(a);
  Notices(b);
  // The calls reversed name no link of A's.
  Send(a, 'D', "XX2BBB", "XX1AAA", "reversed\r");
  Send(a, 'D', "XX1AAA", "XX2BBB", "", 1);
  EXPECT_TRUE(Notices(b).empty());
  EXPECT_TRUE(Notices(a).empty());
}

TEST_F(VirtualEngineTest, ConnectToNobodyRetriesOutAfterTheRetryTime) {
  const int a = Client(), b = Client();
  Send(a, 'm');
  EXPECT_EQ(engine_.NextDeadline(), -1);  // nothing waits for time: the host may sleep
  Send(a, 'C', "XX1AAA", "XX3CCC");
  EXPECT_GT(engine_.NextDeadline(), 0);
  EXPECT_LE(engine_.NextDeadline(), kRetryMs);
  // B registers a different call, and a call on the wrong port.
  ASSERT_TRUE(Register(b, "XX4DDD"));
  ASSERT_TRUE(Register(b, "XX3CCC", 1));
  At(kRetryMs - 1);
  auto na = All(a);
  ASSERT_EQ(na.size(), 11u);
  At(kRetryMs);
  for (auto& f : All(a)) na.push_back(f);
  ASSERT_EQ(na.size(), 12u);
  for (size_t i = 0; i < 11; ++i) {
    EXPECT_EQ(na[i].kind, 'T');
    EXPECT_EQ(na[i].data, " 1:Fm XX1AAA To XX3CCC <SABM P=1 >[12:34:56]\r\0"s);
  }
  ExpectFrame(na[11], 'd', "XX3CCC", "XX1AAA", "*** DISCONNECTED RETRYOUT With XX3CCC\r\0"s);
  EXPECT_EQ(engine_.NextDeadline(), -1);
  // One jump of the clock runs every retry in turn.
  Send(a, 'C', "XX1AAA", "XX3CCC");
  At(10 * kRetryMs);
  na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  EXPECT_EQ(na[0].data, "*** DISCONNECTED RETRYOUT With XX3CCC\r\0"s);
}

TEST_F(VirtualEngineTest, CallsTheAirCannotCarryNeverConnect) {
  const int a = Client(), b = Client();
  ASSERT_TRUE(Register(b, "XX2BBB"));
  ASSERT_TRUE(Register(b, "xx2bbb"));
  Send(b, 'm');
  struct Case {
    std::string own, remote;
    uint8_t port;
  };
  // Port 3 is listed but has no radio.
  for (const Case& c : {Case{"xx1aaa", "XX2BBB", 0}, Case{"XX1AAA", "xx2bbb", 0}, Case{"XX1AAAAA", "XX2BBB", 0},
                        Case{"XX1AAA-16", "XX2BBB", 0}, Case{"XX1AAA", "XX2BBB", 3}}) {
    SCOPED_TRACE(c.own + ">" + c.remote);
    Send(a, 'C', c.own, c.remote, "", c.port);
    Wait(kRetryMs);
    auto na = Notices(a);
    ASSERT_EQ(na.size(), 1u);
    ExpectFrame(na[0], 'd', c.remote, c.own, "*** DISCONNECTED RETRYOUT With " + c.remote + "\r\0"s, c.port);
    EXPECT_TRUE(All(b).empty()) << "nothing went on the air";
  }
}

TEST_F(VirtualEngineTest, SsidZeroSuffixConnectsOnlyOneSide) {
  // "-0" is not written on the air: the far end connects, but the answer
  // never matches the caller's link.
  const int a = Client(), b = Client();
  ASSERT_TRUE(Register(b, "XX2BBB"));
  Send(a, 'C', "XX1AAA-0", "XX2BBB");
  auto nb = Notices(b);
  ASSERT_EQ(nb.size(), 1u);
  ExpectFrame(nb[0], 'C', "XX1AAA", "XX2BBB", "*** CONNECTED To Station XX1AAA\r\0"s);
  EXPECT_TRUE(Notices(a).empty());
  At(kRetryMs);
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  ExpectFrame(na[0], 'd', "XX2BBB", "XX1AAA-0", "*** DISCONNECTED RETRYOUT With XX2BBB\r\0"s);
  // A registration with "-0" is never reached either.
  const int c = Client();
  ASSERT_TRUE(Register(c, "XX5EEE-0"));
  Send(a, 'C', "XX1AAA", "XX5EEE-0");
  EXPECT_TRUE(Notices(c).empty());
}

TEST_F(VirtualEngineTest, DisconnectRequests) {
  const int a = Client();
  // No link: answered at once, with the calls as given.
  Send(a, 'd', "XX1AAA", "XX7ZZZ", "", 1);
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  ExpectFrame(na[0], 'd', "XX7ZZZ", "XX1AAA", "*** DISCONNECTED From Station XX7ZZZ\r\0"s, 1);
  // During a connect attempt: ignored, the attempt runs to its end.
  Send(a, 'C', "XX1AAA", "XX7ZZZ");
  Send(a, 'd', "XX1AAA", "XX7ZZZ");
  EXPECT_TRUE(Notices(a).empty());
  At(kRetryMs);
  na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  EXPECT_EQ(na[0].data, "*** DISCONNECTED RETRYOUT With XX7ZZZ\r\0"s);
}

TEST_F(VirtualEngineTest, TheMostRecentRegistrationTakesTheCall) {
  const int a = Client(), b = Client(), c = Client();
  ASSERT_TRUE(Register(b, "XX2BBB"));
  ASSERT_TRUE(Register(c, "XX2BBB"));
  EXPECT_EQ(engine_.OldestRegistration(0), "XX2BBB");
  Send(a, 'C', "XX1AAA", "XX2BBB");
  EXPECT_TRUE(Notices(b).empty());
  EXPECT_EQ(Notices(c).size(), 1u);
  Send(a, 'd', "XX1AAA", "XX2BBB");
  Notices(a);
  Notices(c);
  // After C unregisters, B is reached again.
  Send(c, 'x', "XX2BBB");
  EXPECT_TRUE(Notices(c).empty());
  Send(a, 'C', "XX1AAA", "XX2BBB");
  EXPECT_EQ(Notices(b).size(), 1u);
  EXPECT_TRUE(Notices(c).empty());
}

TEST_F(VirtualEngineTest, AClientDoesNotHearItself) {
  const int a = Client();
  ASSERT_TRUE(Register(a, "XX2BBB"));
  Send(a, 'C', "XX1AAA", "XX2BBB");
  At(kRetryMs);
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  EXPECT_EQ(na[0].data, "*** DISCONNECTED RETRYOUT With XX2BBB\r\0"s);
}

TEST_F(VirtualEngineTest, ADroppedClientLeavesItsPeerToRetryOut) {
  const int a = Client(), b = Client();
  Connect(a, b);
  engine_.Close(b, false);
  EXPECT_TRUE(Notices(a).empty()) << "nobody on the air is told";
  EXPECT_EQ(engine_.OldestRegistration(0), "");

  // Frames go unanswered: they stay outstanding until the retries run out.
  At(1000);
  Send(a, 'D', "XX1AAA", "XX2BBB", std::string(300, 'x'));
  Send(a, 'Y', "XX1AAA", "XX2BBB");
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  EXPECT_EQ(na[0].data, "\x02\0\0\0"s);
  At(1000 + kRetryMs - 1);
  EXPECT_TRUE(Notices(a).empty());
  At(1000 + kRetryMs);
  na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  ExpectFrame(na[0], 'd', "XX2BBB", "XX1AAA", "*** DISCONNECTED RETRYOUT With XX2BBB\r\0"s);
}

TEST_F(VirtualEngineTest, DisconnectingFromAVanishedPeerTakesTheRetryTime) {
  const int a = Client(), b = Client();
  Connect(a, b);
  engine_.Close(b, false);
  Send(a, 'd', "XX1AAA", "XX2BBB");
  EXPECT_TRUE(Notices(a).empty());
  At(kRetryMs);
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  EXPECT_EQ(na[0].data, "*** DISCONNECTED From Station XX2BBB\r\0"s);
}

TEST_F(VirtualEngineTest, APeerThatRegisteredAgainRefusesTheOldLink) {
  const int a = Client(), b = Client();
  Connect(a, b);
  engine_.Close(b, false);
  const int b2 = Client();
  ASSERT_TRUE(Register(b2, "XX2BBB"));
  Send(a, 'D', "XX1AAA", "XX2BBB", "still there?\r");
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  EXPECT_EQ(na[0].data, "*** DISCONNECTED From Station XX2BBB\r\0"s);
  EXPECT_TRUE(Notices(b2).empty());
}

TEST_F(VirtualEngineTest, HangingUpDisconnectsThePeer) {
  const int a = Client(), b = Client();
  Connect(a, b);
  engine_.Close(a, true);
  auto nb = Notices(b);
  ASSERT_EQ(nb.size(), 1u);
  ExpectFrame(nb[0], 'd', "XX1AAA", "XX2BBB", "*** DISCONNECTED From Station XX1AAA\r\0"s);
  engine_.Receive(a, ApiFrame{0, 'R', 0, "", "", ""});
  EXPECT_TRUE(All(a).empty()) << "a closed endpoint gets nothing";
}

TEST_F(VirtualEngineTest, AHeldCallComesUpWhenTheHostAnswers) {
  const int held = Client(), a = Client(), b = Client();
  engine_.RegisterHeld(held, "XX5FBB");
  ASSERT_TRUE(Register(b, "XX9ORN-1"));
  EXPECT_EQ(engine_.OldestRegistration(0), "XX9ORN-1") << "a held call is nobody's BBS";
  EXPECT_FALSE(engine_.CallInUse(1, "XX5FBB")) << "the peer behind it may call in under its call";
  Send(b, 'm');

  // On any port; the caller's retries go unanswered until the host answers.
  Send(a, 'C', "XX1AAA", "XX5FBB", "", 1);
  auto calls = engine_.TakeHeldCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].endpoint, held);
  EXPECT_EQ(calls[0].port, 1);
  EXPECT_EQ(calls[0].own, "XX5FBB");
  EXPECT_EQ(calls[0].remote, "XX1AAA");
  Wait(kRetryMs / 2);
  EXPECT_TRUE(Notices(a).empty());
  EXPECT_TRUE(engine_.TakeHeldCalls().empty());
  EXPECT_EQ(MonitorLines(b).size(), 6u) << "the SABM and five retries";

  ASSERT_TRUE(engine_.AnswerHeld(calls[0]));
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  ExpectFrame(na[0], 'C', "XX5FBB", "XX1AAA", "*** CONNECTED With Station XX5FBB\r\0"s, 1);
  EXPECT_TRUE(engine_.CallInUse(1, "XX5FBB"));
  EXPECT_EQ(MonitorLines(b), std::vector<std::string>{"S 2:Fm XX5FBB To XX1AAA <UA F=1 >[12:34:56]\r\0"s});

  // Data both ways in packets of PACLEN at most, and a disconnect reaches the host.
  Send(held, 'D', "XX5FBB", "XX1AAA", std::string(300, 'x'), 1, 0xF0);
  na = Notices(a);
  ASSERT_EQ(na.size(), 2u);
  ExpectFrame(na[0], 'D', "XX5FBB", "XX1AAA", std::string(256, 'x'), 1);
  ExpectFrame(na[1], 'D', "XX5FBB", "XX1AAA", std::string(44, 'x'), 1);
  Send(a, 'D', "XX1AAA", "XX5FBB", "\xff\0\r"s, 1, 0xF0);
  auto nh = Notices(held);
  ASSERT_EQ(nh.size(), 1u);
  ExpectFrame(nh[0], 'D', "XX1AAA", "XX5FBB", "\xff\0\r"s, 1);
  Send(a, 'd', "XX1AAA", "XX5FBB", "", 1);
  nh = Notices(held);
  ASSERT_EQ(nh.size(), 1u);
  ExpectFrame(nh[0], 'd', "XX1AAA", "XX5FBB", "*** DISCONNECTED From Station XX1AAA\r\0"s, 1);
  EXPECT_EQ(Notices(a).size(), 1u);
}

TEST_F(VirtualEngineTest, AHeldCallTurnedDownRetriesOutAtOnce) {
  const int held = Client(), a = Client();
  engine_.RegisterHeld(held, "XX5FBB");
  Send(a, 'C', "XX1AAA", "XX5FBB");
  auto calls = engine_.TakeHeldCalls();
  ASSERT_EQ(calls.size(), 1u);
  engine_.RefuseHeld(calls[0]);
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  ExpectFrame(na[0], 'd', "XX5FBB", "XX1AAA", "*** DISCONNECTED RETRYOUT With XX5FBB\r\0"s);
  EXPECT_FALSE(engine_.AnswerHeld(calls[0]));
  EXPECT_TRUE(Notices(held).empty());
  // The next attempt is a new call for the host.
  Send(a, 'C', "XX1AAA", "XX5FBB");
  EXPECT_EQ(engine_.TakeHeldCalls().size(), 1u);
}

TEST_F(VirtualEngineTest, AHeldCallWhoseCallerIsGoneIsNotAnswered) {
  const int held = Client(), a = Client(), c = Client();
  engine_.RegisterHeld(held, "XX5FBB");
  // A caller that retried out before the host answered.
  Send(a, 'C', "XX1AAA", "XX5FBB");
  auto calls = engine_.TakeHeldCalls();
  ASSERT_EQ(calls.size(), 1u);
  At(kRetryMs);
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  EXPECT_EQ(na[0].data, "*** DISCONNECTED RETRYOUT With XX5FBB\r\0"s);
  EXPECT_FALSE(engine_.AnswerHeld(calls[0]));
  // A caller whose client went away.
  Send(c, 'C', "XX3CCC", "XX5FBB");
  calls = engine_.TakeHeldCalls();
  ASSERT_EQ(calls.size(), 1u);
  engine_.Close(c, true);
  EXPECT_FALSE(engine_.AnswerHeld(calls[0]));
  EXPECT_TRUE(Notices(held).empty());
  EXPECT_FALSE(engine_.CallInUse(0, "XX3CCC"));
}

TEST_F(VirtualEngineTest, ConnectingAgainResetsTheLink) {
  const int a = Client(), b = Client();
  Connect(a, b);
  Send(a, 'C', "XX1AAA", "XX2BBB");
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  EXPECT_EQ(na[0].data, "*** CONNECTED With Station XX2BBB\r\0"s);
  EXPECT_TRUE(Notices(b).empty()) << "nothing was lost, so B is not told";
  Send(a, 'D', "XX1AAA", "XX2BBB", "after reset\r");
  EXPECT_EQ(Notices(b).size(), 1u);
}

TEST_F(VirtualEngineTest, MonitorShowsTransmittedAndHeardFrames) {
  const int a = Client(), b = Client(), c = Client();
  ASSERT_TRUE(Register(b, "XX2BBB"));
  Send(a, 'm');
  Send(c, 'm');
  Send(a, 'C', "XX1AAA", "XX2BBB");
  Send(a, 'D', "XX1AAA", "XX2BBB", "hi\r", 0, 0xF0);
  Send(b, 'd', "XX2BBB", "XX1AAA");
  const std::vector<std::string> heard = {
      "S 1:Fm XX1AAA To XX2BBB <SABM P=1 >[12:34:56]\r\0"s,
      "S 1:Fm XX2BBB To XX1AAA <UA F=1 >[12:34:56]\r\0"s,
      "I 1:Fm XX1AAA To XX2BBB <I S0 R0 pid=0xF0 Len=3 P=0 >[12:34:56]\rhi\r\r\0"s,
      "S 1:Fm XX2BBB To XX1AAA <RR R1 F=0 >[12:34:56]\r\0"s,
      "S 1:Fm XX2BBB To XX1AAA <DISC P=1 >[12:34:56]\r\0"s,
      "S 1:Fm XX1AAA To XX2BBB <UA F=1 >[12:34:56]\r\0"s,
  };
  EXPECT_EQ(MonitorLines(c), heard);
  // A sees its own frames as 'T'.
  std::vector<std::string> own = heard;
  for (size_t i : {0u, 2u, 5u}) own[i][0] = 'T';
  EXPECT_EQ(MonitorLines(a), own);
  EXPECT_TRUE(MonitorLines(b).empty()) << "monitor is off until asked for";
  // 'm' again turns it off.
  Send(c, 'm');
  Send(a, 'M', "XX1AAA", "CQ", "x");
  EXPECT_TRUE(MonitorLines(c).empty());
  EXPECT_EQ(MonitorLines(a).size(), 1u);
}

TEST_F(VirtualEngineTest, UnprotoGoesThroughTheTextPath) {
  const int a = Client(), c = Client();
  Send(c, 'm');
  std::string digis = "\x02"s + std::string("RELAY\0\0\0\0\0", 10) + std::string("WIDE2-2\0\0\0", 10);
  struct Case {
    char kind;
    std::string from, to, data;
    std::string line;  // "" = nothing sent
  };
  const Case cases[] = {
      {'M', "XX1AAA", "CQ", "unproto test 1\r", "U 1:Fm XX1AAA To CQ <UI pid=F0 Len=15 PF=0 >[12:34:56]\runproto test 1\r\r\0"s},
      {'M', "XX1AAA", "CQ", "cut\0here"s, "U 1:Fm XX1AAA To CQ <UI pid=F0 Len=3 PF=0 >[12:34:56]\rcut\r\0"s},
      {'M', "XX1AAA", "CQ", "a<0x41><0x7e>b<0xZZ>", "U 1:Fm XX1AAA To CQ <UI pid=F0 Len=10 PF=0 >[12:34:56]\raA~b<0xZZ>\r\0"s},
      {'V', "XX1AAA", "ID", digis + "via test\r",
       "U 1:Fm XX1AAA To ID Via RELAY,WIDE2-2 <UI pid=F0 Len=9 PF=0 >[12:34:56]\rvia test\r\r\0"s},
      {'M', "xx1aaa", "CQ", "lower case", ""},
      {'M', "XX1AAA", "CQ-16", "bad ssid", ""},
      {'V', "XX1AAA", "ID", "\x09short", ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.data);
    Send(a, k.kind, k.from, k.to, k.data);
    auto lines = MonitorLines(c);
    if (k.line.empty()) {
      EXPECT_TRUE(lines.empty());
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0], k.line);
    }
  }
  // 600 info bytes: the text "XX1AAA>CQ:" plus the info is cut to 511 characters.
  Send(a, 'M', "XX1AAA", "CQ", std::string(600, 'x'));
  auto lines = MonitorLines(c);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Len=501 "), std::string::npos);
}

TEST_F(VirtualEngineTest, ConnectViaDigipeatersShowsThePathBothWays) {
  const int a = Client(), b = Client(), c = Client();
  ASSERT_TRUE(Register(b, "XX2BBB"));
  Send(c, 'm');
  std::string digis = "\x02"s + std::string("XX8DI1\0\0\0\0", 10) + std::string("XX8DI2\0\0\0\0", 10);
  Send(a, 'v', "XX1AAA", "XX2BBB", digis);
  auto na = Notices(a);
  ASSERT_EQ(na.size(), 1u);
  EXPECT_EQ(na[0].data, "*** CONNECTED With Station XX2BBB\r\0"s);
  const std::vector<std::string> lines = {
      "S 1:Fm XX1AAA To XX2BBB Via XX8DI1,XX8DI2 <SABM P=1 >[12:34:56]\r\0"s,
      "S 1:Fm XX2BBB To XX1AAA Via XX8DI2,XX8DI1 <UA F=1 >[12:34:56]\r\0"s,
  };
  EXPECT_EQ(MonitorLines(c), lines);
  // Data and disconnect carry only the two calls.
  Send(b, 'D', "XX2BBB", "XX1AAA", "x");
  EXPECT_EQ(Notices(a).size(), 1u);
  // A malformed digipeater list is ignored.
  Send(a, 'v', "XX1AAA", "XX5EEE", "\x03short");
  At(10 * kRetryMs);
  EXPECT_TRUE(Notices(a).empty());
}

TEST_F(VirtualEngineTest, CallInUseCoversRegistrationsAndLinks) {
  const int a = Client(), b = Client();
  ASSERT_TRUE(Register(b, "XX2BBB"));
  Send(a, 'C', "XX1AAA-0", "XX3CCC");
  EXPECT_TRUE(engine_.CallInUse(0, "XX2BBB"));
  EXPECT_TRUE(engine_.CallInUse(0, "XX1AAA"));
  EXPECT_TRUE(engine_.CallInUse(0, "XX3CCC"));
  EXPECT_FALSE(engine_.CallInUse(1, "XX2BBB"));
  EXPECT_FALSE(engine_.CallInUse(0, "XX2BBB-1"));
}

}  // namespace
}  // namespace orn
