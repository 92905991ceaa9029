#include "ornpe/engine_relay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orn {
namespace {

using namespace std::string_literals;
using Kind = RelayAction::Kind;

// Engine 0 ("A") lists its ports 0 and 2 (a gap, as Direwolf with a second
// sound card), engine 1 ("B") its port 0; ornpe has one virtual port after
// them. ornpe's ports: 0 = A/0, 1 = A/2, 2 = B/0, 3 = virtual.
class EngineRelayTest : public ::testing::Test {
 protected:
  EngineRelayTest() {
    table_.AddEngine("A:8001", {{0, "first soundcard mono"}, {2, "second soundcard mono"}});
    table_.AddEngine("B:8002", {{0, "Network TNC"}});
    table_.SetVirtual({"ornpe virtual radio"});
  }

  static ApiFrame F(uint8_t port, char kind, const std::string& from = "", const std::string& to = "",
                    const std::string& data = "") {
    return {port, kind, 0, from, to, data};
  }
  // A client frame the relay must take.
  void Client(const ApiFrame& f, int client = 1) {
    ApiFrame copy = f;
    ASSERT_TRUE(relay_.FromClient(client, copy)) << f.kind;
  }
  // Frames the relay sent to `engine` for client 1.
  std::vector<ApiFrame> Sent(int engine) {
    std::vector<ApiFrame> out;
    for (const RelayAction& a : relay_.TakeActions()) {
      if (a.kind == Kind::Send && a.engine == engine) out.push_back(a.frame);
    }
    return out;
  }
  std::vector<ApiFrame> ToClient() {
    std::vector<ApiFrame> out;
    for (const EngineOutput& o : relay_.TakeToClients()) out.push_back(o.frame);
    return out;
  }
  // Client 1's connection to `engine` comes up; what it sends is dropped.
  void Up(int engine) {
    relay_.Connected(1, engine);
    relay_.TakeActions();
  }
  bool Logged(const std::string& part) const {
    for (const std::string& l : log_) {
      if (l.find(part) != std::string::npos) return true;
    }
    return false;
  }

  PortTable table_;
  std::vector<std::string> log_;
  EngineRelay relay_{table_, [this](const std::string& l) { log_.push_back(l); }};
  int64_t now_ = 0;
};

TEST_F(EngineRelayTest, PortListNamesEveryPortAndWhereItGoes) {
  Client(F(0, 'G'));
  const auto out = ToClient();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].data,
            "4;Port1 first soundcard mono via A:8001 port 0;Port2 second soundcard mono via A:8001 port 2;"
            "Port3 Network TNC via B:8002 port 0;Port4 ornpe virtual radio;\0"s);
  EXPECT_EQ(table_.Summary(), "0=A:8001/0,1=A:8001/2,2=B:8002/0,3=ornpe");
  // Nothing opened for a question ornpe answers itself.
  EXPECT_TRUE(relay_.TakeActions().empty());
}

TEST_F(EngineRelayTest, FramesWaitForTheConnectionThenGoWithTheEnginesPortNumbers) {
  Client(F(1, 'X', "XX9ORN-1"));
  const auto opened = relay_.TakeActions();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].kind, Kind::Open);
  EXPECT_EQ(opened[0].engine, 0);
  Client(F(1, 'C', "XX9ORN-1", "XX2BBB"));
  EXPECT_TRUE(Sent(0).empty());
  relay_.Connected(1, 0);
  const auto sent = Sent(0);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].kind, 'X');
  EXPECT_EQ(sent[0].port, 2);
  EXPECT_EQ(sent[1].kind, 'C');
  EXPECT_EQ(sent[1].port, 2);
  relay_.FromEngine(1, 0, F(2, 'X', "XX9ORN-1", "", "\x01"));
  const auto answer = ToClient();
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].kind, 'X');
  EXPECT_EQ(answer[0].port, 1);
  EXPECT_EQ(answer[0].data, "\x01");

  // The virtual port's frames stay with ornpe, numbered for its engine.
  ApiFrame virt = F(3, 'X', "XX9ORN-1");
  EXPECT_FALSE(relay_.FromClient(1, virt));
  EXPECT_EQ(virt.port, 0);
  EXPECT_EQ(relay_.FromVirtual(F(0, 'C', "XX1AAA", "XX9ORN-1")).port, 3);
  EXPECT_EQ(relay_.FromVirtual(F(0, 'U', "XX1AAA", "ID", " 1:Fm XX1AAA To ID <UI pid=F0 Len=2 >[12:00:00]\rhi\r\0"s)).data,
            " 4:Fm XX1AAA To ID <UI pid=F0 Len=2 >[12:00:00]\rhi\r\0"s);
}

