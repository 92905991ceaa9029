#include "ornpe/gateway_session.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "ornpe/virtual_engine.h"

namespace orn {
namespace {

using namespace std::string_literals;

class GatewaySessionTest : public ::testing::Test {
 protected:
  GatewaySessionTest()
      : session_(GatewayHooks{[this] { return bbs_; }, [this](const std::string& c) { return busy_.count(c) > 0; }}) {
    session_.Start();
  }

  // Logs in as `call` and answers the connect.
  void LogIn(const std::string& call = "XX1GW") {
    session_.FromTerminal(call + "\r\n");
    auto frames = session_.TakeEngineFrames();
    ASSERT_EQ(frames.size(), 1u);
    Engine('C', "*** CONNECTED With Station XX9ORN-1\r\0"s);
    session_.TakeTerminalOutput();
    ASSERT_TRUE(session_.connected());
  }

  void Engine(char kind, const std::string& data) {
    session_.FromEngine(ApiFrame{0, kind, 0, "XX9ORN-1", session_.call(), data});
  }

  std::vector<std::string> SentData() {
    std::vector<std::string> out;
    for (auto& f : session_.TakeEngineFrames()) {
      EXPECT_EQ(f.kind, 'D');
      EXPECT_EQ(f.pid, 0xF0);
      out.push_back(f.data);
    }
    return out;
  }

  std::string bbs_ = "XX9ORN-1";
  std::set<std::string> busy_ = {"XX9ORN-1", "XX2BSY"};
  GatewaySession session_;
};

TEST_F(GatewaySessionTest, LogsInAndConnectsToTheBbs) {
  EXPECT_EQ(session_.TakeTerminalOutput(), "Callsign: ");
  session_.FromTerminal("  xx1gw-0 \r\n");
  EXPECT_EQ(session_.TakeTerminalOutput(), "Connecting XX1GW to XX9ORN-1 ...\r\n");
  auto frames = session_.TakeEngineFrames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kind, 'C');
  EXPECT_EQ(frames[0].port, 0);
  EXPECT_EQ(frames[0].callFrom, "XX1GW");
  EXPECT_EQ(frames[0].callTo, "XX9ORN-1");
  Engine('C', "*** CONNECTED With Station XX9ORN-1\r\0"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "*** CONNECTED With Station XX9ORN-1\r\n");
  EXPECT_TRUE(session_.connected());
}

TEST_F(GatewaySessionTest, RefusesBadAndBusyCallsigns) {
  session_.TakeTerminalOutput();
  session_.FromTerminal("\n");
  EXPECT_EQ(session_.TakeTerminalOutput(), "Callsign: ");
  session_.FromTerminal("not a call\n");
  EXPECT_EQ(session_.TakeTerminalOutput(),
            "Not a callsign: letters and digits, at most 6, and an SSID -1 to -15 if needed.\r\nCallsign: ");
  session_.FromTerminal("xx2bsy\n");
  EXPECT_EQ(session_.TakeTerminalOutput(), "XX2BSY is already on the air.\r\nCallsign: ");
  EXPECT_TRUE(session_.TakeEngineFrames().empty());
  session_.FromTerminal("XX9ORN-1\n");
  EXPECT_EQ(session_.TakeTerminalOutput(), "XX9ORN-1 is already on the air.\r\nGoodbye.\r\n");
  EXPECT_TRUE(session_.finished());
}

TEST_F(GatewaySessionTest, AnEndlessCallsignLineCountsAsBad) {
  session_.TakeTerminalOutput();
  session_.FromTerminal(std::string(200, 'A'));
  EXPECT_NE(session_.TakeTerminalOutput().find("Not a callsign"), std::string::npos);
  EXPECT_FALSE(session_.finished());
}

TEST_F(GatewaySessionTest, WithoutABbsThereIsNothingToConnectTo) {
  bbs_.clear();
  session_.TakeTerminalOutput();
  session_.FromTerminal("XX1GW\n");
  EXPECT_EQ(session_.TakeTerminalOutput(), "No BBS is on the air yet. Try again later.\r\n");
  EXPECT_TRUE(session_.finished());
  EXPECT_TRUE(session_.TakeEngineFrames().empty());
}

TEST_F(GatewaySessionTest, TypedLineEndsBecomeCarriageReturns) {
  struct Case {
    std::vector<std::string> typed;  // as the terminal delivers it, piece by piece
    std::vector<std::string> sent;
  };
  const Case cases[] = {
      {{"hello\r\n"}, {"hello\r"}},
      {{"hello\n"}, {"hello\r"}},
      {{"hello\r"}, {"hello\r"}},
      {{"one\r\ntwo\nthree\r"}, {"one\r", "two\r", "three\r"}},
      {{"split\r", "\nnext\n"}, {"split\r", "next\r"}},
      {{"\n\n"}, {"\r", "\r"}},
      {{"telnet\r\0"s, "x\n"}, {"telnet\r", "x\r"}},
      {{"par", "tial", "\n"}, {"partial\r"}},
      // Telnet commands vanish; IAC IAC is the byte 255.
      {{"a\xff\xfb\x01" "b\xff\xff" "c\xff\xfa\x18\x01\xff\xf0" "d\xff\xf4" "e\n"}, {"ab\xff" "cde\r"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed[0]);
    GatewaySession s(GatewayHooks{[] { return "XX9ORN-1"s; }, nullptr});
    s.Start();
    s.FromTerminal("XX1GW\n");
    s.FromEngine(ApiFrame{0, 'C', 0, "XX9ORN-1", "XX1GW", "*** CONNECTED With Station XX9ORN-1\r\0"s});
    s.TakeEngineFrames();
    std::vector<std::string> sent;
    for (const auto& piece : c.typed) {
      s.FromTerminal(piece);
      for (auto& f : s.TakeEngineFrames()) sent.push_back(f.data);
    }
    EXPECT_EQ(sent, c.sent);
  }
}

TEST_F(GatewaySessionTest, LongLinesGoOutInFullPackets) {
  LogIn();
  session_.FromTerminal(std::string(600, 'x'));
  auto sent = SentData();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].size(), 256u);
  EXPECT_EQ(sent[1].size(), 256u);
  session_.FromTerminal("\n");
  sent = SentData();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], std::string(88, 'x') + "\r");
}

