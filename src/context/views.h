// What the core asks of a display. The desktop draws; the headless host
// writes lines. Texts given to a view are UTF-8.
#pragma once

#include <memory>
#include <string>

namespace orn {

enum class Icon { Information, Exclamation, Stop, Question };

// How a text reaches a receive pane: the colour it is drawn in.
// What a pane shows: a station's text, the BBS's answers, the sysop's own
// typing in terminal mode, the monitor's header and data lines.
enum class TextKind { ChannelInput, MonitorHeader, MonitorInfo, ChannelOutput, SysopTyping };

// What the sysop can do with a channel window; the channel answers.
class ChannelControls {
 public:
  virtual ~ChannelControls() = default;
  virtual void ToggleTerminal() = 0;
  // Whether the connect button may ask for a call now.
  virtual bool CanConnect() const = 0;
  // The connect dialog's answer: "CALL" or "CALL,DIGI1,DIGI2".
  virtual void ConnectTo(const std::string& answer) = 0;
  virtual void DisconnectButton() = 0;
  // A line typed in the typing pane (UTF-8, without line end).
  virtual void TypedLine(const std::string& line) = 0;
  // The Cancel button of a YAPP transfer's progress window.
  virtual void CancelTransfer() {}
  // The sysop's choice on the station's page: chat (terminal mode), or not.
  virtual void AnswerPage() {}
  virtual void DeclinePage() {}
};

// What the progress window of a YAPP transfer shows.
struct TransferProgress {
  std::string header;  // the file (name and size), or what the transfer awaits
  std::string state;   // the protocol step, by name
  long long bytes = 0;
  long long total = -1;  // the file's size once known, else -1
  int port = 0;        // port number + 1
  int channel = 0;
  std::string call;
};

// One channel window (or the monitor window, entry 0 of the channel table).
class ChannelView {
 public:
  virtual ~ChannelView() = default;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void AppendText(const std::string& text, TextKind kind) = 0;
  virtual void ClearText() = 0;
  // The "Name:" / "Queue:" / "Action:" label pairs.
  virtual void SetLabel(const std::string& label, const std::string& value) = 0;
  // Shows or hides the window (a channel window is hidden, never closed).
  virtual void SetVisible(bool) {}
  // The channel behind the window's buttons and typing pane.
  virtual void SetControls(ChannelControls*) {}
  // Terminal mode on or off, whoever changed it (the window's button, an
  // answered page, ornctl talk).
  virtual void ShowTerminal(bool) {}
  // A YAPP transfer's progress window: opened or updated, then closed.
  virtual void ShowTransfer(const TransferProgress&) {}
  virtual void CloseTransfer() {}
};

class MainView {
 public:
  virtual ~MainView() = default;
  virtual void MessageBox(const std::string& caption, const std::string& text, Icon icon) = 0;
  // A yes/no question; hosts that cannot ask return `def`.
  virtual bool Question(const std::string& caption, const std::string& text, bool def) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // Status-bar fields other than the status text ("L:000000" and friends).
  virtual void SetStatusField(int /*field*/, const std::string& /*text*/) {}
  virtual void SetSplashText(const std::string& /*text*/) {}
  virtual void CloseSplash() {}
  virtual void SetConnectionIndicator(bool /*on*/) {}
  // The status-bar animation while the server is up: picture 0 to 5.
  virtual void SetAnimationFrame(int /*frame*/) {}
  // False for a BBS without a screen: nothing there shows the animation or
  // the status-bar counters.
  virtual bool HasDisplay() const { return true; }
  // The transmit and receive indicators: a frame went to or came from the engine.
  virtual void FlashTx() {}
  virtual void FlashRx() {}
  // A non-modal notice ("Chat Request.."): does not wait for the sysop.
  virtual void Notice(const std::string& caption, const std::string& text) { MessageBox(caption, text, Icon::Information); }
  // A station pages the sysop on the channel at `tableIndex`: `text` says
  // who and where, `command` is how a shell answers it. The page stays until
  // PageEnded for that channel.
  virtual void PageRequest(int /*tableIndex*/, const std::string& text, const std::string& command) {
    Notice("Chat Request..", text + " Answer: " + command);
  }
  // The page was answered or declined, or its station left.
  virtual void PageEnded(int /*tableIndex*/) {}
  virtual std::unique_ptr<ChannelView> CreateChannelView(int tableIndex) = 0;
  // A user record changed at this position (0: one was appended): the
  // sysop's user list, when open, shows it anew.
  virtual void RefreshUserList(long /*position*/) {}
  // A message record was written at this position (0: several changed): the
  // sysop's message list, when open, shows it anew.
  virtual void RefreshMsgList(long /*position*/) {}
  // The mail indicator: whether mail for the sysop is waiting.
  virtual void SetMailIndicator(bool /*mail*/) {}
  // Plays a sound file once; nothing when the host cannot.
  virtual void PlaySound(const std::string& /*file*/) {}
  // The channel windows are all there: arrange them.
  virtual void Cascade() {}
};

// Periodic timers of the main window. The host runs them on its event loop
// and calls back TimerClient::OnTimer with the identifier.
class TimerClient {
 public:
  virtual ~TimerClient() = default;
  virtual void OnTimer(int id) = 0;
};

class TimerHost {
 public:
  virtual ~TimerHost() = default;
  // False when the identifier is taken or no timer can be had.
  virtual bool SetTimer(int id, int periodMs, TimerClient* client) = 0;
  virtual void KillTimer(int id) = 0;
  // Gives a running timer a new period (it may be the one now calling back).
  virtual void SetPeriod(int id, int periodMs, TimerClient* client) {
    KillTimer(id);
    SetTimer(id, periodMs, client);
  }
};

}  // namespace orn
