#include "channel/channel.h"

#include <cstdio>
#include <cstring>

#include "app/mdi_client.h"

namespace orn {

TChannel::TChannel(MDIClient& client, std::unique_ptr<ChannelView> view)
    : client_(client), view_(std::move(view)) {}

TChannel::~TChannel() = default;

void TChannel::ResetChannel() {
  const bool hadSession = connected || connectpend;
  connected = connectpend = heconnected = disconnectpend = false;
  maxdnld = 0;
  if (IsMonitor()) return;
  // Only the end of a session changes the status text: a reset of an idle
  // channel (start-up, shutdown) must not hide "BBS OFF:No RadioPorts".
  if (hadSession) SetConDiscBitmap(0);
  whattodo = 0;
  Service = 0;
  fwdoperation = passwordwait = connectfwdpend = rcvwait = false;
  rcvwaitstr[0] = recentfile[0] = cmd[0] = sparecmd[0] = '\0';
  std::strcpy(UserCall, "NULL");
  UserCallOnly[0] = '\0';
  view_->SetLabel("Name:", "Unkn");
  char caption[64];
  std::snprintf(caption, sizeof caption, "PC(%d-%d) - Idle", TncPortNumber + 1, ChannelNumber);
  view_->SetCaption(caption);
  // The deadlines lose their effect until the next login arms them.
  usermaxstaytimer = channeltimeouttimer = 0;
}

void TChannel::SetConDiscBitmap(int set) {
  MainView& main = client_.mainView();
  if (set) {
    main.SetConnectionIndicator(true);
    client_.SetStatus("BBS->Connection..");
    return;
  }
  client_.SetStatus("BBS->Disconnection..");
  if (!client_.AnyChannelConnected()) {
    main.SetConnectionIndicator(false);
    client_.SetStatus("BBS->Idle Mode");
  }
}

}  // namespace orn