TEST_F(GatewaySessionTest, TextTypedWhileConnectingWaitsForTheLink) {
  session_.FromTerminal("XX1GW\nearly\n");
  auto frames = session_.TakeEngineFrames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kind, 'C');
  Engine('C', "*** CONNECTED With Station XX9ORN-1\r\0"s);
  EXPECT_EQ(SentData(), std::vector<std::string>{"early\r"});
}

TEST_F(GatewaySessionTest, BbsTextReachesTheTerminalWithLineFeeds) {
  LogIn();
  Engine('D', "Hello\rXX9ORN BBS>\r"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "Hello\r\nXX9ORN BBS>\r\n");
  // Frames for another station or port are not ours.
  session_.FromEngine(ApiFrame{0, 'D', 0, "XX9ORN-2", "XX1GW", "other"});
  session_.FromEngine(ApiFrame{1, 'D', 0, "XX9ORN-1", "XX1GW", "other"});
  EXPECT_EQ(session_.TakeTerminalOutput(), "");
  Engine('d', "*** DISCONNECTED From Station XX9ORN-1\r\0"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "*** DISCONNECTED From Station XX9ORN-1\r\n");
  EXPECT_TRUE(session_.finished());
}

TEST_F(GatewaySessionTest, AFailedConnectEndsTheSession) {
  session_.FromTerminal("XX1GW\n");
  session_.TakeTerminalOutput();
  Engine('d', "*** DISCONNECTED RETRYOUT With XX9ORN-1\r\0"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "*** DISCONNECTED RETRYOUT With XX9ORN-1\r\n");
  EXPECT_TRUE(session_.finished());
}

