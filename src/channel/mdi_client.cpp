#include "channel/mdi_client.h"

#include <cstdio>

#include "channel/channel.h"

namespace orn {


MDIClient::MDIClient(Config& cfg, ActivityLog& log, const Clock& clock, CodePages& cp, MainView& view,
                     EngineTransport& transport, TimerHost& timers)
    : cfg_(cfg), log_(log), clock_(clock), cp_(cp), view_(view) {
  link_ = std::make_unique<PacketLink>(*this, cfg, log, clock, view, transport, timers);
}

MDIClient::~MDIClient() {
  // Channels go first: their reset may still ask the link to send.
  RemoveChannels();
  link_.reset();
}

TChannel* MDIClient::AddChannel() {
  if (numberchildren >= kMaxChannels) return nullptr;
  const int index = numberchildren;
  ptrchild[index] = std::make_unique<TChannel>(*this, view_.CreateChannelView(index));
  ptrchild[index]->TncAbsoluteNumber = index;
  ++numberchildren;
  return ptrchild[index].get();
}

void MDIClient::RemoveChannels() {
  // Every session ends before any window goes: a reset looks at the others.
  for (int i = 0; i < numberchildren; ++i) ptrchild[i]->ResetChannel();
  for (int i = 0; i < numberchildren; ++i) ptrchild[i].reset();
  numberchildren = 0;
}

bool MDIClient::AnyChannelConnected() const {
  for (int i = 1; i < numberchildren; ++i)
    if (ptrchild[i]->connected) return true;
  return false;
}

void MDIClient::SetStatus(const std::string& text) {
  BbsStrStatus = text.substr(0, 127);
  view_.SetStatusText(BbsStrStatus);
}

std::string MDIClient::CoreCaption() const { return cfg_.MyCall + "  ORNBBS MailBox"; }

void MDIClient::Message(const std::string& text, Icon icon, const std::string& caption) {
  view_.MessageBox(caption.empty() ? CoreCaption() : caption, text, icon);
}

void MDIClient::LanguageFault(const std::string& file, bool empty, const std::string& call) {
  const size_t slash = file.find_last_of('/');
  const std::string name = file.empty() ? std::string("(no file)") : file.substr(slash == std::string::npos ? 0 : slash + 1);
  if (!languageFaults_.insert(name).second) return;
  const std::string what = std::string(empty ? "Language file empty: " : "Language file missing: ") + name;
  log_.writelog(65, 0, call, what);
  Message(what + "\nStations of this language are disconnected at login until it is mended.", Icon::Exclamation);
}

void MDIClient::LinkLost() {
  for (int i = 1; i < numberchildren; ++i) {
    TChannel* ch = channel(i);
    if (ch->connected || ch->connectpend) ch->ResetChannel();
  }
}

HeldOutput* MDIClient::HeldOutputOf(int index) { return channel(index); }

void MDIClient::DisconnectRequested(int port, const std::string& call) {
  const int i = FindChannel(port, call);
  if (i == 0) return;
  TChannel& ch = *channel(i);
  // What the station was last told (a goodbye) leaves before the link goes.
  if (ch.transparent) link_->TxTrans(ch);
  ch.disconnectpend = true;
}

void MDIClient::FrameQueueAnswer(int index, int queued, bool withCall) {
  TChannel* ch = channel(index);
  if (!ch) return;
  char caption[80];
  if (withCall) {
    std::snprintf(caption, sizeof caption, "%s on PC(%d-%d) - Q:(%d)", ch->UserCall, ch->TncPortNumber + 1,
                  ch->ChannelNumber, queued);
  } else {
    std::snprintf(caption, sizeof caption, "P:%d - C:%d - Q:(%d)", ch->TncPortNumber + 1, ch->ChannelNumber, queued);
  }
  ch->view().SetCaption(caption);
  ch->view().SetLabel("Queue:", std::to_string(queued));
  ch->QueueReport(queued);
}

void MDIClient::FrameDone() {
  const int64_t now = clock_.NowMs();
  for (int i = 1; i < numberchildren; ++i) {
    ptrchild[i]->StartPacing(now);
    ptrchild[i]->ReleaseIfWaiting();
  }
}

}  // namespace orn
