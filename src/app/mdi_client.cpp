#include "app/mdi_client.h"

namespace orn {

const char* const kCoreCaption = "XX9ORN  Windows 95 MailBox";

MDIClient::MDIClient(Config& cfg, ActivityLog& log, const Clock& clock, CodePages& cp, MainView& view,
                     EngineTransport& transport, TimerHost& timers)
    : cfg_(cfg), log_(log), clock_(clock), cp_(cp), view_(view) {
  link_ = std::make_unique<PacketLink>(*this, transport, timers);
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

void MDIClient::Message(const std::string& text, Icon icon, const std::string& caption) {
  view_.MessageBox(caption.empty() ? kCoreCaption : caption, text, icon);
}

}  // namespace orn