TEST_F(GatewaySessionTest, HangingUpSendsThePartialLine) {
  LogIn();
  session_.FromTerminal("no newline");
  EXPECT_TRUE(SentData().empty());
  session_.TerminalClosed();
  EXPECT_EQ(SentData(), std::vector<std::string>{"no newline"});
  EXPECT_TRUE(session_.finished());
}

TEST_F(GatewaySessionTest, BinaryAgreedByTheTerminalKeepsItsBytes) {
  LogIn();
  // The terminal will send binary: its bytes go as they come, at once.
  session_.FromTerminal("\xff\xfb\x00"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "\xff\xfd\x00"s);
  session_.FromTerminal("a\nb\r\0c\xff\xff"s);
  EXPECT_EQ(SentData(), std::vector<std::string>{"a\nb\r\0c\xff"s});
  // The other direction is still text until the terminal asks for binary.
  Engine('D', "x\ry\xff"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "x\r\ny\xff\xff"s);
  session_.FromTerminal("\xff\xfd\x00"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "\xff\xfb\x00"s);
  Engine('D', "x\ry\xff\n"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "x\ry\xff\xff\n"s);
  // Back to text lines when the terminal ends binary.
  session_.FromTerminal("\xff\xfc\x00\xff\xfe\x00"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "\xff\xfe\x00\xff\xfc\x00"s);
  session_.FromTerminal("text\n");
  EXPECT_EQ(SentData(), std::vector<std::string>{"text\r"});
  Engine('D', "z\r");
  EXPECT_EQ(session_.TakeTerminalOutput(), "z\r\n");
}

TEST_F(GatewaySessionTest, OtherTelnetOptionsAreRefused) {
  session_.TakeTerminalOutput();
  session_.FromTerminal("\xff\xfd\x01\xff\xfb\x03\xff\xfa\x18\x01\xff\xf0XX1GW\r\n"s);
  EXPECT_EQ(session_.TakeTerminalOutput(), "\xff\xfc\x01\xff\xfe\x03" "Connecting XX1GW to XX9ORN-1 ...\r\n"s);
}

// A BBS calling in over telnet: the callsign line as from a terminal, then
// bytes as they are. A telnet client negotiates first.
TEST(GatewayBbsCallerTest, AfterTheCallsignEveryBytePasses) {
  GatewaySession s(GatewayHooks{[] { return "XX9ORN-1"s; }, nullptr}, GatewaySession::Caller::Bbs);
  s.Start();
  EXPECT_EQ(s.TakeTerminalOutput(), "Callsign: ");
  s.FromTerminal("\xff\xfe\x01"s);  // DONT ECHO
  EXPECT_EQ(s.TakeTerminalOutput(), "");
  s.FromTerminal("xx5fbb\r");
  s.FromTerminal("\n");  // the callsign line's own LF, in a read of its own
  auto frames = s.TakeEngineFrames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kind, 'C');
  EXPECT_EQ(frames[0].callFrom, "XX5FBB");
  s.FromEngine(ApiFrame{0, 'C', 0, "XX9ORN-1", "XX5FBB", "*** CONNECTED With Station XX9ORN-1\r\0"s});
  EXPECT_EQ(s.TakeTerminalOutput(), "Connecting XX5FBB to XX9ORN-1 ...\r\n*** CONNECTED With Station XX9ORN-1\r\n");

  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  all += "\r\n\n\r\0\xff"s;
  const std::string wire = TelnetStream().Encode(all);
  std::string sent;
  for (size_t cut = 0; cut < wire.size(); cut += 100) {
    s.FromTerminal(wire.substr(cut, 100));
    for (auto& f : s.TakeEngineFrames()) {
      EXPECT_EQ(f.kind, 'D');
      EXPECT_LE(f.data.size(), 256u);
      sent += f.data;
    }
  }
  EXPECT_EQ(sent, all);

  s.FromEngine(ApiFrame{0, 'D', 0xF0, "XX9ORN-1", "XX5FBB", "[ORN-7.10-ABFHMR$]\r" + all});
  EXPECT_EQ(s.TakeTerminalOutput(), "[ORN-7.10-ABFHMR$]\r" + wire);
  s.FromTerminal("\xff\xfd\x01\xff\xfb\x00"s);
  EXPECT_EQ(s.TakeTerminalOutput(), "\xff\xfc\x01\xff\xfd\x00"s);
  s.FromEngine(ApiFrame{0, 'd', 0, "XX9ORN-1", "XX5FBB", "*** DISCONNECTED From Station XX9ORN-1\r\0"s});
  EXPECT_EQ(s.TakeTerminalOutput(), "*** DISCONNECTED From Station XX9ORN-1\r\n");
  EXPECT_TRUE(s.finished());
}

