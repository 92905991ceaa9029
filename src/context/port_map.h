// Which radio port of ORN.INI each of the packet engine's port numbers
// belongs to. ORN.INI counts its ports from 0 (PORT0 ... PORTS-1); the engine
// has numbers of its own (Direwolf counts its channels from 0, LinBPQ hands
// its applications' connections in on 63), and PORTn/PORTNUM joins the two.
// Every frame the BBS sends or takes passes through here, so that a frame
// never reads the settings of another port and nothing goes on the air on a
// port the sysop did not configure and enable.
#pragma once

#include <string>
#include <vector>

#include "context/config.h"

namespace orn {

// The engine's port field is one byte.
constexpr int kMaxEnginePort = 255;

// The engine port of ORN.INI port `port`; -1 when the port is not one of
// PORTS or its PORTNUM is no engine port.
int EnginePortOf(const Config& c, int port);

// The ORN.INI port that serves engine port `enginePort`: the first enabled
// port naming it, else the first disabled one (whose settings then refuse
// it); -1 when no port of PORTS names it.
int ConfigPortOf(const Config& c, int enginePort);

// The record of the port serving `enginePort`; null when there is none.
const Auxes* PortRecordOf(const Config& c, int enginePort);

// Whether the BBS may transmit and register on `enginePort`: an enabled
// port of PORTS names it.
bool EnginePortInUse(const Config& c, int enginePort);

// The engine ports in use, each once, in ascending order.
std::vector<int> EnginePortsInUse(const Config& c);

}  // namespace orn