TEST_F(EngineRelayTest, EveryKindPassesBothWays) {
  Client(F(2, 'X', "XX9ORN-1"));
  relay_.TakeActions();
  Up(1);
  // Client to engine: the port changes, nothing else.
  const std::vector<ApiFrame> outgoing = {
      F(2, 'C', "XX9ORN-1", "XX5BBB"),       F(2, 'v', "XX9ORN-1", "XX5BBB", "\x01XX3DIG\0\0\0\0"s),
      F(2, 'D', "XX9ORN-1", "XX5BBB", "hi\r"), F(2, 'd', "XX9ORN-1", "XX5BBB"),
      F(2, 'M', "XX9ORN-1", "MAIL", "beacon"), F(2, 'V', "XX9ORN-1", "ID", "\x01XX3DIG\0\0\0\0id"s),
      F(2, 'y'),                             F(2, 'Y', "XX9ORN-1", "XX5BBB"),
      F(2, 'g'),                             F(2, 'x', "XX9ORN-1")};
  for (const ApiFrame& f : outgoing) Client(f);
  const auto sent = Sent(1);
  ASSERT_EQ(sent.size(), outgoing.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(std::string(1, outgoing[i].kind));
    EXPECT_EQ(sent[i].port, 0);
    EXPECT_EQ(sent[i].kind, outgoing[i].kind);
    EXPECT_EQ(sent[i].callFrom, outgoing[i].callFrom);
    EXPECT_EQ(sent[i].callTo, outgoing[i].callTo);
    EXPECT_EQ(sent[i].data, outgoing[i].data);
  }
  // Engine to client: the port becomes ornpe's, monitor texts say so too.
  struct Case {
    ApiFrame in;
    std::string data;
  };
  const std::vector<Case> incoming = {
      {F(0, 'C', "XX2BBB", "XX9ORN-1", "*** CONNECTED To Station XX2BBB\r\0"s), "*** CONNECTED To Station XX2BBB\r\0"s},
      {F(0, 'D', "XX2BBB", "XX9ORN-1", "SP XX9ORN\r"), "SP XX9ORN\r"},
      {F(0, 'Y', "XX9ORN-1", "XX2BBB", "\x03\0\0\0"s), "\x03\0\0\0"s},
      {F(0, 'y', "", "", "\x05\0\0\0"s), "\x05\0\0\0"s},
      {F(0, 'I', "XX2BBB", "XX9ORN-1", " 1:Fm XX2BBB To XX9ORN-1 <I S0 R0 pid=F0 Len=3 >[1:2:3]\rSP\r\0"s),
       " 3:Fm XX2BBB To XX9ORN-1 <I S0 R0 pid=F0 Len=3 >[1:2:3]\rSP\r\0"s},
      {F(0, 'T', "XX9ORN-1", "XX2BBB", " 1:Fm XX9ORN-1 To XX2BBB <RR R1 >[1:2:3]\r\0"s),
       " 3:Fm XX9ORN-1 To XX2BBB <RR R1 >[1:2:3]\r\0"s},
      {F(0, 'd', "XX2BBB", "XX9ORN-1", "*** DISCONNECTED From Station XX2BBB\r\0"s),
       "*** DISCONNECTED From Station XX2BBB\r\0"s},
  };
  for (const Case& c : incoming) relay_.FromEngine(1, 1, c.in);
  const auto got = ToClient();
  ASSERT_EQ(got.size(), incoming.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(std::string(1, incoming[i].in.kind));
    EXPECT_EQ(got[i].port, 2);
    EXPECT_EQ(got[i].kind, incoming[i].in.kind);
    EXPECT_EQ(got[i].callFrom, incoming[i].in.callFrom);
    EXPECT_EQ(got[i].data, incoming[i].data);
  }
}

TEST_F(EngineRelayTest, MonitorReachesEveryEngineAndComesBackAfterALoss) {
  ApiFrame m = F(0, 'm');
  EXPECT_FALSE(relay_.FromClient(1, m));  // the virtual engine toggles too
  const auto opened = relay_.TakeActions();
  ASSERT_EQ(opened.size(), 2u);
  relay_.Connected(1, 0);
  relay_.Connected(1, 1);
  const auto toggles = relay_.TakeActions();
  ASSERT_EQ(toggles.size(), 2u);
  EXPECT_EQ(toggles[0].frame.kind, 'm');
  EXPECT_EQ(toggles[1].frame.kind, 'm');
  relay_.Lost(1, 0, "gone", now_);
  now_ = 1000;
  relay_.Advance(now_);
  relay_.TakeActions();
  relay_.Connected(1, 0);
  const auto again = Sent(0);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].kind, 'm');
}

