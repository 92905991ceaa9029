#include "channel/channel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "channel/mdi_client.h"
#include "fwd/fwd_partners.h"
#include "fwd/fwd_session.h"
#include "platform/text.h"

namespace orn {
namespace {

constexpr int kMaxPaneLines = 400;

// Reading (8), listing (7), YAPP (4, 5), downloads (6) and forwarding (9)
// put out more than one answer's worth on their own.
bool Paced(int service) { return service >= 4 && service <= 9; }

// A question about a full queue that the engine leaves unanswered this long
// is asked again.
constexpr int64_t kQueueAnswerMs = 2000;

// Steps that only move the operation on (a forwarding session between two
// messages) follow each other at once, up to this many in a row.
constexpr int kQuickSteps = 8;

}  // namespace

TChannel::TChannel(MDIClient& client, std::unique_ptr<ChannelView> view)
    : client_(client), view_(std::move(view)) {
  view_->SetControls(this);
}

TChannel::~TChannel() {
  // A transfer closes its progress window in the channel's view.
  yapp.reset();
  view_->SetControls(nullptr);
}

void TChannel::ResetChannel() {
  const bool hadSession = connected || connectpend;
  const bool calling = fwdoperation;
  connected = connectpend = heconnected = disconnectpend = false;
  maxdnld = 0;
  if (IsMonitor()) return;
  if (paged) client_.EndPage(*this);
  // A console's chat ends with its station; the next station gets the BBS.
  if (!consoleTalk.empty() && terminal) ToggleTerminal();
  consoleTalk.clear();
  // Only the end of a session changes the status text: a reset of an idle
  // channel (start-up, shutdown) must not hide "BBS OFF:No RadioPorts".
  if (hadSession) SetConDiscBitmap(0);
  if (Service == 1 || Service == 2 || Service == 3 || (Service >= 6 && Service <= 8)) operation.reset();
  // A session cut short leaves what it had not finished: a message half
  // received is dropped, ours half sent stay queued.
  Fwd.reset();
  sfwd = SFwd{};
  if (Service == kServiceYappReceive || Service == kServiceYappSend) yapp.reset();
  whattodo = 0;
  Service = 0;
  fwdoperation = passwordwait = connectfwdpend = rcvwait = false;
  scriptrx.clear();
  scripttimer = 0;
  rcvwaitstr[0] = recentfile[0] = recentyapp[0] = cmd[0] = sparecmd[0] = fwdpartner[0] = '\0';
  droppingLine = false;
  // Output held for the station that left must not reach the next one.
  transparent = false;
  transcount = 0;
  transparenttimer = 0;
  queueAskedMs = 0;
  framesAsked = framesSent;
  framequeue = 0;
  std::strcpy(UserCall, "NULL");
  UserCallOnly[0] = '\0';
  view_->SetLabel("Name:", "Unkn");
  view_->SetLabel("Action:", "");
  char caption[64];
  std::snprintf(caption, sizeof caption, "PC(%d-%d) - Idle", TncPortNumber + 1, ChannelNumber);
  view_->SetCaption(caption);
  // The deadlines lose their effect until the next login arms them.
  usermaxstaytimer = channeltimeouttimer = 0;
  // A freed channel is offered to a running forwarding cycle.
  if ((hadSession || calling) && client_.partners) client_.partners->ChannelFreed();
  if (hadSession && client_.onSessionEnd) client_.onSessionEnd(TncAbsoluteNumber);
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

void TChannel::SendTx(const char* str, int count, int how) {
  if (count < 0) count = 0;
  PacketLink& link = client_.link();
  if (connected) {
    link.SendPacket(*this, TncPortNumber, UserCall, str, count, 'D');
  } else {
    link.SendUnprotoData(TncPortNumber, std::string(str, static_cast<size_t>(count)));
  }
  if (how == 2) client_.ShowToChannel(*this, str, count, TextKind::ChannelOutput);
}

bool TChannel::PacedStepDue(int64_t nowMs) const {
  if (!connected || disconnectpend || !Paced(Service)) return false;
  const int64_t due = PacedDeadline(Service);
  return due != 0 && due <= nowMs;
}

void TChannel::PaceStep(int64_t nowMs, bool onReport) {
  if (!PacedStepDue(nowMs)) return;
  PacketLink& link = client_.link();
  auto ask = [&](int64_t at) {
    framesAsked = framesSent;
    queueAskedMs = at;
    link.AskMaxFrameWithCall(TncPortNumber, UserCall);
  };
  if (framequeue >= std::max(TncMaxFrame, 1)) {
    // A full queue is asked about again at the ticks, never in a loop with
    // the engine; a question left unanswered is asked again after a while.
    if (!onReport && (queueAskedMs == 0 || nowMs - queueAskedMs >= kQueueAnswerMs)) ask(nowMs);
    return;
  }
  const Clock& clock = client_.clock();
  for (int i = 0; i < kQuickSteps; ++i) {
    const uint64_t frames = framesSent;
    const int state = whattodo, service = Service, held = transcount;
    DecodeService();
    if (!connected) return;
    if (framesSent != frames || transcount != held) {
      // Output: the next step waits for the engine's word on the queue.
      ask(clock.NowMs());
      break;
    }
    if (!PacedStepDue(clock.NowMs()) || (whattodo == state && Service == service)) break;
  }
  ReleaseIfWaiting();
}

void TChannel::StartPacing(int64_t nowMs) {
  if (!PacedStepDue(nowMs) || queueAskedMs != 0) return;
  if (framesSent == framesAsked) {
    PaceStep(nowMs);
    return;
  }
  // A command's first step has put frames out: the engine's answer brings
  // the next one, not the next tick.
  framesAsked = framesSent;
  queueAskedMs = nowMs;
  client_.link().AskMaxFrameWithCall(TncPortNumber, UserCall);
}

void TChannel::QueueReport(int queued) {
  framequeue = queued;
  const bool asked = queueAskedMs != 0;
  queueAskedMs = 0;
  if (!asked || !PacedStepDue(client_.clock().NowMs())) return;
  if (framesSent != framesAsked) {
    // Frames went out after the question: the count is already old.
    framesAsked = framesSent;
    queueAskedMs = client_.clock().NowMs();
    client_.link().AskMaxFrameWithCall(TncPortNumber, UserCall);
    return;
  }
  // Our own question answered with room on the link: the next step goes now.
  PaceStep(client_.clock().NowMs(), true);
}

void TChannel::ReleaseIfWaiting() {
  if (!connected || !transparent) return;
  if (Service == 9) {
    if (Fwd && Fwd->Sending()) return;
  } else if (Service == kServiceYappReceive) {
    // An upload's deadline is the sender's time-out, not a pace: the BBS
    // waits for the station, which must have had its answer first. A terminal
    // that begins its upload at once would get the text inside the exchange.
  } else if (Paced(Service) && PacedDeadline(Service) != 0) {
    return;
  }
  client_.link().TxTrans(*this);
}

void TChannel::ToggleTerminal() {
  if (IsMonitor()) return;
  terminal = !terminal;
  // Given back, by whichever hand: no console holds the channel any more.
  if (!terminal) consoleTalk.clear();
  view_->ShowTerminal(terminal);
  if (!connected) return;
  if (terminal) {
    Send(Expand(lang.sysopanswer));
  } else {
    EndService(lang.backinbbs);
  }
}

void TChannel::TypedLine(const std::string& line) {
  if (!terminal) return;
  const Config& cfg = client_.cfg();
  std::string text = client_.codePages().Utf8ToAnsi(line);
  if (cfg.ANSIOEM) text = client_.codePages().AnsiToOem(text);
  text += '\r';
  SendTx(text.data(), static_cast<int>(text.size()), 0);
  client_.ShowToChannel(*this, text.data(), static_cast<int>(text.size()), TextKind::SysopTyping);
  ReleaseIfWaiting();
}

void TChannel::DisconnectButton() {
  if (IsMonitor() || !connected) return;
  view_->SetLabel("Action:", std::string("Disconnecting ") + UserCall);
  client_.link().DisConnect(TncPortNumber, UserCall);
}

bool TChannel::CanConnect() const { return !IsMonitor() && std::strcmp(UserCall, "NULL") == 0; }

void TChannel::ConnectTo(const std::string& answer) {
  if (!CanConnect()) return;
  const std::string calls = UpperAscii(Trim(answer));
  if (calls.empty() || calls == "NULL") return;
  const size_t cut = calls.find_first_of(", ");
  const std::string dest = Trim(calls.substr(0, cut));
  const std::string via = cut == std::string::npos ? "" : calls.substr(cut + 1);
  if (dest.empty()) return;
  if (client_.FindChannel(TncPortNumber, dest) != 0) {
    const char* text = "Station Already Connected..\r";
    client_.ShowToChannel(*this, text, static_cast<int>(std::strlen(text)));
    ResetChannel();
    return;
  }
  // The sysop's own connect makes the channel a terminal: what the station
  // says is for the sysop, not for the command interpreter.
  terminal = true;
  view_->ShowTerminal(true);
  CopyField(UserCall, dest);
  view_->SetLabel("Action:", std::string("Connecting ") + UserCall);
  connectpend = true;
  client_.link().Connect(TncPortNumber, UserCall, via);
}

void TChannel::CheckMaxInInputWindow() {
  if (inputLines < kMaxPaneLines) return;
  view_->ClearText();
  inputLines = 0;
}

void TChannel::CountInputLines(const std::string& shown) {
  for (char c : shown)
    if (c == '\n') ++inputLines;
}

}  // namespace orn
