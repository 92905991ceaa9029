// One AX.25 connection slot of one radio port, and its window. Entry 0 of the
// channel table is the monitor window, a channel that never carries a session.
//
// The one place where two layers know each other. A channel owns the
// operation it carries (a station's command session, a forwarding session, a
// YAPP transfer) and drives it; the operation acts on its channel and, through
// it, on the channel table and the BBS's shared context (MDIClient). So
// bbs/, fwd/ and yapp/ include this header, and nothing else of channel/;
// every other include in the code runs one way, down the layers drawn in
// docs/architecture.md (tools/check-layers checks it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bbs/bbs_cmd.h"
#include "channel/mdi_client.h"
#include "context/language.h"
#include "context/views.h"
#include "fwd/sid.h"
#include "store/orn_dbase.h"
#include "store/tokens.h"
#include "yapp/yapp_xfer.h"

namespace orn {

class MDIClient;
class TFwd;

class TChannel : public ChannelControls, public HeldOutput {
 public:
  TChannel(MDIClient& client, std::unique_ptr<ChannelView> view);
  ~TChannel() override;
  TChannel(const TChannel&) = delete;
  TChannel& operator=(const TChannel&) = delete;

  bool IsMonitor() const { return TncAbsoluteNumber == 0; }

  // Returns the channel to idle: no station, no operation, idle caption.
  void ResetChannel();
  // A session begins: a station connected, or our connect was answered. The
  // station is looked up or registered, greeted and challenged.
  void InitChannel();
  // Whether a command line is allowed in this session.
  bool CmdOkToProceed(const char* line) const;
  // Ends a command or operation: the text, then the prompt.
  void EndService(const std::string& text);
  // The first complete line while a password answer is outstanding.
  void PasswordAnswer(const char* line);
  // Loads the station's language texts; false (and a disconnect) when its
  // language file is missing or empty.
  bool LoadLanguage();
  // Writes the station's record back where it came from.
  bool WriteUser();
  // What the "$" tokens of this channel's texts expand to.
  TokenContext Tokens();
  std::string Expand(const std::string& text) { return wildcards(Tokens(), text); }
  void Send(const std::string& text) { SendTx(text.data(), static_cast<int>(text.size()), 2); }
  // Asks the engine to end the session.
  void Disconnect();
  // Sends text to the station (or unproto when idle); `how` 2 also shows it.
  void SendTx(const char* str, int count, int how);

  // The command interpreter: assembles lines from received pieces and carries
  // out commands.
  void BbsCmdDecode();
  // Feeds input and timer ticks to the operation in progress.
  void DecodeService();
  // When a paced operation of this service may go on, in Clock::NowMs
  // (0: it waits for the station).
  int64_t PacedDeadline(int service) const;
  // The operation in progress is paced and its next step may go.
  bool PacedStepDue(int64_t nowMs) const;
  // Takes the paced operation's next step while the engine's last report
  // puts the link's queue below the window, and asks for the queue after a
  // step that put frames out: the answer (QueueReport) brings the next step
  // at once. The service tick calls it too, for an engine that does not
  // answer and to ask again about a full queue.
  void PaceStep(int64_t nowMs, bool onReport = false);
  // A paced operation that has just begun (or has been given input) goes on
  // at the link's pace from here, without waiting for a tick.
  void StartPacing(int64_t nowMs);
  // The engine's count of frames not yet sent on this link.
  void QueueReport(int queued);
  // Sends the held partial frame when nothing of ours will follow it: the
  // session waits for the station (a prompt, an operation that wants input)
  // or for the link.
  void ReleaseIfWaiting();
  // Runs the next step of the connect script in `send` and `rcv`; with no
  // step left, starts the forwarding session on the link that is up.
  void DecodePath();
  // Connected data while a script step waits: true once the awaited answer
  // has come, in this piece or across several.
  bool ScriptAnswer(const char* data, int len);
  // The station is active: the inactivity deadline starts again.
  void ArmInactivityTimer();
  // A partner that called us: the connect entry for the current hour.
  void GetFwdSettings();

