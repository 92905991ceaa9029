#include "app/ornbbs.h"

#include <limits>

#include "bbs/default_texts.h"
#include "context/port_map.h"
#include "fwd/b1_partial.h"
#include "platform/file_names.h"
#include "platform/file_types.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/record_check.h"

namespace orn {

const char* const kLockFileName = "ornbbs.lock";
const char* const kBriefLockFileName = "ornctl.lock";

ORNBBS::ORNBBS(const Clock& clock, MainView& view, TimerHost& timers, EngineTransport& transport)
    : clock_(clock), view_(view), timers_(timers), transport_(transport), log_(clock) {
  client_ = std::make_unique<MDIClient>(cfg_, log_, clock_, cp_, view_, transport_, timers_);
}

ORNBBS::~ORNBBS() { Shutdown(); }

void ORNBBS::PostQuit(int code) {
  if (!quitPosted_) quitCode_ = code;
  quitPosted_ = true;
}

bool ORNBBS::Start() {
  // Application initialisation.
  VarInit(cfg_);
  cfg_.IniFile = JoinPath(CurrentDirectory(), "ORN.INI");
  ini_.setPath(cfg_.IniFile);
  ReadRadioSection(ini_, cfg_);
  if (cfg_.maxport == 0) {
    view_.MessageBox("BBS Server", "Invalid number of ports.Init failed.", Icon::Stop);
    PostQuit(1);
  } else if (cfg_.maxport > kMaxPorts) {
    view_.MessageBox("BBS Server",
                     "Invalid number of ports: at most " + std::to_string(kMaxPorts) + " ports.Init failed.",
                     Icon::Stop);
    PostQuit(1);
    cfg_.maxport = kMaxPorts;  // the remaining steps must not read past the port table
  }

  // One BBS per directory. ornctl working on the stopped BBS's files is
  // waited for as long as it works: an import may take minutes.
  const std::string lockPath = JoinPath(CurrentDirectory(), kLockFileName);
  const std::string briefPath = JoinPath(CurrentDirectory(), kBriefLockFileName);
  bool locked = lock_.Acquire(lockPath);
  if (!locked && InstanceLock::BriefHeld(briefPath)) {
    const char* const text = "ornctl is working on the BBS's files: the BBS starts once it is done";
    view_.SetSplashText(text);
    view_.Notice("ORNBBS", text);
    locked = lock_.Acquire(lockPath, briefPath, std::numeric_limits<int>::max());
  }
  if (!locked) {
    view_.MessageBox("ORNBBS", "BBS SERVER Already started !!", Icon::Stop);
    PostQuit(1);
    return false;
  }

  SetupMainWindow();
  mainWindowUp_ = true;

  view_.SetSplashText("Updating Registry...");
  registered_ = RegisterInfo();
  view_.CloseSplash();
  view_.Cascade();
  return !quitPosted_;
}

void ORNBBS::makethefiles() {
  for (const char* name : {"USERS.ADB", "MSG.ADB", "USERS.IDX", "MSG.IDX", "MAIL.ADB"})
    CreateFileIfDontExist(name);
  LogSwitches sw = log_.switches();
  sw.Logfile = ini_.GetString("LOG", "LOGFILE", "BBS.LOG", 100);
  log_.set_switches(sw);
  if (!sw.Logfile.empty()) CreateFileIfDontExist(sw.Logfile);
}

void ORNBBS::SetupMainWindow() {
  view_.SetSplashText("Reading General Information..");
  ReadPersonalSection(ini_, cfg_);

  ReadPathSection(ini_, cfg_);
  const std::string cwd = Cut(CurrentDirectory(), 256);
  if (cwd != cfg_.bbspath) {
    cfg_.bbspath = cwd;
    ini_.WriteString("PATH", "BBSPATH", cfg_.bbspath);
  }

  for (const std::string& sub : {cfg_.MailPath, cfg_.FilePath, cfg_.BinPath, cfg_.HelpPath, std::string("temp")})
    CreateDirIfDontExist(cfg_.bbspath, sub);
  InstallDefaultTexts(cfg_.bbspath, JoinPath(cfg_.bbspath, cfg_.helppath));

  makethefiles();
  // What the look over the files mends belongs in the activity log: its
  // switches are wanted before the rest of the configuration.
  log_.ReadLog(ini_);
  const RecordCheck check = CheckRecordFiles(cfg_.bbspath, JoinPath(cfg_.bbspath, cfg_.mailpath));
  for (const std::string& line : check.mended) {
    log_.writelog(65, 0, "", line);
    view_.MessageBox("ORNBBS", line, Icon::Exclamation);
  }
  if (!check.damage.empty()) {
    const std::string stop = check.damage + " The start is stopped. " + check.advice;
    log_.writelog(65, 0, "", stop);
    view_.MessageBox("ORNBBS", stop, Icon::Stop);
    PostQuit(1);
    return;
  }

  store_ = std::make_unique<Store>(
      StoreSite{cfg_.bbspath, JoinPath(cfg_.bbspath, cfg_.mailpath), cfg_.MyCallOut, cfg_.MyHier});
  store_->CreateMailBeaconList();
  client_->store = store_.get();
  serviceTimers_ = std::make_unique<ServiceTimers>(*client_, timers_, *store_);
  optimize_ = std::make_unique<OptimizeRun>(*client_, *store_);
  serviceTimers_->StartOptimize = [this] { optimize_->StartOptimize(false); };
  // Broken B1 transfers that will not be taken up again go a step at a
  // time, so that even a temp/ of thousands of files costs no tick much.
  serviceTimers_->Tidy = [this] {
    if (optimize_->iact) return;
    B1Partial::SweepStep(ResolveCase(JoinPath(cfg_.bbspath, "TEMP")),
                         [this](const std::string& bid) { return store_->Bids.WeHaveThebid(bid); });
  };
  partners_ = std::make_unique<FwdPartners>(*client_, *store_, serviceTimers_->fwdstarted, timers_);
  partners_->filesBusy = [this] { return optimize_->iact; };
  client_->partners = partners_.get();
  // The tick sets the cycle flag only when no cycle runs: a new one starts
  // from the first partner.
  serviceTimers_->StartFwd = [this] {
    partners_->fwdqueue = 0;
    partners_->StartFwd();
  };
  client_->routeStoredMsg = [this](const MsgOrigin& via, const MsgDB& m) { partners_->Route(via, m); };
  store_->onNewMessage = [this](const MsgDB& m, long pos, const MsgOrigin& origin) {
    MessageStored(m, pos, origin);
  };
  optimize_->RemFwd = [this](long n) { partners_->RemFwd(n); };
  optimize_->ReadPartners = [this] { partners_->ReadUsersFwd(); };
  client_->link().SetLinkStateHook([this](bool up) { LinkStateChanged(up); });
  client_->link().SetActivityHook([this] { serviceTimers_->Wake(); });

  view_.SetStatusText("BBS Server started->Idle Mode");
  client_->BbsStrStatus = "BBS Server started->Idle Mode";

  view_.SetSplashText("Making Database ops...");
  // The main window's mail indicator shows this once the desktop has one.
  mailForSysop_ = store_->ReadTheBids();
  view_.SetMailIndicator(mailForSysop_);
  partners_->ReadUsersFwd();
  store_->RecountMessages();

  if (FileExists("syspage.wav")) client_->SysopPageSnd = JoinPath(cfg_.bbspath, "syspage.wav");

  view_.SetSplashText("Setting up Colors..");
  LoadColors(ini_, cfg_);
  view_.SetSplashText("Setting up Fonts..");
  LoadFonts(ini_, cfg_);
  ReadOptimizeParameters(ini_, cfg_);
  log_.ReadLog(ini_);

  ReadCharSection(ini_, cfg_);
  cp_.Configure(cfg_.OemCodePage, cfg_.AnsiCodePage);

  client_->BBSOK = 1;
  view_.SetSplashText("Communicating with PE..");
  view_.CloseSplash();
  // A BBS that is about to quit has no business on the air.
  if (quitPosted_) {
    client_->BBSOK = 0;
    client_->SetStatus("BBS OFF:No RadioPorts");
  } else {
    ReadPortTable(ini_, cfg_);
    client_->link().SetupWindow();
  }

  const bool up = client_->BBSOK == 1;
  view_.SetSplashText(up ? "Initializing Ports.." : "Initializing default virtual Ports...");
  view_.SetSplashText(up ? "Initializing Channels.." : "Initializing default virtual Channels...");
  SetupChannels();

  view_.SetSplashText(up ? "Enabling Timers..." : "Server is down...");
  if (up) view_.SetSplashText("Server is up...");
  view_.CloseSplash();
  if (up && !serviceTimers_->Start()) PostQuit(1);
  if (!up) serviceTimers_->KeepOnlyInfoTimer();

  log_.writelog(55, 0, "", "");
  if (cfg_.hierRepeatedCall)
    log_.writelog(65, 0, "", "MYHIER without its leading " + cfg_.MyCallOut + ": " + cfg_.MyHier);
}

void ORNBBS::MessageStored(const MsgDB& m, long position, const MsgOrigin& origin) {
  // A held message waits for the sysop's decision, not for the sysop to read it.
  if (m.Status[0] == 'N' && CallKey(FieldText(m.ToStation)) == cfg_.MyCallOut) view_.SetMailIndicator(true);
  if (m.Status[0] == 'N' && client_->routeStoredMsg) client_->routeStoredMsg(origin, m);
  view_.RefreshMsgList(position);
  if (origin.logEvent) log_.writelog(origin.logEvent, m.MsgNo, origin.call, origin.logInfo);
}

void ORNBBS::LinkStateChanged(bool up) {
  if (!up) {
    serviceTimers_->KeepOnlyInfoTimer();
  } else if (!serviceTimers_->Start()) {
    // The hosts act on a quit only at start-up: until the sysop ends the
    // program, the timers that could be had keep running.
    PostQuit(1);
  }
}

bool ORNBBS::CheckChannelLimit() {
  int total = 0;
  for (int p = 0; p < cfg_.maxport; ++p) {
    const std::string S = "PORT" + std::to_string(p);
    if (ini_.GetInt(S, "ENABLED", 1)) total += static_cast<int>(ini_.GetInt(S, "CHANNELS", 1));
  }
  if (total <= kMaxChannels - 1) return true;
  view_.MessageBox("BBS Server",
                   "Too many channels: " + std::to_string(total) + " configured, at most " +
                       std::to_string(kMaxChannels - 1) + " on all ports together.Init failed.",
                   Icon::Stop);
  PostQuit(1);
  return false;
}

void ORNBBS::SetupChannels() {
  TChannel* monitor = client_->AddChannel();
  monitor->view().SetCaption("<Monitor>");
  client_->link().ShowPortNotes();
  if (!CheckChannelLimit()) return;

  for (int p = 0; p < cfg_.maxport; ++p) {
    std::string section;
    const int channels = ReadSpecifiedPortFromIni(ini_, cfg_, p, &section);
    // A port without an engine port has nothing to serve (the link says why).
    const int enginePort = EnginePortOf(cfg_, p);
    if (!cfg_.Ports[p].enabled || enginePort < 0) continue;
    for (int c = 1; c <= channels; ++c) {
      TChannel* ch = client_->AddChannel();
      if (!ch) return;
      ch->TncNumber = p + 1;
      ch->TncPortNumber = enginePort;
      ch->TncMaxChannels = channels;
      ch->ChannelNumber = c;
      ch->TncMaxFrame = static_cast<int>(ini_.GetInt(section, "MAXFRAME", 4));
      ch->TncPaclen = static_cast<int>(ini_.GetInt(section, "PACLEN", 200));
      ch->Service = 0;
      ch->terminal = false;
      ch->tdb = store_->OpenDbase();
      ch->ResetChannel();
    }
  }
}

bool ORNBBS::CanClose(bool ask) {
  if (!ask) return true;
  return view_.Question("QUERY?", "ARE YOU SURE YOU WANT TO QUIT?", true);
}

void ORNBBS::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  // Cleanup of the main window: timers, the link, the channels.
  client_->link().SetLinkStateHook(nullptr);
  client_->link().SetActivityHook(nullptr);
  if (serviceTimers_) serviceTimers_->KillTimers();
  // Channels closing now must not call the next partner.
  if (partners_) {
    partners_->ResetFwd();
    partners_->StopServers();
  }
  client_->partners = nullptr;
  // A repair in progress finishes before the files are let go.
  if (optimize_) optimize_->Wait();
  client_->link().Close();
  client_->RemoveChannels();
  // Instance termination.
  if (store_) store_->DeleteMailBeaconList();
  if (registered_) {
    view_.SetSplashText("Restoring Registry...");
    UnRegisterInfo();
  }
  view_.SetSplashText("Shutting Down BBS Server...");
  view_.SetSplashText("Terminating..");
  if (mainWindowUp_) log_.writelog(56, 0, "", "");
  lock_.Release();
}

}  // namespace orn