TEST_F(EngineRelayTest, AnEngineThatGoesAwayEndsItsLinksAtOnceAndIsAskedAgainLater) {
  Client(F(0, 'X', "XX9ORN-1"));
  Client(F(2, 'X', "XX9ORN-1"));
  relay_.TakeActions();
  Up(0);
  Up(1);
  relay_.FromEngine(1, 0, F(0, 'X', "XX9ORN-1", "", "\x01"));
  relay_.FromEngine(1, 1, F(0, 'X', "XX9ORN-1", "", "\x01"));
  relay_.FromEngine(1, 0, F(0, 'C', "XX2BBB", "XX9ORN-1", "*** CONNECTED To Station XX2BBB\r\0"s));
  Client(F(1, 'C', "XX9ORN-1", "XX5BBB"));  // under way when the engine goes
  Client(F(2, 'C', "XX9ORN-1", "XX6CCC"));  // on the other engine
  relay_.FromEngine(1, 1, F(0, 'C', "XX6CCC", "XX9ORN-1", "*** CONNECTED With Station XX6CCC\r\0"s));
  ToClient();
  relay_.TakeActions();

  now_ = 100;
  relay_.Lost(1, 0, "the engine closed the connection", now_);
  const auto ended = ToClient();
  ASSERT_EQ(ended.size(), 2u);
  EXPECT_EQ(ended[0].port, 0);
  EXPECT_EQ(ended[0].data, "*** DISCONNECTED From Station XX2BBB\r\0"s);
  EXPECT_EQ(ended[1].port, 1);
  EXPECT_EQ(ended[1].data, "*** DISCONNECTED RETRYOUT With XX5BBB\r\0"s);
  EXPECT_TRUE(Logged("engine A:8001 lost for client 1 (the engine closed the connection): 2 link(s) ended"));

  // Meanwhile the relay answers for it; the other engine goes on.
  Client(F(0, 'C', "XX9ORN-1", "XX7DDD"));
  Client(F(0, 'y'));
  Client(F(2, 'D', "XX9ORN-1", "XX6CCC", "still here\r"));
  const auto away = ToClient();
  ASSERT_EQ(away.size(), 2u);
  EXPECT_EQ(away[0].data, "*** DISCONNECTED RETRYOUT With XX7DDD\r\0"s);
  EXPECT_EQ(away[1].kind, 'y');
  EXPECT_EQ(Sent(1).size(), 1u);

  // The pauses grow to 30 s; each attempt that fails doubles the next.
  int64_t expected = 1000;
  for (int attempt = 0; attempt < 7; ++attempt) {
    EXPECT_EQ(relay_.NextDeadline(), now_ + expected);
    now_ += expected;
    relay_.Advance(now_);
    const auto open = relay_.TakeActions();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].kind, Kind::Open);
    relay_.Lost(1, 0, "Connection refused", now_);
    expected = std::min<int64_t>(expected * 2, 30000);
  }
  EXPECT_EQ(relay_.NextDeadline(), now_ + 30000);

  // Back: the call is registered again and the answer stays with ornpe.
  now_ += 30000;
  relay_.Advance(now_);
  relay_.TakeActions();
  relay_.Connected(1, 0);
  const auto again = Sent(0);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].kind, 'X');
  EXPECT_EQ(again[0].callFrom, "XX9ORN-1");
  relay_.FromEngine(1, 0, F(0, 'X', "XX9ORN-1", "", "\x01"));
  EXPECT_TRUE(ToClient().empty());
  // A station can connect again.
  relay_.FromEngine(1, 0, F(0, 'C', "XX2BBB", "XX9ORN-1", "*** CONNECTED To Station XX2BBB\r\0"s));
  EXPECT_EQ(ToClient().size(), 1u);
}

