#include "context/config.h"

#include <cstdio>
#include <cstdlib>

#include "platform/file_names.h"
#include "platform/text.h"

namespace orn {
namespace {

// Booleans marked (=1): on only when the value is exactly 1.
bool ExactlyOne(const IniFile& ini, const char* section, const char* key, long def) {
  return ini.GetInt(section, key, def) == 1;
}

const char* B(bool v) { return v ? "1" : "0"; }

}  // namespace

std::string CallWithoutSsid(const std::string& call) { return call.substr(0, call.find('-')); }

void VarInit(Config& c) {
  c = Config{};
  c.autobid = true;
  c.callvaliditycheck = true;
  c.sysopisin = false;
}

void ReadPersonalSection(const IniFile& ini, Config& c) {
  const char* S = "PERSONAL";
  c.MyCall = ini.GetString(S, "MYCALL", "NOCALL", 15);
  c.MyName = ini.GetString(S, "MYNAME", "NONAME", 80);
  c.MyHier = ini.GetString(S, "MYHIER", "NOHIER", 80);
  c.MyPass = ini.GetString(S, "MYPASSWORD", "PWXZ", 80);
  c.MyZip = ini.GetString(S, "MYZIP", "NOZIP", 6);
  c.MyCallOut = CallWithoutSsid(c.MyCall);
  // MYHIER is the address after the call: the routing line puts the call in
  // front of it, so a MYHIER that begins with the call would name it twice.
  const std::string callDot = UpperAscii(c.MyCallOut) + ".";
  if (UpperAscii(c.MyHier).rfind(callDot, 0) == 0) {
    c.MyHier.erase(0, callDot.size());
    c.hierRepeatedCall = true;
  }
  // By default the routing line names this BBS with its hierarchical
  // address, its time in "Z" as every peer writes it.
  const bool hier = !c.MyHier.empty() && c.MyHier != "NOHIER";
  c.FWDMSGHEADER =
      ini.GetString(S, "FWDHEADER", "R:$D/$TZ @:$V" + (hier ? "." + c.MyHier : std::string()) + " [$V ORNMBX(v)7.00]", 150);
  c.sysopisin = ExactlyOne(ini, S, "SYSOP", 0);
  c.FwdOk = ExactlyOne(ini, S, "FWDOK", 0);
  c.swapbbs = ExactlyOne(ini, S, "SWAPBBS", 0);
  c.autobid = ExactlyOne(ini, S, "BIDGENERATION", 0);
  c.callvaliditycheck = ExactlyOne(ini, S, "CALLISVALID", 0);
  c.optimization = ini.GetString(S, "OPTIMIZE", "10,10,10", 10);
  c.optd = c.opth = c.optm = 0;
  std::sscanf(c.optimization.c_str(), "%ld,%ld,%ld", &c.optd, &c.opth, &c.optm);
  c.optimizationok = ini.GetInt(S, "OPTIMIZEOK", 1) != 0;
  c.FwdMin = static_cast<int>(ini.GetInt(S, "FWDMIN", 0));
}

bool WritePersonalSection(IniFile& ini, const Config& c) {
  const char* S = "PERSONAL";
  bool ok = true;
  ok &= ini.WriteString(S, "MYCALL", c.MyCall);
  ok &= ini.WriteString(S, "MYNAME", c.MyName);
  ok &= ini.WriteString(S, "MYHIER", c.MyHier);
  ok &= ini.WriteString(S, "MYPASSWORD", c.MyPass);
  ok &= ini.WriteString(S, "MYZIP", c.MyZip);
  ok &= ini.WriteString(S, "FWDHEADER", c.FWDMSGHEADER);
  ok &= ini.WriteString(S, "SYSOP", B(c.sysopisin));
  ok &= ini.WriteString(S, "FWDOK", B(c.FwdOk));
  ok &= ini.WriteString(S, "SWAPBBS", B(c.swapbbs));
  ok &= ini.WriteString(S, "BIDGENERATION", B(c.autobid));
  ok &= ini.WriteString(S, "CALLISVALID", B(c.callvaliditycheck));
  ok &= ini.WriteString(S, "OPTIMIZE", c.optimization);
  ok &= ini.WriteString(S, "OPTIMIZEOK", B(c.optimizationok));
  ok &= ini.WriteInt(S, "FWDMIN", c.FwdMin);
  return ok;
}

void ReadPathSection(const IniFile& ini, Config& c) {
  const char* S = "PATH";
  c.bbspath = ini.GetString(S, "BBSPATH", "C:\\ORNBBS", 80);
  c.MailPath = c.mailpath = ini.GetString(S, "MAILPATH", "MAIL", 80);
  c.FilePath = c.filepath = ini.GetString(S, "FILEPATH", "FILES", 80);
  c.BinPath = c.binpath = ini.GetString(S, "BINPATH", "BIN", 80);
  c.HelpPath = c.helppath = ini.GetString(S, "HELPPATH", "HELP", 80);
}

bool WritePathSection(IniFile& ini, const Config& c) {
  const char* S = "PATH";
  bool ok = true;
  ok &= ini.WriteString(S, "BBSPATH", c.bbspath);
  ok &= ini.WriteString(S, "MAILPATH", c.MailPath);
  ok &= ini.WriteString(S, "FILEPATH", c.FilePath);
  ok &= ini.WriteString(S, "BINPATH", c.BinPath);
  ok &= ini.WriteString(S, "HELPPATH", c.HelpPath);
  return ok;
}

void ReadRadioSection(const IniFile& ini, Config& c) {
  c.maxport = c.maxsport = static_cast<int>(ini.GetInt("RADIO", "PORTS", 1));
  c.EngineHost = ini.GetString("RADIO", "ENGINEHOST", "127.0.0.1", 80);
  c.EnginePort = static_cast<int>(ini.GetInt("RADIO", "ENGINEPORT", 8000));
  c.Reconnect = static_cast<int>(ini.GetInt("RADIO", "RECONNECT", 30));
  c.Monitor = static_cast<int>(ini.GetInt("MONITOR", "MONITOR", 60));
}

int ReadSpecifiedPortFromIni(const IniFile& ini, Config& c, int port, std::string* section) {
  *section = "PORT" + std::to_string(port);
  const std::string& S = *section;
  Auxes& a = c.Ports[port];
  auto num = [&](const char* key, long def) { return static_cast<int>(ini.GetInt(S, key, def)); };
  a.msgbeacon = ini.GetString("RADIO", "MSGBEACON", S, 80);
  a.maxchannels = num("CHANNELS", 1);
  a.mailbeacon = num("MAILBEACON", 50);
  a.beaconevery = num("BTIMEOUT", 50);
  a.beaconeveryok = num("BEACONOK", 0);
  a.btext = ini.GetString(S, "BTEXT", S, 80);
  if (!FileExists(a.btext)) a.btext.clear();
  a.unprotoaddress = ini.GetString(S, "UNPROTO", S, 10);
  a.mailbeaconok = num("MAILBEACONOK", 1);
  a.conok = num("CONOK", 1);
  a.paclen = num("PACLEN", 128);
  a.maxframe = num("MAXFRAME", 2);
  a.enabled = num("ENABLED", 1);
  a.bbsonly = num("BBSONLY", 1);
  a.limitedaccess = num("LIMITED", 1);
  a.timeout = static_cast<unsigned long>(num("TIMEOUT", 10));
  a.unprotofwd = num("UNPROTOFWD", 0);
  // Without PORTNUM the engine's number is the port's own index.
  a.engineport = num("PORTNUM", port);
  a.portno = port;
  return a.maxchannels;
}

void ReadPortTable(const IniFile& ini, Config& c) {
  std::string section;
  for (int p = 0; p < c.maxport && p < kMaxPorts; ++p) ReadSpecifiedPortFromIni(ini, c, p, &section);
}

bool WriteSpecifiedPortInfoToIni(IniFile& ini, const Config& c, int port) {
  const std::string S = "PORT" + std::to_string(port);
  const Auxes& a = c.Ports[port];
  bool ok = true;
  ok &= ini.WriteInt(S, "CHANNELS", a.maxchannels);
  // The engine's number as the sysop set it, which need not be the index.
  ok &= ini.WriteInt(S, "PORTNUM", a.engineport);
  ok &= ini.WriteInt(S, "MAILBEACON", a.mailbeacon);
  ok &= ini.WriteInt(S, "BTIMEOUT", a.beaconevery);
  ok &= ini.WriteInt(S, "BEACONOK", a.beaconeveryok);
  ok &= ini.WriteString(S, "BTEXT", a.btext);
  ok &= ini.WriteString(S, "UNPROTO", a.unprotoaddress);
  ok &= ini.WriteInt(S, "MAILBEACONOK", a.mailbeaconok);
  ok &= ini.WriteInt(S, "CONOK", a.conok);
  ok &= ini.WriteInt(S, "PACLEN", a.paclen);
  ok &= ini.WriteInt(S, "MAXFRAME", a.maxframe);
  ok &= ini.WriteInt(S, "ENABLED", a.enabled);
  ok &= ini.WriteInt(S, "BBSONLY", a.bbsonly);
  ok &= ini.WriteInt(S, "LIMITED", a.limitedaccess);
  ok &= ini.WriteInt(S, "TIMEOUT", static_cast<long>(a.timeout));
  ok &= ini.WriteInt(S, "UNPROTOFWD", a.unprotofwd);
  // RADIO MSGBEACON is one text for every port: not a port's to write.
  return ok;
}

void ReadOptimizeParameters(const IniFile& ini, Config& c) {
  const char* S = "OPTIMIZE";
  auto u = [&](const char* key) { return static_cast<unsigned>(ini.GetInt(S, key, 0)); };
  OptimizeOptions& o = c.optimize;
  o.Killkilled = u("KILLED");
  o.Killold = u("OLD");
  o.Killheld = u("HELD");
  o.Killfwded = u("FWDED");
  o.Killlog = u("LOG");
  o.Killyes = u("YES");
  o.Renumber = u("RENUMBER");
  o.Maxdaysold = u("DAYS");
}

bool SaveOptimizeParameters(IniFile& ini, const Config& c) {
  const char* S = "OPTIMIZE";
  const OptimizeOptions& o = c.optimize;
  bool ok = true;
  ok &= ini.WriteInt(S, "KILLED", o.Killkilled);
  ok &= ini.WriteInt(S, "OLD", o.Killold);
  ok &= ini.WriteInt(S, "HELD", o.Killheld);
  ok &= ini.WriteInt(S, "FWDED", o.Killfwded);
  ok &= ini.WriteInt(S, "LOG", o.Killlog);
  ok &= ini.WriteInt(S, "YES", o.Killyes);
  ok &= ini.WriteInt(S, "RENUMBER", o.Renumber);
  ok &= ini.WriteInt(S, "DAYS", o.Maxdaysold);
  return ok;
}

void ReadCharSection(const IniFile& ini, Config& c) {
  c.OEMANSI = ExactlyOne(ini, "CHAR", "OEMANSI", 1);
  c.ANSIOEM = ExactlyOne(ini, "CHAR", "ANSIOEM", 1);
  c.OemCodePage = ini.GetString("CHAR", "OEMCODEPAGE", "437", 32);
  c.AnsiCodePage = ini.GetString("CHAR", "ANSICODEPAGE", "1252", 32);
}

void LoadColors(const IniFile& ini, Config& c) {
  const char* S = "COLORS";
  Colors& k = c.colors;
  k.monitorHeader = ini.GetInt(S, "MONITORHEADER", 255);
  k.monitorInfo = ini.GetInt(S, "MONITORINFO", 255);
  k.channelInput = ini.GetInt(S, "CHANNELINPUT", 255);
  k.userList = ini.GetInt(S, "USERLIST", 255);
  k.msgList = ini.GetInt(S, "MSGLIST", 255);
  k.msgText = ini.GetInt(S, "MSGTEXT", 255);
  k.channelOutput = ini.GetInt(S, "CHANNELOUTPUT", 0x800000);
  k.sysopTyping = ini.GetInt(S, "SYSOPTEXT", 0x008000);
}

bool SaveColors(IniFile& ini, const Config& c) {
  const char* S = "COLORS";
  const Colors& k = c.colors;
  bool ok = true;
  ok &= ini.WriteInt(S, "MONITORHEADER", k.monitorHeader);
  ok &= ini.WriteInt(S, "MONITORINFO", k.monitorInfo);
  ok &= ini.WriteInt(S, "CHANNELINPUT", k.channelInput);
  ok &= ini.WriteInt(S, "USERLIST", k.userList);
  ok &= ini.WriteInt(S, "MSGLIST", k.msgList);
  ok &= ini.WriteInt(S, "MSGTEXT", k.msgText);
  ok &= ini.WriteInt(S, "CHANNELOUTPUT", k.channelOutput);
  ok &= ini.WriteInt(S, "SYSOPTEXT", k.sysopTyping);
  return ok;
}

void LoadFonts(const IniFile& ini, Config& c) {
  const char* S = "FONTS";
  Fonts& f = c.fonts;
  f.height = ini.GetInt(S, "HEIGHT", 8);
  f.width = ini.GetInt(S, "WIDTH", 0);
  f.set = ini.GetInt(S, "SET", 255);
  f.name = ini.GetString(S, "NAME", "TERMINAL GREEK 737 (437G)", 26);
  f.underline = ini.GetInt(S, "UNDERLINE", 0);
  f.strikeout = ini.GetInt(S, "STRIKEOUT", 0);
  f.italic = ini.GetInt(S, "ITALIC", 0);
  f.bold = ini.GetInt(S, "BOLD", 0);
  f.escapement = ini.GetInt(S, "ESCAPEMENT", 0);
  f.orientation = ini.GetInt(S, "ORIENTATION", 0);
  f.family = ini.GetInt(S, "FAMILY", 0);
  f.outprecision = ini.GetInt(S, "OUTPRECISION", 0);
  f.clipprecision = ini.GetInt(S, "CLIPPRECISION", 0);
  f.quality = ini.GetInt(S, "QUALITY", 0);
}

bool SaveFonts(IniFile& ini, const Config& c) {
  const char* S = "FONTS";
  const Fonts& f = c.fonts;
  bool ok = true;
  ok &= ini.WriteInt(S, "HEIGHT", f.height);
  ok &= ini.WriteInt(S, "WIDTH", f.width);
  ok &= ini.WriteInt(S, "ESCAPEMENT", f.escapement);
  ok &= ini.WriteInt(S, "ORIENTATION", f.orientation);
  ok &= ini.WriteInt(S, "BOLD", f.bold);
  ok &= ini.WriteString(S, "NAME", f.name);
  ok &= ini.WriteInt(S, "SET", 0);
  ok &= ini.WriteInt(S, "UNDERLINE", f.underline);
  ok &= ini.WriteInt(S, "STRIKEOUT", f.strikeout);
  ok &= ini.WriteInt(S, "ITALIC", f.italic);
  for (const char* key : {"FAMILY", "OUTPRECISION", "CLIPPRECISION", "QUALITY"}) ok &= ini.WriteInt(S, key, 0);
  return ok;
}

bool SetMonConfig(IniFile& ini, const Config& c) { return ini.WriteInt("MONITOR", "MONITOR", c.Monitor); }

bool ToggleOemAnsi(IniFile& ini, Config& c) {
  c.OEMANSI = !c.OEMANSI;
  return ini.WriteString("CHAR", "OEMANSI", B(c.OEMANSI));
}

bool ToggleAnsiOem(IniFile& ini, Config& c) {
  c.ANSIOEM = !c.ANSIOEM;
  return ini.WriteString("CHAR", "ANSIOEM", B(c.ANSIOEM));
}

}  // namespace orn