  // The sysop's controls of the channel window.
  void ToggleTerminal() override;
  bool CanConnect() const override;
  void ConnectTo(const std::string& answer) override;
  void DisconnectButton() override;
  void TypedLine(const std::string& line) override;
  void CancelTransfer() override;
  void AnswerPage() override;
  void DeclinePage() override;

  // Keeps the receive pane under its line limit.
  void CheckMaxInInputWindow();
  void CountInputLines(const std::string& shown);
  // The connection indicator and status text of a connect (1) or disconnect (0).
  void SetConDiscBitmap(int set);

  int HeldPort() const override { return TncPortNumber; }
  std::string HeldCall() const override { return UserCall; }

  int GetTncNumber() const { return TncNumber; }
  int GetTncPortNumber() const { return TncPortNumber; }
  int GetTncMaxChannels() const { return TncMaxChannels; }
  int GetTncPaclen() const { return TncPaclen; }
  int GetTncMaxFrame() const { return TncMaxFrame; }

  ChannelView& view() { return *view_; }
  MDIClient& client() { return client_; }

  // Session and configuration fields, named as the rest of the BBS knows them.
  int TncNumber = 0;       // BBS port number, 1-based
  int TncPortNumber = 0;   // the engine's port number
  int TncMaxChannels = 0;
  int ChannelNumber = 0;   // 1-based within the port
  int TncMaxFrame = 4;
  int TncPaclen = 200;
  int Service = 0;
  int TncAbsoluteNumber = 0;
  char UserCall[10] = "NULL";
  char UserCallOnly[7] = "";
  char prompt[82] = "";
  char cmd[1792] = "";
  char sparecmd[1792] = "";
  char Passwordcompare[6] = "";
  int64_t usermaxstaytimer = 0;
  int64_t channeltimeouttimer = 0;
  bool heconnected = false;
  bool pagination = false;
  bool fwdoperation = false;
  bool connectfwdpend = false;
  bool rcvwait = false;
  bool passwordwait = false;
  int hconindex = 0;
  int whattodo = 0;
  long maxdnld = 0;
  int framequeue = 0;
  // The pacing's view of the link: when the queue was last asked for
  // (0: no question out) and how many frames had gone out by then.
  int64_t queueAskedMs = 0;
  uint64_t framesAsked = 0;
  char send[101] = "", rcv[101] = "", rcvwaitstr[101] = "";
  // What came since the connect script's last step, searched for rcvwaitstr
  // (an answer may come in pieces, after other text), and until when it is
  // awaited.
  std::string scriptrx;
  int64_t scripttimer = 0;
  // The partner a connect script is calling; the link may be to a node.
  char fwdpartner[7] = "";
  char recentfile[300] = "";
  char recentyapp[300] = "";  // binary files uploaded this session, each ended by a CR
  bool connected = false;
  bool terminal = false;
  // The sysop's console ("ornctl", "web") whose chat holds the channel in
  // terminal mode; empty for none, or for the desktop's own terminal. The
  // chat ends with its station: no console is left holding a channel no one
  // is on.
  std::string consoleTalk;
  bool paged = false;  // the station's page waits for the sysop's answer
  bool connectpend = false;
  bool disconnectpend = false;
  bool droppingLine = false;  // input is skipped up to the end of an over-long line
  int inputLines = 0;  // lines in the receive pane since it was last cleared
  std::unique_ptr<TOrnDbase> tdb;  // the station's records, open for the channel's life
  std::unique_ptr<TBBSCmd> operation;  // while Service is 1, 2, 3, 6, 7 or 8
  std::unique_ptr<TFwd> Fwd;  // the forwarding session while Service is 9
  SFwd sfwd{};  // what the forwarding partner announced
  std::unique_ptr<TYappXfer> yapp;     // while Service is 4 or 5
  Language lang{};

 private:
  MDIClient& client_;
  std::unique_ptr<ChannelView> view_;
};

}  // namespace orn