TEST_F(EngineRelayTest, BadInputFromAnEngineIsLoggedAndDropped) {
  Client(F(0, 'X', "XX9ORN-1"));
  Client(F(1, 'X', "XX9ORN-2"));
  relay_.TakeActions();
  Up(0);
  relay_.FromEngine(1, 0, F(0, 'X', "XX9ORN-1", "", "\x01"));
  relay_.FromEngine(1, 0, F(2, 'X', "XX9ORN-2", "", std::string(1, '\0')));
  const auto answers = ToClient();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1].port, 1);
  EXPECT_EQ(answers[1].data, std::string(1, '\0'));
  EXPECT_TRUE(Logged("engine A:8001 refuses the registration of XX9ORN-2 on port 1"));

  relay_.FromEngine(1, 0, F(1, 'D', "XX2BBB", "XX9ORN-1", "x"));
  relay_.FromEngine(1, 0, F(0, 'Q', "XX2BBB", "XX9ORN-1", "x"));
  relay_.FromEngine(1, 0, F(0, 'X', "XX9ORN-1", "", "\x01"));
  EXPECT_TRUE(ToClient().empty());
  EXPECT_TRUE(Logged("engine A:8001: 'D' frame for its port 1, which it did not list, dropped"));
  EXPECT_TRUE(Logged("engine A:8001: unknown frame kind"));
  EXPECT_TRUE(Logged("engine A:8001: a registration answer nobody asked for, dropped"));

  // A refused registration is not made again after a loss.
  relay_.Lost(1, 0, "gone", now_);
  now_ += 1000;
  relay_.Advance(now_);
  relay_.TakeActions();
  relay_.Connected(1, 0);
  const auto again = Sent(0);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].callFrom, "XX9ORN-1");
}

// The BBS waits a second for a registration's answer and then gives up
// every port: an engine that does not answer (or does not read) is given up
// first, on its own, whether it took the connection or not.
TEST_F(EngineRelayTest, AnEngineThatDoesNotAnswerARegistrationIsGivenUpAlone) {
  for (const bool connected : {true, false}) {
    SCOPED_TRACE(connected);
    EngineRelay relay(table_, [this](const std::string& l) { log_.push_back(l); });
    log_.clear();
    int64_t now = 5000;
    relay.Advance(now);
    ApiFrame x = F(0, 'X', "XX9ORN-1");
    ASSERT_TRUE(relay.FromClient(1, x));
    ApiFrame other = F(2, 'X', "XX9ORN-1");
    ASSERT_TRUE(relay.FromClient(1, other));
    relay.TakeActions();
    relay.Connected(1, 1);
    if (connected) relay.Connected(1, 0);
    relay.FromEngine(1, 1, F(0, 'X', "XX9ORN-1", "", "\x01"));
    ASSERT_EQ(relay.TakeToClients().size(), 1u);  // the other engine's answer
    relay.TakeActions();
    EXPECT_EQ(relay.NextDeadline(), now + EngineRelay::kAnswerMs);
    relay.Advance(now + EngineRelay::kAnswerMs - 1);
    EXPECT_TRUE(relay.TakeToClients().empty());

    now += EngineRelay::kAnswerMs;
    relay.Advance(now);
    const auto answer = relay.TakeToClients();
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].frame.kind, 'X');
    EXPECT_EQ(answer[0].frame.port, 0);
    EXPECT_EQ(answer[0].frame.data, "\x01");
    const auto closed = relay.TakeActions();
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].kind, Kind::Close);
    EXPECT_EQ(closed[0].engine, 0);
    EXPECT_TRUE(Logged("engine A:8001 lost for client 1 (no answer to a registration in 600 ms)"));
    // The other engine carries on; this one is tried again, and registered again.
    ApiFrame d = F(2, 'D', "XX9ORN-1", "XX6CCC", "hi\r");
    ASSERT_TRUE(relay.FromClient(1, d));
    const auto sent = relay.TakeActions();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].engine, 1);
    now += 1000;
    relay.Advance(now);
    const auto open = relay.TakeActions();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].kind, Kind::Open);
    relay.Connected(1, 0);
    relay.TakeActions();
    relay.FromEngine(1, 0, F(0, 'X', "XX9ORN-1", "", "\x01"));
    EXPECT_EQ(relay.NextDeadline(), -1);
    EXPECT_TRUE(relay.TakeToClients().empty());
  }
}

