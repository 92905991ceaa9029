// A new BBS directory made in one step (ornctl init): an ORN.INI with values
// for a first day on the air and the language and help files, so that the
// BBS's first start serves stations at once.
#pragma once

#include <string>

namespace orn {

struct BbsInitOptions {
  std::string call;                     // the BBS's callsign, with SSID if any
  std::string name = "Sysop";           // the sysop's name
  std::string hier;                     // the hierarchical address after the call; empty = none
  std::string engineHost = "127.0.0.1";
  int enginePort = 8000;
  std::string web;                      // the web console's HOST:PORT; empty = no console
};

// Parses HOST:PORT (HOST may be empty: 127.0.0.1); false when it is none.
bool ParseEngineAddress(const std::string& text, std::string* host, int* port);

// The ORN.INI text for the options, CR LF line ends, with a comment on each
// choice that differs from the BBS's own default.
std::string InitialIni(const BbsInitOptions& o);

// Makes `dir` (and its parents) if missing and writes ORN.INI, an empty
// activity log and the shipped language and help files into it. Refuses,
// with the reason in `error` and nothing written, a bad call or address
// and a directory that already holds a BBS.
bool InitBbsDirectory(const std::string& dir, const BbsInitOptions& o, std::string* error);

}  // namespace orn
