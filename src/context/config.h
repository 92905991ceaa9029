// The configuration state read from ORN.INI, and the port table. One Config
// per running BBS; every layer reads it, only start-up and the sysop's pages
// write it.
#pragma once

#include <array>
#include <string>

#include "platform/ini_file.h"

namespace orn {

constexpr int kMaxPorts = 10;
constexpr int kMaxChannels = 50;  // channel table entries, the monitor included

// One radio port, as read from its PORT<n> section.
struct Auxes {
  std::string port;            // description as the packet engine reports it
  std::string unprotoaddress;  // char[10]
  std::string btext;           // char[80]; empty when the file does not exist
  std::string msgbeacon;       // char[80], RADIO/MSGBEACON
  // PORTNUM: the engine's number for this port (context/port_map.h maps
  // between the two).
  int engineport = 0;
  int beaconevery = 50;
  int beaconeveryok = 0;
  int portno = 0;
  int mailbeacon = 50;
  int maxchannels = 1;
  int mailbeaconok = 1;
  int conok = 1;
  int paclen = 128;
  int maxframe = 2;
  int enabled = 1;
  int bbsonly = 1;
  int limitedaccess = 1;
  int maxframequeue = 0;
  int unprotofwd = 0;
  int beacontimer_id = 0, mailbeacontimer_id = 0;
  unsigned long beacontimer = 0, mailbeacontimer = 0;
  long long beacontime = 0, mailbeacontime = 0;
  unsigned long timeout = 10;
};

struct Colors {
  long monitorHeader = 255, monitorInfo = 255, channelInput = 255, userList = 255, msgList = 255,
       msgText = 255;
  // The BBS's answers and the sysop's typing in a channel pane, each in a
  // colour of its own (stored as 0x00BBGGRR like the others).
  long channelOutput = 0x800000, sysopTyping = 0x008000;
};

struct Fonts {
  long height = 8, width = 0, set = 255;
  std::string name = "TERMINAL GREEK 737 (437G)";
  long underline = 0, strikeout = 0, italic = 0, bold = 0, escapement = 0, orientation = 0, family = 0,
       outprecision = 0, clipprecision = 0, quality = 0;
};

struct OptimizeOptions {
  unsigned Killkilled = 0, Killold = 0, Killheld = 0, Killfwded = 0, Killlog = 0, Killyes = 0,
           Renumber = 0, Maxdaysold = 0;
};

struct Config {
  std::string IniFile;  // working directory + "/ORN.INI"
  std::string bbspath, BbsPath;
  std::string MailPath, mailpath, FilePath, filepath, BinPath, binpath, HelpPath, helppath;
  std::string MyCall, MyCallOut, MyName, MyHier, MyPass, MyZip, FWDMSGHEADER;
  bool hierRepeatedCall = false;  // MYHIER began with the call, which was dropped from it
  bool sysopisin = false, FwdOk = false, swapbbs = false, autobid = true, callvaliditycheck = true;
  std::string optimization = "10,10,10";
  long optd = 10, opth = 10, optm = 10;
  bool optimizationok = true;
  int FwdMin = 0;
  int maxport = 1, maxsport = 1;
  int Monitor = 60;
  bool OEMANSI = true, ANSIOEM = true;
  std::string OemCodePage = "437", AnsiCodePage = "1252";
  std::string EngineHost = "127.0.0.1";
  int EnginePort = 8000;
  int Reconnect = 30;  // seconds between attempts to reach the engine; 0 = never
  Colors colors;
  Fonts fonts;
  OptimizeOptions optimize;
  std::array<Auxes, kMaxPorts> Ports;
};

// The defaults set before the file is read.
void VarInit(Config& c);

void ReadPersonalSection(const IniFile& ini, Config& c);
bool WritePersonalSection(IniFile& ini, const Config& c);
void ReadPathSection(const IniFile& ini, Config& c);
bool WritePathSection(IniFile& ini, const Config& c);
void ReadRadioSection(const IniFile& ini, Config& c);
// Fills Ports[port] from "PORT<port>"; returns the port's channel count.
int ReadSpecifiedPortFromIni(const IniFile& ini, Config& c, int port, std::string* section);
// Fills the records of ports 0 to maxport - 1: the link needs them before
// the channels exist.
void ReadPortTable(const IniFile& ini, Config& c);
bool WriteSpecifiedPortInfoToIni(IniFile& ini, const Config& c, int port);
void ReadOptimizeParameters(const IniFile& ini, Config& c);
bool SaveOptimizeParameters(IniFile& ini, const Config& c);
void ReadCharSection(const IniFile& ini, Config& c);
void LoadColors(const IniFile& ini, Config& c);
bool SaveColors(IniFile& ini, const Config& c);
void LoadFonts(const IniFile& ini, Config& c);
bool SaveFonts(IniFile& ini, const Config& c);
bool SetMonConfig(IniFile& ini, const Config& c);
// The "OemToChar" and "CharToOem" menu commands.
bool ToggleOemAnsi(IniFile& ini, Config& c);
bool ToggleAnsiOem(IniFile& ini, Config& c);

// XX9ORN-1 -> XX9ORN; a call without "-" is copied whole.
std::string CallWithoutSsid(const std::string& call);

}  // namespace orn
