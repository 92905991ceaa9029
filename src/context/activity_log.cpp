#include "context/activity_log.h"

#include <cstdio>

#include "platform/file_names.h"

namespace orn {

constexpr size_t kMaxEventText = 83;

void ActivityLog::ReadLog(const IniFile& ini) {
  const char* S = "LOG";
  auto n = [&](const char* key) { return static_cast<int>(ini.GetInt(S, key, 0)); };
  sw_.Logok = n("LOGOK");
  sw_.Logcon = n("LOGCON");
  sw_.Logtalk = n("LOGTALK");
  sw_.Logupload = n("LOGUPLOAD");
  sw_.Logread = n("LOGREAD");
  sw_.Logkill = n("LOGKILL");
  sw_.Logconsole = n("LOGCONSOLE");
  sw_.Logother = n("LOGOTHER");
  sw_.Logfile = ini.GetString(S, "LOGFILE", "BBS.LOG", 100);
  if (!FileExists(sw_.Logfile)) {
    sw_.Logfile.clear();
    sw_.Logok = 0;
  }
}

bool ActivityLog::SaveLog(IniFile& ini) const {
  const char* S = "LOG";
  auto b = [](int v) { return v ? "1" : "0"; };
  bool ok = ini.WriteString(S, "LOGFILE", sw_.Logfile);
  ok &= ini.WriteString(S, "LOGOK", b(sw_.Logok));
  ok &= ini.WriteString(S, "LOGCON", b(sw_.Logcon));
  ok &= ini.WriteString(S, "LOGTALK", b(sw_.Logtalk));
  ok &= ini.WriteString(S, "LOGUPLOAD", b(sw_.Logupload));
  ok &= ini.WriteString(S, "LOGREAD", b(sw_.Logread));
  ok &= ini.WriteString(S, "LOGKILL", b(sw_.Logkill));
  ok &= ini.WriteString(S, "LOGCONSOLE", b(sw_.Logconsole));
  ok &= ini.WriteString(S, "LOGOTHER", b(sw_.Logother));
  return ok;
}

std::string ActivityLog::EventText(int what, long No, const std::string& s, const std::string& sp) const {
  char text[512];
  const char* cs = s.c_str();
  const char* csp = sp.c_str();
  int sw = 1;
  switch (what) {
    case 55: std::snprintf(text, sizeof text, "BBS SERVER UP..."); break;
    case 56: std::snprintf(text, sizeof text, "BBS SERVER DOWN..."); break;
    case 57: sw = sw_.Logcon; std::snprintf(text, sizeof text, "<Connect> %s Port=%ld...", cs, No); break;
    case 58: sw = sw_.Logcon; std::snprintf(text, sizeof text, "<Disconnect> %s Port=%ld...", cs, No); break;
    case 59: sw = sw_.Logread; std::snprintf(text, sizeof text, "<Read> Msg#%ld from %s...", No, cs); break;
    case 61: sw = sw_.Logkill; std::snprintf(text, sizeof text, "<Kill> Msg#%ld from %s...", No, cs); break;
    case 62:
      sw = sw_.Logupload;
      std::snprintf(text, sizeof text, "<Upload> (File=%s) from %s...", csp, cs);
      break;
    case 63:
      sw = sw_.Logupload;
      std::snprintf(text, sizeof text, "<Download> (File=%s) from %s...", csp, cs);
      break;
    case 64:
      sw = sw_.Logtalk;
      std::snprintf(text, sizeof text, "<Chat> Request from %s Port=%ld...", cs, No);
      break;
    case 65: sw = sw_.Logother; std::snprintf(text, sizeof text, "<%s> %ld from %s...", csp, No, cs); break;
    case 66:
      sw = sw_.Logconsole;
      std::snprintf(text, sizeof text, "<Send> Msg#%ld from %s Port=%s...", No, cs, csp);
      break;
    // The web console's audit: what the sysop did there, from where.
    case 70: std::snprintf(text, sizeof text, "<Web> %s from %s", csp, cs); break;
    case 667:
      sw = sw_.Logother;
      std::snprintf(text, sizeof text, "<FWD Send> Msg#%ld to %s, %s", No, cs, csp);
      break;
    case 668:
      sw = sw_.Logother;
      std::snprintf(text, sizeof text, "<FWD Rcv> Msg#%ld from %s, %s", No, cs, csp);
      break;
    case 669:
      sw = sw_.Logother;
      std::snprintf(text, sizeof text, "<FWD Fail> %s: %s", cs, csp);
      break;
    default: return {};
  }
  if (!sw) return {};
  std::string out(text);
  if (out.size() > kMaxEventText) out.resize(kMaxEventText);
  return out;
}

void ActivityLog::writelog(int what, long No, const std::string& s, const std::string& sp) {
  if (!sw_.Logok || sw_.Logfile.empty()) return;
  const std::string text = EventText(what, No, s, sp);
  if (text.empty()) return;
  const std::tm t = clock_.LocalNow();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d%02d%02d:%02d%02d->", t.tm_year % 100, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min);
  // Opened and closed for every line so that each line is on disk at once and
  // a sysop may rotate the file while the BBS runs.
  std::FILE* f = std::fopen(ResolveCase(sw_.Logfile).c_str(), "ab");
  if (!f) return;
  std::fputs(stamp, f);
  std::fputs(text.c_str(), f);
  std::fputc('\n', f);
  std::fclose(f);
}

void ActivityLog::writefile(const std::string& dir, const std::string& name) {
  if (!sw_.Logok || !sw_.Logother || sw_.Logfile.empty()) return;
  if (std::FILE* f = std::fopen(ResolveCase(sw_.Logfile).c_str(), "ab")) {
    std::fprintf(f, "File=%s\\%s...\n", dir.c_str(), name.c_str());
    std::fclose(f);
  }
}

}  // namespace orn
