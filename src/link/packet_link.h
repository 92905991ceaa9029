// The BBS's side of the packet engine: the set-up, every way the BBS sends a
// frame, the dispatch of received frames, and what happens when the engine
// goes away.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "context/activity_log.h"
#include "context/config.h"
#include "context/views.h"
#include "link/engine_session.h"
#include "link/engine_transport.h"
#include "link/held_output.h"
#include "link/link_client.h"
#include "platform/clock.h"
#include "platform/ini_file.h"

namespace orn {

// The link's timer identifier, above the range the service timers search.
constexpr int kReconnectTimerId = 20001;

class PacketLink : public TimerClient {
 public:
  PacketLink(LinkClient& client, Config& cfg, ActivityLog& log, const Clock& clock, MainView& view,
             EngineTransport& transport, TimerHost& timers);
  ~PacketLink() override;

  // Opens the link on the ports of the port table (ReadPortTable). Any
  // failed step shows its message and leaves the BBS in idle mode (BBSOK 0);
  // the start goes on.
  void SetupWindow();
  // Asks the engine for its ports: fills the descriptions of the ports that
  // name them, and notes the engine ports the BBS leaves alone.
  void GetPorts();
  // Shows the notes of the last GetPorts in the monitor (which does not
  // exist yet while the link is set up).
  void ShowPortNotes();
  const std::vector<std::string>& portNotes() const { return portNotes_; }
  // An engine port's number in the activity log: a port the engine lists
  // goes by the number of its name there ("Port1" for port 0), as the
  // engine's own pages show it; one it does not list (LinBPQ's applications,
  // 63) has no such name and goes by the number ORN.INI's PORTNUM gives it.
  int PortShown(int port) const;
  // Ends the link for good (shutdown).
  void Close();
  bool IsOpen() const { return session_.IsOpen(); }

  // Sends a station's data in packets of the port's length; a last, partial
  // packet waits in `hold` for what may follow.
  void SendPacket(HeldOutput& hold, int PortNo, const std::string& ToCall, const char* str, int count,
                  char DataKind);
  // Sends what `hold` holds now.
  void TxTrans(HeldOutput& hold);
  void SendPacketFrame(int PortNo, const std::string& ToCall, const char* str, int count, char DataKind);
  void SendUnprotoData(int PortNo, const std::string& str);
  void SendUnprotoDataFrame(int PortNo, const std::string& piece);
  void Connect(int port, const std::string& callto, const std::string& via);
  void DisConnect(int port, const std::string& call);
  void Heard(int port, const std::string& call);
  void AskMaxFrame(int port, const std::string& call);
  void AskMaxFrameWithCall(int port, const std::string& call);

  // One frame from the engine.
  void ReceivedData(const char* data, size_t len);

  // Sends the output of every channel whose hold time has passed. The
  // service tick does the same channel by channel.
  void FlushHeldOutput();

  // Told when the engine is lost (false) and when the link is back (true).
  void SetLinkStateHook(std::function<void(bool up)> hook) { linkState_ = std::move(hook); }
  // Told of every connection event, every station's data and every call we
  // place: the timers that serve sessions wake up.
  void SetActivityHook(std::function<void()> hook) { activity_ = std::move(hook); }

  void OnTimer(int id) override;

  // The frame-queue poll: the table index polled last, and whether its
  // answer has arrived.
  int pollmaxframe = 1;
  bool oktopoll = true;
  char szData[801] = {};
  char szData2[801] = {};
  int size = 0;

 private:
  int Paclen(int PortNo) const;
  // The table index of the channel on the link with `call`; 0 when none.
  int ChannelOfLink(int port, const std::string& call);
  void Poke(char kind, int port, const std::string& to, const std::string& data);
  // Registers MyCall on the engine ports the enabled ports use.
  bool RegisterMyCall();
  // A port the BBS will not use as the sysop may think: logged now (the
  // short text and the port's number), shown by ShowPortNotes.
  void NotePort(int number, const std::string& logText, const std::string& text);
  void StartAsync();
  void EngineLost();
  bool TryReconnect();
  void KeepTrying();
  void SetupFailed(const std::string& message);

  LinkClient& client_;
  Config& cfg_;
  ActivityLog& log_;
  const Clock& clock_;
  MainView& view_;
  TimerHost& timers_;
  EngineSession session_;
  std::vector<std::string> portNotes_;
  std::vector<int> listed_;  // the engine's ports, as its last list named them
  std::function<void(bool up)> linkState_;
  std::function<void()> activity_;
};

}  // namespace orn