TEST(GatewayBbsCallerTest, OnlyTheCallsignLineEndIsTakenOff) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"XX5FBB\r\nSID\r\n", "SID\r\n"},
      {"XX5FBB\r\0\0SID"s, "\0SID"s},
      {"XX5FBB\n\nSID", "\nSID"},
      {"XX5FBB\r\r\nSID", "\r\nSID"},
  };
  for (const auto& [typed, sent] : cases) {
    SCOPED_TRACE(typed);
    GatewaySession s(GatewayHooks{[] { return "XX9ORN-1"s; }, nullptr}, GatewaySession::Caller::Bbs);
    s.Start();
    s.FromTerminal(typed);
    s.FromEngine(ApiFrame{0, 'C', 0, "XX9ORN-1", "XX5FBB", "*** CONNECTED With Station XX9ORN-1\r\0"s});
    std::string data;
    for (auto& f : s.TakeEngineFrames()) {
      if (f.kind == 'D') data += f.data;
    }
    EXPECT_EQ(data, sent);
  }
}

// A BBS calling in without negotiating first may be raw TCP (LinBPQ's
// connect script) or telnet all the same (LinFBB doubles 0xFF). IAC IAC is
// one 0xFF until an IAC comes with any other byte after it: no telnet sender
// that never negotiated sends that, so the rest is raw, both ways.
// `forced` is --bbs-gateway HOST:PORT,raw.
TEST(GatewayBbsCallerTest, ARawCallerKeepsEveryByte) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  const std::string sid = "[BPQ-6.0.24.1-B1FHMR$]\r";
  struct Case {
    const char* name;
    bool forced;
    std::string wire;  // after the callsign line
    std::string data;  // what reaches the BBS
    const char* seen;  // wire() at the end
  } cases[] = {
      {"raw: 0xFF 0xD3 tells", false, sid + "\xff\xd3"s + bytes + "\xff\xff\xff"s,
       sid + "\xff\xd3"s + bytes + "\xff\xff\xff"s, "raw TCP"},
      {"raw, forced", true, "\xff\xff"s + bytes, "\xff\xff"s + bytes, "raw TCP"},
      {"telnet without negotiating (LinFBB)", false, sid + TelnetStream().Encode(bytes + bytes), sid + bytes + bytes,
       "not told yet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GatewaySession s(GatewayHooks{[] { return "XX9ORN-1"s; }, nullptr}, GatewaySession::Caller::Bbs, c.forced);
    s.Start();
    s.FromTerminal("XX5BPQ\r");
    s.FromEngine(ApiFrame{0, 'C', 0, "XX9ORN-1", "XX5BPQ", "*** CONNECTED With Station XX9ORN-1\r\0"s});
    auto frames = s.TakeEngineFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].callFrom, "XX5BPQ");
    s.TakeTerminalOutput();
    EXPECT_STREQ(s.wire(), c.forced ? "raw TCP" : "not told yet");
    std::string sent;
    for (size_t cut = 0; cut < c.wire.size(); cut += 7) {
      s.FromTerminal(c.wire.substr(cut, 7));
      for (auto& f : s.TakeEngineFrames()) sent += f.data;
    }
    EXPECT_EQ(sent, c.data);
    EXPECT_STREQ(s.wire(), c.seen);
    EXPECT_EQ(s.TakeTurnedRaw(), !c.forced && std::string(c.seen) == "raw TCP");
    EXPECT_EQ(s.TakeTerminalOutput(), "");  // nothing answered: there was no command
    s.FromEngine(ApiFrame{0, 'D', 0xF0, "XX9ORN-1", "XX5BPQ", bytes});
    EXPECT_EQ(s.TakeTerminalOutput(), std::string(c.seen) == "raw TCP" ? bytes : TelnetStream().Encode(bytes));
  }
  // Negotiation first: telnet, unless raw is forced.
  for (const bool forced : {false, true}) {
    SCOPED_TRACE(forced);
    GatewaySession s(GatewayHooks{[] { return "XX9ORN-1"s; }, nullptr}, GatewaySession::Caller::Bbs, forced);
    s.Start();
    s.TakeTerminalOutput();
    s.FromTerminal("\xff\xfd\x00"s);  // DO BINARY
    EXPECT_STREQ(s.wire(), forced ? "raw TCP" : "telnet");
    EXPECT_EQ(s.TakeTerminalOutput(), forced ? ""s : "\xff\xfb\x00"s);
  }
}

