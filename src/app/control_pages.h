// ornctl's requests about the sysop's presence and the stations' pages:
// "sysop on|off", "page", "page decline CHANNEL", "talk CHANNEL" and "talk list".
#pragma once

#include <string>
#include <vector>

#include "app/control.h"

namespace orn {

// `pos` are the request's words without options ("page", "decline", "1-2").
ControlAnswer SysopRequest(const ControlSite& site, const std::vector<std::string>& pos, bool json);
ControlAnswer PageRequest(const ControlSite& site, const std::vector<std::string>& pos, bool json);
// The channel comes into terminal mode; the answer's `talk` names it and the
// connection then carries the chat both ways. The chat is the asking
// console's (site.console) until it or its station ends it. "talk list"
// names the chats open: channel, port, call and console.
ControlAnswer TalkRequest(const ControlSite& site, const std::vector<std::string>& pos, bool json);

// A line the sysop typed in "ornctl talk" (UTF-8, no line end): sent as the
// desktop's typing pane sends it. "/BYE" gives the station back. False once
// the talk is over.
bool TalkLine(const ControlSite& site, int index, const std::string& line);
// The talk ends (/BYE, Ctrl-D, ornctl gone): the station is back in the BBS.
// A chat of another console, or the desktop's terminal, stays as it is.
void TalkEnd(const ControlSite& site, int index);
// Whether the asking console's chat still holds the channel.
bool TalkOpen(const ControlSite& site, int index);

}  // namespace orn
