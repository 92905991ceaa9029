// The ports of ORN.INI against the engine's port numbers: which port takes a
// connect, whose settings decide, and where the BBS registers and transmits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "context/port_map.h"
#include "link/engine_session.h"
#include "support/bbs_on_engine.h"

namespace orn {
namespace {

using test::BbsOnEngine;

class EnginePortsTest : public BbsOnEngine {
 protected:
  // "port:call" of every frame of `kinds` sent since the last look.
  std::vector<std::string> Frames(const std::string& kinds) {
    std::vector<std::string> out;
    for (const ApiFrame& f : engine_.Take(kinds))
      out.push_back(std::string(1, f.kind) + std::to_string(f.port) + ":" + (f.kind == 'X' ? f.callFrom : f.callTo));
    return out;
  }
  const std::string& Monitor() { return view_.channel(0).text; }
};

TEST(PortMapTest, EachEnginePortBelongsToThePortThatNamesIt) {
  Config c;
  c.maxport = 4;
  c.Ports[0].engineport = 2;
  c.Ports[1].engineport = 63;
  c.Ports[2].engineport = 0;
  c.Ports[2].enabled = 0;
  c.Ports[3].engineport = 256;  // no engine port
  c.Ports[4].engineport = 5;    // beyond PORTS
  struct Case {
    int engine, port;
    bool inUse;
  } cases[] = {{2, 0, true}, {63, 1, true}, {0, 2, false}, {1, -1, false}, {5, -1, false}, {256, -1, false},
               {-1, -1, false}};
  for (const Case& k : cases) {
    EXPECT_EQ(ConfigPortOf(c, k.engine), k.port) << k.engine;
    EXPECT_EQ(EnginePortInUse(c, k.engine), k.inUse) << k.engine;
  }
  EXPECT_EQ(EnginePortOf(c, 3), -1);
  EXPECT_EQ(EnginePortOf(c, 4), -1);
  EXPECT_EQ(EnginePortsInUse(c), (std::vector<int>{2, 63}));

  // Two ports on one engine port: the enabled one serves it.
  c.Ports[0].engineport = 0;
  EXPECT_EQ(ConfigPortOf(c, 0), 0);
  c.Ports[0].enabled = 0;
  c.Ports[2].enabled = 1;
  EXPECT_EQ(ConfigPortOf(c, 0), 2);
}

TEST_F(EnginePortsTest, AConnectReachesThePortWhosePortnumItIs) {
  // LinBPQ hands its applications' links in on 63, a port it does not list.
  for (int engine : {1, 63, 255}) {
    bbs_.reset();
    engine_.Take();
    engine_.portList = "2;Port1 vhf;Port2 uhf;";
    StartWith("[RADIO]\nPORTS=2\n[PORT0]\nBBSONLY=0\n[PORT1]\nBBSONLY=0\nPORTNUM=" + std::to_string(engine) + "\n");
    EXPECT_EQ(Frames("X"), (std::vector<std::string>{"X0:XX9ORN-1", "X" + std::to_string(engine) + ":XX9ORN-1"}));
    EXPECT_EQ(Connects(engine, "XX1ABC"), 2) << engine;
    EXPECT_EQ(Ch(2).TncNumber, 2);
    EXPECT_TRUE(Ch(2).connected);
    EXPECT_TRUE(Disconnects().empty());
    // The greeting goes back on the port it came in on.
    clock_.Advance(3);
    if (Ch(2).transparent) Link().TxTrans(Ch(2));
    const std::vector<ApiFrame> greeting = engine_.Take("D");
    ASSERT_FALSE(greeting.empty());
    for (const ApiFrame& f : greeting) EXPECT_EQ(f.port, engine);
    engine_.Event(engine, "*** DISCONNECTED From Station XX1ABC\r");
    EXPECT_FALSE(Ch(2).connected);
    bbs_->Shutdown();
  }
}

TEST_F(EnginePortsTest, TheLogNamesAPortAsTheEngineDoes) {
  const struct {
    const char* list;  // the engine's ports
    int engine;
    int logged;
  } cases[] = {
      {"2;Port1 vhf;Port2 uhf;", 1, 2},          // as the engine names it
      {"2;Port1 vhf;Port2 uhf;", 63, 63},        // LinBPQ's applications: not listed
      {"2;Port1 vhf;Port2 uhf;", 255, 255},
      {"3;Port1 a;Port2 b;Port64 c;", 63, 64},  // listed after all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.engine);
    bbs_.reset();
    engine_.Take();
    dir_.Write("BBS.LOG", "");
    engine_.portList = c.list;
    StartWith("[RADIO]\nPORTS=2\n[PORT0]\nBBSONLY=0\n[PORT1]\nBBSONLY=0\nPORTNUM=" + std::to_string(c.engine) +
              "\n[LOG]\nLOGOK=1\nLOGCON=1\n");
    ASSERT_EQ(Connects(c.engine, "XX1ABC"), 2);
    Link().DisConnect(c.engine, "XX1ABC");
    const std::string port = "Port=" + std::to_string(c.logged) + "...";
    const std::string log = dir_.Read("BBS.LOG");
    for (const char* event : {"<Connect> XX1ABC ", "<Disconnect> XX1ABC "})
      EXPECT_NE(log.find(event + port), std::string::npos) << event << "\n" << log;
    bbs_->Shutdown();
  }
}

TEST_F(EnginePortsTest, WithPortnumMappedTheMappedPortsSettingsDecide) {
  engine_.portList = "3;Port1 a;Port2 b;Port3 c;";
  struct Case {
    const char* ini;
    int engine;
    int channel;  // 0: refused
  } cases[] = {
      // PORT0 on engine port 2: nothing answers on engine port 0.
      {"[RADIO]\nPORTS=1\n[PORT0]\nPORTNUM=2\nBBSONLY=0\n", 0, 0},
      {"[RADIO]\nPORTS=1\n[PORT0]\nPORTNUM=2\nBBSONLY=0\n", 2, 1},
      // CONOK of the port that uses the engine port, not of the record the
      // engine's number would index.
      {"[RADIO]\nPORTS=2\n[PORT0]\nPORTNUM=2\nCONOK=0\n[PORT1]\nPORTNUM=0\nBBSONLY=0\n", 2, 0},
      {"[RADIO]\nPORTS=2\n[PORT0]\nPORTNUM=2\nCONOK=0\n[PORT1]\nPORTNUM=0\nBBSONLY=0\n", 0, 2},
      {"[RADIO]\nPORTS=2\n[PORT0]\nPORTNUM=2\nBBSONLY=0\n[PORT1]\nPORTNUM=0\nCONOK=0\n", 0, 0},
      {"[RADIO]\nPORTS=2\n[PORT0]\nPORTNUM=2\nBBSONLY=0\n[PORT1]\nPORTNUM=0\nCONOK=0\n", 2, 1},
  };
  for (const Case& c : cases) {
    bbs_.reset();
    StartWith(c.ini);
    engine_.Take();
    EXPECT_EQ(Connects(c.engine, "XX1ABC"), c.channel) << c.ini << c.engine;
    EXPECT_EQ(Disconnects(), c.channel ? std::vector<std::string>{}
                                       : std::vector<std::string>{std::to_string(c.engine) + ":XX1ABC"})
        << c.ini << c.engine;
    bbs_->Shutdown();
  }
}

TEST_F(EnginePortsTest, TheBbsRegistersAndBeaconsOnlyOnTheConfiguredEnabledPorts) {
  dir_.Write("beacon.txt", "hello");
  // The engine offers three ports; ORN.INI has one, on engine port 2, and
  // the ports beyond PORTS would beacon by default.
  engine_.portList = "3;Port1 vhf;Port2 uhf;Port3 hf;";
  StartWith(
      "[LOG]\nLOGOK=1\nLOGOTHER=1\n[RADIO]\nPORTS=1\n"
      "[PORT0]\nPORTNUM=2\nBEACONOK=1\nBTEXT=beacon.txt\nUNPROTO=MAIL\n"
      "[PORT1]\nBEACONOK=1\nBTEXT=beacon.txt\n");
  EXPECT_EQ(Frames("X"), std::vector<std::string>{"X2:XX9ORN-1"});
  EXPECT_EQ(bbs_->cfg().maxport, 1);  // the engine's count does not replace PORTS
  EXPECT_EQ(bbs_->cfg().Ports[0].port, "hf");
  EXPECT_EQ(Client().numberchildren, 2);
  EXPECT_EQ(Ch(1).TncPortNumber, 2);

  timers_.FireAll();
  std::vector<std::string> beacons = Frames("M");
  std::sort(beacons.begin(), beacons.end());
  EXPECT_EQ(beacons, (std::vector<std::string>{"M2:BEACON", "M2:MAIL"}));

  // Unproto and connects asked for any other port stay off the air.
  Link().SendUnprotoData(0, "hello");
  Link().SendPacketFrame(1, "BEACON", "x", 1, 'M');
  Link().Connect(0, "XX5BBS", "");
  EXPECT_TRUE(Frames("MC").empty());
  Link().SendUnprotoData(2, "hello");
  EXPECT_EQ(Frames("M"), std::vector<std::string>{"M2:MAIL"});

  // The ports left alone are told in the monitor and the log.
  for (const char* note : {"Engine port 0 (vhf): no enabled port of ORN.INI names it, left alone",
                           "Engine port 1 (uhf): no enabled port of ORN.INI names it, left alone"}) {
    EXPECT_NE(Monitor().find(note), std::string::npos) << Monitor();
  }
  const std::string log = dir_.Read("BBS.LOG");
  for (const char* line : {"<Engine port left alone> 0 from ENGINE...", "<Engine port left alone> 1 from ENGINE..."})
    EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(Monitor().find("Engine port 2"), std::string::npos);
}

TEST_F(EnginePortsTest, APortnumThatIsNoEnginePortKeepsThePortOffTheAir) {
  StartWith("[RADIO]\nPORTS=2\n[PORT0]\nBBSONLY=0\n[PORT1]\nPORTNUM=300\nMAILBEACONOK=1\n");
  EXPECT_EQ(Frames("X"), std::vector<std::string>{"X0:XX9ORN-1"});
  EXPECT_EQ(Client().numberchildren, 2);  // PORT1 has no channel
  EXPECT_NE(Monitor().find("PORT1: PORTNUM=300 is no engine port (0 to 255), the port stays off the air"),
            std::string::npos)
      << Monitor();
  timers_.FireAll();
  EXPECT_EQ(Frames("M"), std::vector<std::string>{"M0:PORT0"});
  // A connect on the port byte it would have wrapped to finds nothing.
  EXPECT_EQ(Connects(44, "XX1ABC"), 0);
}

TEST(MonitorLineTest, TextThatIsNoMonitoredFrameIsSummedUpInOneLine) {
  const std::string ax25 = " 1:Fm XX1ABC To XX9ORN-1 <UI pid=F0 Len=2 >[01:05:26]\rhi\r";
  EXPECT_EQ(MonitorLine('U', 0, ax25 + std::string(1, '\0')), ax25);
  EXPECT_EQ(MonitorLine('I', 0, " 12:Fm A To B <I>\r"), " 12:Fm A To B <I>\r");
  EXPECT_EQ(MonitorLine('S', 63, std::string("\x01\x02\0\x7f\xff", 5)),
            "Engine port 63: 'S' frame of 5 bytes, not AX.25 text\r");
  EXPECT_EQ(MonitorLine('T', 2, "Fm XX1ABC To XX9ORN"), "Engine port 2: 'T' frame of 19 bytes, not AX.25 text\r");
  EXPECT_EQ(MonitorLine('S', 1, ""), "Engine port 1: 'S' frame of 0 bytes, not AX.25 text\r");
}

TEST_F(EnginePortsTest, BinaryMonitorFramesShowAsOneLine) {
  engine_.portList = "1;Port1 vhf;";
  StartWith("[RADIO]\nPORTS=1\n");
  ApiFrame f;
  f.kind = 'S';
  f.port = 63;
  f.data = std::string("\x05\x00\x01\x02\xff\x10", 6);
  engine_.Push(f);
  EXPECT_NE(Monitor().find("Engine port 63: 'S' frame of 6 bytes, not AX.25 text\n"), std::string::npos) << Monitor();
  EXPECT_EQ(Monitor().find('\x05'), std::string::npos);
}

}  // namespace
}  // namespace orn
