#include "app/bbs_init.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "bbs/default_texts.h"
#include "platform/file_names.h"
#include "store/callsign.h"

namespace orn {
namespace {

// What makes a directory a BBS's: its configuration, its records or a BBS
// that holds it now.
const char* const kBbsMarks[] = {"ORN.INI", "USERS.ADB", "MSG.ADB", "MAIL.ADB", "ornbbs.lock"};

bool ValidBbsCall(const std::string& call) {
  const size_t dash = call.find('-');
  if (!CallIsValid(call.substr(0, dash))) return false;
  if (dash == std::string::npos) return true;
  const std::string ssid = call.substr(dash + 1);
  if (ssid.empty() || ssid.size() > 2 || ssid.find_first_not_of("0123456789") != std::string::npos) return false;
  return std::stoi(ssid) <= 15;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Values go into a line of the ini file as they are: no line breaks, and
// nothing the ini reader would cut.
bool PlainValue(const std::string& v, size_t max) {
  if (v.size() > max) return false;
  for (unsigned char c : v)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

bool MakeDirs(const std::string& dir, std::string* error) {
  std::string path;
  size_t pos = 0;
  while (pos != std::string::npos) {
    const size_t next = dir.find('/', pos + 1);
    path = dir.substr(0, next);
    pos = next;
    if (path.empty() || path == "/") continue;
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = "cannot make " + path + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!DirExists(dir)) {
    *error = dir + " is not a directory";
    return false;
  }
  return true;
}

}  // namespace

bool ParseEngineAddress(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string p = text.substr(colon + 1);
  if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
  const int n = std::stoi(p);
  if (n < 1 || n > 65535) return false;
  std::string h = text.substr(0, colon);
  if (!PlainValue(h, 100) || h.find_first_of(" ;=[]") != std::string::npos) return false;
  *host = h.empty() ? "127.0.0.1" : h;
  *port = n;
  return true;
}

std::string InitialIni(const BbsInitOptions& o) {
  std::vector<std::string> l = {
      "; Written by ornctl init. The README's \"Configuration: ORN.INI\" explains every key;",
      "; a key that is missing takes its default.",
      "[PERSONAL]",
      "MYCALL=" + Upper(o.call),
      "MYNAME=" + o.name,
  };
  if (!o.hier.empty()) l.push_back("MYHIER=" + Upper(o.hier));
  l.insert(l.end(), {
                        "[RADIO]",
                        "PORTS=1",
                        "; The packet engine: Direwolf's or ornpe's packet-engine TCP API.",
                        "ENGINEHOST=" + o.engineHost,
                        "ENGINEPORT=" + std::to_string(o.enginePort),
                        "; Seconds between attempts to reach the engine, from start-up on (it may",
                        "; start later than the BBS) and after losing it; 0 = never.",
                        "RECONNECT=30",
                        "[PORT0]",
                        "; The engine's first radio port (Direwolf's channel 0).",
                        "PORTNUM=0",
                        "; Stations that may be connected at once.",
                        "CHANNELS=4",
                        "; New stations may register (1 lets in only sysops, experts and BBSes).",
                        "BBSONLY=0",
                        "; Every station gets the full command set (1: a restricted set for users).",
                        "LIMITED=0",
                        "[LOG]",
                        "; The activity log BBS.LOG: the start and stop, connects, reads, kills,",
                        "; uploads and the rest.",
                        "LOGOK=1",
                        "LOGFILE=BBS.LOG",
                        "LOGCON=1",
                        "LOGREAD=1",
                        "LOGKILL=1",
                        "LOGUPLOAD=1",
                        "LOGOTHER=1",
                    });
  if (!o.web.empty())
    l.insert(l.end(), {"[WEB]",
                       "; The sysop's web console (its password: ornctl web password). Keep it on",
                       "; 127.0.0.1 and put a reverse proxy with TLS in front for other machines.",
                       "LISTEN=" + o.web});
  std::string text;
  for (const std::string& line : l) text += line + "\r\n";
  return text;
}

bool InitBbsDirectory(const std::string& dir, const BbsInitOptions& o, std::string* error) {
  if (!ValidBbsCall(Upper(o.call))) {
    *error = "--call " + o.call + " is no callsign (such as XX9ORN or XX9ORN-1, SSID 0 to 15)";
    return false;
  }
  if (!PlainValue(o.name, 30) || o.name.empty()) {
    *error = "--name must be one line of at most 30 characters";
    return false;
  }
  if (!PlainValue(o.hier, 60) || o.hier.find(' ') != std::string::npos) {
    *error = "--hier must be an address such as #ATH.GRC.EU, without blanks";
    return false;
  }
  for (const char* mark : kBbsMarks) {
    if (FileExists(JoinPath(dir, mark))) {
      *error = dir + " already holds a BBS (" + mark + "): nothing was changed";
      return false;
    }
  }
  if (!MakeDirs(dir, error)) return false;
  if (::access(dir.c_str(), W_OK) != 0) {
    *error = "cannot write in " + dir + ": " + std::strerror(errno);
    return false;
  }
  // ORN.INI goes last: a directory that has it is a BBS, and an init cut
  // short before it can simply be run again.
  if (!CreateDirIfDontExist(dir, "HELP") || !CreateFileIfDontExist(JoinPath(dir, "BBS.LOG"))) {
    *error = "cannot write in " + dir + ": " + std::strerror(errno);
    return false;
  }
  InstallDefaultTexts(dir, JoinPath(dir, "HELP"));
  if (!FileExists(JoinPath(dir, "english.lng")) || !WriteFileReplacing(JoinPath(dir, "ORN.INI"), InitialIni(o), true)) {
    *error = "cannot write the files in " + dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace orn