// The session and the engine together, as the host wires them.
TEST(GatewayOnTheAirTest, ATerminalStationReachesARegisteredBbs) {
  VirtualEngine engine(EngineOptions{1, 1100}, [] { return "00:00:00"s; });
  const int bbs = engine.Open();
  engine.Receive(bbs, ApiFrame{0, 'X', 0, "XX9ORN-1", "", ""});
  const int gw = engine.Open();
  GatewaySession session(GatewayHooks{[&] { return engine.OldestRegistration(0); },
                                      [&](const std::string& c) { return engine.CallInUse(0, c); }});
  std::vector<ApiFrame> atBbs;
  auto pump = [&] {
    for (bool more = true; more;) {
      for (auto& f : session.TakeEngineFrames()) engine.Receive(gw, f);
      auto out = engine.TakeOutput();
      more = !out.empty();
      for (auto& o : out) {
        if (o.endpoint == gw) session.FromEngine(o.frame);
        if (o.endpoint == bbs && o.frame.kind != 'X') atBbs.push_back(o.frame);
      }
    }
  };
  session.Start();
  session.FromTerminal("xx1gw\r\nhello bbs\r\n");
  pump();
  ASSERT_EQ(atBbs.size(), 2u);
  EXPECT_EQ(atBbs[0].kind, 'C');
  EXPECT_EQ(atBbs[0].data, "*** CONNECTED To Station XX1GW\r\0"s);
  EXPECT_EQ(atBbs[1].kind, 'D');
  EXPECT_EQ(atBbs[1].callFrom, "XX1GW");
  EXPECT_EQ(atBbs[1].data, "hello bbs\r");
  EXPECT_EQ(session.TakeTerminalOutput(),
            "Callsign: Connecting XX1GW to XX9ORN-1 ...\r\n*** CONNECTED With Station XX9ORN-1\r\n");

  engine.Receive(bbs, ApiFrame{0, 'D', 0xF0, "XX9ORN-1", "XX1GW", "Welcome\r"});
  pump();
  EXPECT_EQ(session.TakeTerminalOutput(), "Welcome\r\n");

  atBbs.clear();
  session.TerminalClosed();
  pump();
  engine.Close(gw, true);
  for (auto& o : engine.TakeOutput()) {
    if (o.endpoint == bbs) atBbs.push_back(o.frame);
  }
  ASSERT_EQ(atBbs.size(), 1u);
  EXPECT_EQ(atBbs[0].data, "*** DISCONNECTED From Station XX1GW\r\0"s);
}

}  // namespace
}  // namespace orn