// A flood of frames ornpe cannot pass on costs a line when it starts and
// one a minute while it lasts, for each kind of fault.
TEST_F(EngineRelayTest, DroppedFramesAreCountedAndLoggedOnceAMinute) {
  Client(F(0, 'X', "XX9ORN-1"));
  relay_.TakeActions();
  Up(0);
  relay_.FromEngine(1, 0, F(0, 'X', "XX9ORN-1", "", "\x01"));
  ToClient();
  log_.clear();
  for (int i = 0; i < 1000; ++i) {
    relay_.Advance(now_ + i);
    relay_.FromEngine(1, 0, F(1, 'D', "XX2BBB", "XX9ORN-1", "x"));
    relay_.FromEngine(1, 0, F(0, 'Q', "XX2BBB", "XX9ORN-1", "x"));
  }
  EXPECT_EQ(log_.size(), 2u);
  EXPECT_EQ(relay_.NextDeadline(), now_ + EngineRelay::kDropReportMs);
  now_ += EngineRelay::kDropReportMs;
  relay_.Advance(now_);
  ASSERT_EQ(log_.size(), 4u);
  EXPECT_TRUE(Logged("engine A:8001: 999 more frame(s) dropped in 60 s, "
                     "the last: engine A:8001: 'D' frame for its port 1"));
  // A quiet minute: the next one is logged at once again.
  now_ += EngineRelay::kDropReportMs;
  relay_.Advance(now_);
  EXPECT_EQ(log_.size(), 4u);
  EXPECT_EQ(relay_.NextDeadline(), -1);
  relay_.FromEngine(1, 0, F(1, 'D', "XX2BBB", "XX9ORN-1", "x"));
  EXPECT_EQ(log_.size(), 5u);
}

TEST_F(EngineRelayTest, AClientThatGoesClosesItsEngineConnections) {
  Client(F(0, 'X', "XX9ORN-1"));
  Client(F(2, 'X', "XX9ORN-1"), 2);
  relay_.TakeActions();
  relay_.ClientGone(1);
  const auto closed = relay_.TakeActions();
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].kind, Kind::Close);
  EXPECT_EQ(closed[0].client, 1);
  relay_.FromEngine(1, 0, F(0, 'C', "XX2BBB", "XX9ORN-1"));
  EXPECT_TRUE(ToClient().empty());
}

// The BBS reads the port list from one frame, and every port number from a
// byte: an engine with many ports gives ornpe only as many as fit both.
TEST(PortTableTest, ManyPortsAreCappedAndTheListFitsOneFrame) {
  auto ports = [](int n, const std::string& text) {
    std::vector<EnginePort> out;
    for (int i = 0; i < n; ++i) out.push_back({i, text + " " + std::to_string(i + 1)});
    return out;
  };
  const std::string normal = "AX.25 port of the node on 144.800 MHz, 1200 baud, with digipeating";
  struct Case {
    std::vector<std::vector<EnginePort>> engines;
    int radio;         // ports ornpe takes
    int left;          // of the last engine
    bool whole;        // the descriptions fit whole
  } cases[] = {
      {{ports(3, "radio")}, 3, 0, true},
      {{ports(1000, normal)}, 32, 968, false},
      {{ports(40, normal)}, 32, 8, false},
      {{ports(20, normal), ports(20, normal), ports(20, normal), ports(20, normal)}, 64, 16, false},
      {{{{0, "a"}, {300, "beyond a byte"}, {1, "b"}}}, 2, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.radio);
    PortTable table;
    int left = 0;
    const char* names[] = {"E0:8001", "E1:8001", "E2:8001", "E3:8001"};
    for (size_t e = 0; e < c.engines.size(); ++e) left = table.AddEngine(names[e], c.engines[e]);
    table.SetVirtual({"ornpe virtual radio, station gateway 0.0.0.0:6300", "ornpe virtual radio"});
    EXPECT_EQ(table.radioPorts(), c.radio);
    EXPECT_EQ(left, c.left);
    const std::string text = table.PortListText();
    EXPECT_LE(text.size() + 1, kApiMaxData);
    EXPECT_EQ(ParsePortList(text).size(), static_cast<size_t>(c.radio + 2));
    EXPECT_EQ(text.rfind(std::to_string(c.radio + 2) + ";", 0), 0u) << text;
    EXPECT_EQ(text.find("ornpe virtual radio") != std::string::npos, true);
    EXPECT_EQ(text.find(" via E0:8001 port 0;") != std::string::npos, c.whole) << text;
    for (int p = 0; p < c.radio; ++p) EXPECT_LE(table.Radio(p)->enginePort, 255);
  }
}

TEST(RenumberMonitorTest, OnlyTheLeadingPortNumberChanges) {
  EXPECT_EQ(RenumberMonitor(" 1:Fm A To B <UA >[1]\r", 9), " 10:Fm A To B <UA >[1]\r");
  EXPECT_EQ(RenumberMonitor("12:Fm A To B 1:Fm\r", 0), "1:Fm A To B 1:Fm\r");
  EXPECT_EQ(RenumberMonitor("not a monitor line", 3), "not a monitor line");
  EXPECT_EQ(RenumberMonitor(" :Fm x", 3), " :Fm x");
}

}  // namespace
}  // namespace orn
