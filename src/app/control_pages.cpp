#include "app/control_pages.h"

#include "channel/channel.h"
#include "platform/json.h"
#include "platform/text.h"

namespace orn {
namespace {

ControlAnswer Usage(const std::string& why) { return ControlAnswer::Of(2, "", why); }
ControlAnswer Refused(const std::string& why) { return ControlAnswer::Of(1, "", why); }
ControlAnswer Done(std::string out) { return ControlAnswer::Of(0, std::move(out), ""); }

TChannel* Station(const ControlSite& site, int index) {
  TChannel* ch = site.client ? site.client->channel(index) : nullptr;
  return ch && !ch->IsMonitor() ? ch : nullptr;
}

}  // namespace

ControlAnswer SysopRequest(const ControlSite& site, const std::vector<std::string>& pos, bool json) {
  if (pos.size() == 1) {
    const bool in = site.cfg->sysopisin;
    return Done(json ? Json::Object().Set("sysop", in).Write() + "\n" : std::string(in ? "on\n" : "off\n"));
  }
  if (pos.size() != 2 || (pos[1] != "on" && pos[1] != "off")) return Usage("sysop [on|off]");
  const bool in = pos[1] == "on";
  // The file first: a presence the next start would not keep is not set.
  if (!site.ini || !site.ini->WriteString("PERSONAL", "SYSOP", in ? "1" : "0"))
    return Refused("cannot write " + (site.ini ? site.ini->path() : std::string("ORN.INI")));
  site.cfg->sysopisin = in;
  return Done(in ? "sysop present: T pages the sysop\n" : "sysop away: T tells the station so\n");
}

ControlAnswer PageRequest(const ControlSite& site, const std::vector<std::string>& pos, bool json) {
  const bool list = pos.size() == 1;
  if (!list && (pos.size() != 3 || pos[1] != "decline")) return Usage("page [decline CHANNEL]");
  if (!site.running) return Refused("the BBS is not running: there are no pages");
  MDIClient& client = *site.client;
  if (list) {
    Json pages = Json::Array();
    std::string out;
    for (int index : client.PendingPages()) {
      const TChannel& ch = *client.channel(index);
      const std::string name = MDIClient::ChannelName(ch);
      pages.Push(Json::Object().Set("channel", name).Set("port", ch.TncPortNumber + 1).Set("call", ch.UserCallOnly));
      out += name + "  " + ch.UserCallOnly + "  answer: ornctl talk " + name + ", decline: ornctl page decline " +
             name + "\n";
    }
    if (json) return Done(pages.Write() + "\n");
    return Done(out.empty() ? "no pages\n" : out);
  }
  std::string why;
  const int index = client.FindNamedChannel(pos[2], &why);
  if (index == 0) return Refused(why);
  if (!client.DeclinePage(index, &why)) return Refused(why + " (" + pos[2] + ")");
  return Done("declined\n");
}

namespace {

// The chats the consoles hold: a page that loads again rebuilds its chat
// controls from this, and the sysop sees which console holds a channel.
ControlAnswer TalkList(const ControlSite& site, bool json) {
  Json talks = Json::Array();
  std::string out;
  MDIClient& client = *site.client;
  for (int index = 1; index < client.numberchildren; ++index) {
    const TChannel* ch = client.channel(index);
    if (!ch || ch->consoleTalk.empty()) continue;
    const std::string name = MDIClient::ChannelName(*ch);
    talks.Push(Json::Object()
                   .Set("channel", name)
                   .Set("port", ch->TncPortNumber + 1)
                   .Set("call", ch->UserCallOnly)
                   .Set("console", ch->consoleTalk));
    out += name + "  " + ch->UserCallOnly + "  " + ch->consoleTalk + "\n";
  }
  if (json) return Done(talks.Write() + "\n");
  return Done(out.empty() ? "no chats\n" : out);
}

}  // namespace

ControlAnswer TalkRequest(const ControlSite& site, const std::vector<std::string>& pos, bool json) {
  if (pos.size() != 2) return Usage("talk CHANNEL | talk list");
  if (!site.running) return Refused("the BBS is not running: there is no one to talk to");
  if (pos[1] == "list") return TalkList(site, json);
  MDIClient& client = *site.client;
  std::string why;
  const int index = client.FindNamedChannel(pos[1], &why);
  if (index == 0) return Refused(why);
  TChannel& ch = *client.channel(index);
  if (!ch.connected) return Refused("no station on channel " + pos[1]);
  // The desktop's terminal, or another talk: one sysop at a time.
  if (ch.terminal) return Refused("channel " + pos[1] + " is in terminal mode already");
  if (ch.fwdoperation || ch.Service == 9) return Refused("channel " + pos[1] + " is forwarding");
  if (!client.AnswerPage(index, &why)) return Refused(why);
  ch.consoleTalk = site.console;
  ControlAnswer a = Done("*** talking with " + std::string(ch.UserCallOnly) + " on channel " +
                         MDIClient::ChannelName(ch) + "; Ctrl-D or /BYE gives the station back\n");
  a.stream = true;
  a.talk = index;
  return a;
}

bool TalkOpen(const ControlSite& site, int index) {
  const TChannel* ch = Station(site, index);
  return ch && ch->connected && ch->terminal && ch->consoleTalk == site.console;
}

bool TalkLine(const ControlSite& site, int index, const std::string& line) {
  if (!TalkOpen(site, index)) return false;
  TChannel* ch = Station(site, index);
  if (UpperAscii(Trim(line)) == "/BYE") {
    TalkEnd(site, index);
    return false;
  }
  ch->TypedLine(line);
  return true;
}

void TalkEnd(const ControlSite& site, int index) {
  TChannel* ch = Station(site, index);
  // Only this console's chat: a second end, or an end for a chat that ended
  // with its station, leaves the channel as the next one has it.
  if (ch && ch->terminal && ch->consoleTalk == site.console) ch->ToggleTerminal();
}

}  // namespace orn
