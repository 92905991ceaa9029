// The activity log: one line per event, "YYMMDD:HHMM->text", each line on
// disk as soon as it is written.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/ini_file.h"

namespace orn {

struct LogSwitches {
  int Logok = 0, Logcon = 0, Logtalk = 0, Logupload = 0, Logread = 0, Logkill = 0, Logconsole = 0,
      Logother = 0;
  std::string Logfile = "BBS.LOG";  // char[100], relative to the working directory
};

class ActivityLog {
 public:
  explicit ActivityLog(const Clock& clock) : clock_(clock) {}

  // Reads the LOG section; a log file that does not exist turns logging off.
  void ReadLog(const IniFile& ini);
  // The log page's save: writes LOGFILE and the switches as "0" or "1".
  bool SaveLog(IniFile& ini) const;

  const LogSwitches& switches() const { return sw_; }
  void set_switches(const LogSwitches& sw) { sw_ = sw; }

  // The line naming an erased file ("File=DIR\NAME..."), under the event
  // that erased it, when logging and its "other" switch are on.
  void writefile(const std::string& dir, const std::string& name);

  // Formats and appends one event line when logging and the event's switch are on.
  void writelog(int what, long No, const std::string& s, const std::string& sp);

  // The event text alone (at most 83 characters), or empty for an unknown
  // event or a switch that is off.
  std::string EventText(int what, long No, const std::string& s, const std::string& sp) const;

 private:
  const Clock& clock_;
  LogSwitches sw_;
};

}  // namespace orn
