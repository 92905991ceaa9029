// ornctl's requests about the sysop's presence and the stations' pages:
// "sysop on|off", "page", "page decline CHANNEL" and "talk CHANNEL".
#pragma once

#include <string>
#include <vector>

#include "app/control.h"

namespace orn {

// `pos` are the request's words without options ("page", "decline", "1-2").
ControlAnswer SysopRequest(const ControlSite& site, const std::vector<std::string>& pos, bool json);
ControlAnswer PageRequest(const ControlSite& site, const std::vector<std::string>& pos, bool json);
// The channel comes into terminal mode; the answer's `talk` names it and the
// connection then carries the chat both ways.
ControlAnswer TalkRequest(const ControlSite& site, const std::vector<std::string>& pos);

// A line the sysop typed in "ornctl talk" (UTF-8, no line end): sent as the
// desktop's typing pane sends it. "/BYE" gives the station back. False once
// the talk is over.
bool TalkLine(const ControlSite& site, int index, const std::string& line);
// The talk ends (/BYE, Ctrl-D, ornctl gone): the station is back in the BBS.
void TalkEnd(const ControlSite& site, int index);

}  // namespace orn
