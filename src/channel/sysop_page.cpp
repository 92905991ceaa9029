// A station's page and the sysop's answer to it.
#include <cstdio>
#include <cstdlib>

#include "channel/channel.h"
#include "channel/mdi_client.h"

namespace orn {

std::string MDIClient::ChannelName(const TChannel& ch) {
  return std::to_string(ch.TncPortNumber + 1) + "-" + std::to_string(ch.ChannelNumber);
}

void MDIClient::PageSysop(TChannel& ch) {
  char text[96];
  std::snprintf(text, sizeof text, "From %s,on Port:%d,Channel:%d.", ch.UserCallOnly, ch.TncPortNumber + 1,
                ch.ChannelNumber);
  // A second T while the first waits is the same page: one notice.
  if (ch.paged) return;
  ch.paged = true;
  view_.PageRequest(ch.TncAbsoluteNumber, text, "ornctl talk " + ChannelName(ch));
}

void MDIClient::EndPage(TChannel& ch) {
  if (!ch.paged) return;
  ch.paged = false;
  view_.PageEnded(ch.TncAbsoluteNumber);
}

std::vector<int> MDIClient::PendingPages() const {
  std::vector<int> pages;
  for (int i = 1; i < numberchildren; ++i)
    if (ptrchild[i]->paged) pages.push_back(i);
  return pages;
}

namespace {

// "3" or "12": a number without sign or blanks; -1 otherwise.
int Number(const std::string& s) {
  if (s.empty() || s.size() > 4) return -1;
  for (char c : s)
    if (c < '0' || c > '9') return -1;
  return std::atoi(s.c_str());
}

}  // namespace

int MDIClient::FindNamedChannel(const std::string& name, std::string* why) const {
  const size_t dash = name.find('-');
  const int port = dash == std::string::npos ? 0 : Number(name.substr(0, dash));
  const int number = Number(dash == std::string::npos ? name : name.substr(dash + 1));
  if (port < 0 || number <= 0) {
    *why = "no channel " + name + ": give PORT-CHANNEL, e.g. 1-2";
    return 0;
  }
  int found = 0;
  for (int i = 1; i < numberchildren; ++i) {
    const TChannel& ch = *ptrchild[i];
    if (ch.ChannelNumber != number || (port != 0 && ch.TncPortNumber + 1 != port)) continue;
    if (found != 0) {
      *why = "channel " + name + " is on more than one port: give PORT-CHANNEL, e.g. " + ChannelName(ch);
      return 0;
    }
    found = i;
  }
  if (found == 0) *why = "no channel " + name;
  return found;
}

bool MDIClient::AnswerPage(int index, std::string* why) {
  TChannel* ch = index > 0 ? channel(index) : nullptr;
  if (!ch || !ch->connected) {
    *why = "no station on that channel";
    return false;
  }
  EndPage(*ch);
  // Terminal mode already (the desktop's button, another answer): the
  // station was told once.
  if (!ch->terminal) ch->ToggleTerminal();
  ch->view().SetVisible(true);
  return true;
}

bool MDIClient::DeclinePage(int index, std::string* why) {
  TChannel* ch = index > 0 ? channel(index) : nullptr;
  if (!ch || !ch->paged) {
    *why = "no page on that channel";
    return false;
  }
  EndPage(*ch);
  if (!ch->connected) return true;
  // A station at its prompt gets a new one; one busy with a command (a
  // message it is writing) only the line, so its input is not cut short.
  if (ch->Service == 0) {
    ch->EndService(ch->Expand(ch->lang.sysopnotanswer));
  } else {
    ch->Send(ch->Expand(ch->lang.sysopnotanswer));
  }
  ch->ReleaseIfWaiting();
  return true;
}

void TChannel::AnswerPage() {
  std::string why;
  client_.AnswerPage(TncAbsoluteNumber, &why);
}

void TChannel::DeclinePage() {
  std::string why;
  client_.DeclinePage(TncAbsoluteNumber, &why);
}

}  // namespace orn
