// The main window's client: the channel table, the status text and the state
// of the link to the packet engine. The windows themselves are the view's.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "context/activity_log.h"
#include "context/config.h"
#include "context/views.h"
#include "link/engine_transport.h"
#include "link/link_client.h"
#include "link/packet_link.h"
#include "platform/clock.h"
#include "platform/code_pages.h"
#include "store/new_message.h"

namespace orn {

class Store;
class FwdPartners;
class TChannel;

class MDIClient : public LinkClient {
 public:
  MDIClient(Config& cfg, ActivityLog& log, const Clock& clock, CodePages& cp, MainView& view,
            EngineTransport& transport, TimerHost& timers);
  ~MDIClient() override;

  Config& cfg() { return cfg_; }
  ActivityLog& log() { return log_; }
  const Clock& clock() const { return clock_; }
  CodePages& codePages() { return cp_; }
  MainView& mainView() { return view_; }
  PacketLink& link() { return *link_; }

  // Adds a channel (the first one added is the monitor window) and returns it.
  TChannel* AddChannel();
  TChannel* channel(int index) { return index >= 0 && index < numberchildren ? ptrchild[index].get() : nullptr; }
  // Closes every channel: reset, window gone.
  void RemoveChannels();
  bool AnyChannelConnected() const;

  void SetStatus(const std::string& text) override;
  void SetServing(unsigned ok) override { BBSOK = ok; }
  void LinkLost() override;
  int ChannelCount() const override { return numberchildren; }
  HeldOutput* HeldOutputOf(int index) override;
  void DisconnectRequested(int port, const std::string& call) override;
  void FrameQueueAnswer(int index, int queued, bool withCall) override;
  void FrameDone() override;
  const std::string& status() const { return BbsStrStatus; }

  // The channel of a station on an engine port: its table index, 0 when none.
  int FindChannel(int port, const std::string& call) const;
  // The lowest idle channel of an engine port whose ORN.INI port takes
  // connections (CONOK, ENABLED); with `configPort` only one of that port.
  // 0 when none.
  int FindFreeChannel(int port, int configPort = -1) const;
  // A connection event from the engine ("*** CONNECTED To Station XX1ABC").
  void InsertToChannelAndCheckConDisc(int port, const char* s, int size) override;
  // Connected data from a station: the frame as received, `size` bytes.
  void InsertToChannel(int port, const char* frame, int size) override;
  // Appends station text to a channel's or the monitor's receive pane.
  void ShowToChannel(TChannel& chan, const char* Data, int size, TextKind kind = TextKind::ChannelInput);
  void ShowToMonitor(const char* Data, int size) override;

  // A station could not be served in its language: the sysop hears of each
  // file once per run (message box and activity log), not at every login.
  void LanguageFault(const std::string& file, bool empty, const std::string& call);

  // A station's page (T): kept on its channel until the sysop answers it,
  // declines it, or the station leaves.
  void PageSysop(TChannel& ch);
  // The channel comes into terminal mode and the station hears that the
  // sysop answers. False with the reason when the channel has no station.
  bool AnswerPage(int index, std::string* why);
  // The station hears that the sysop does not answer.
  bool DeclinePage(int index, std::string* why);
  // The page is no longer pending (answered, declined, the station left).
  void EndPage(TChannel& ch);
  // The table indexes of the channels with a pending page.
  std::vector<int> PendingPages() const;
  // How the sysop names a channel to ornctl: "PORT-CHANNEL", e.g. "1-2".
  static std::string ChannelName(const TChannel& ch);
  // The table index of a channel named "PORT-CHANNEL", or "CHANNEL" when one
  // port alone has it; 0 with the reason when there is none.
  int FindNamedChannel(const std::string& name, std::string* why) const;

  // The core's message box: caption CoreCaption() unless given.
  void Message(const std::string& text, Icon icon, const std::string& caption = {}) override;
  // The BBS's own call and the program, e.g. "XX9ORN-1  ORNBBS MailBox".
  std::string CoreCaption() const;

  Store* store = nullptr;  // the BBS's store, once start-up has made it
  // Forwarding's decision for an unread message just stored: the mail
  // servers and the partners it goes to. Unset until forwarding exists;
  // nothing is queued then.
  std::function<void(const MsgOrigin& origin, const MsgDB& msg)> routeStoredMsg;
  // The forwarding partners and their cycle; null until start-up has made
  // them and once shutdown has begun.
  FwdPartners* partners = nullptr;
  // A station's session on the channel at this table index has ended (the
  // sysop's chat with it from ornctl ends too).
  std::function<void(int index)> onSessionEnd;
  std::string SysopPageSnd;  // the page sound's file; empty when there is none
  int numberchildren = 0;
  std::array<std::unique_ptr<TChannel>, kMaxChannels> ptrchild;
  std::string BbsStrStatus;  // char[128]
  unsigned BBSOK = 0;
  bool OkToTx = true;

 private:
  // Hands the head of a station's data to what the channel does now; how
  // many bytes it took (at the prompt one line, elsewhere all).
  int DeliverToChannel(TChannel& ch, const char* data, int len);

  Config& cfg_;
  ActivityLog& log_;
  const Clock& clock_;
  CodePages& cp_;
  MainView& view_;
  std::unique_ptr<PacketLink> link_;
  std::set<std::string> languageFaults_;
};

}  // namespace orn
