// From a station's connect to its first prompt, and the pieces every command
// and operation of a session relies on.
#include <cstdio>
#include <cstring>
#include <random>

#include "channel/channel.h"
#include "context/prompts.h"
#include "fwd/fwd_session.h"
#include "platform/text.h"
#include "store/callsign.h"
#include "store/date_time.h"
#include "store/mail_beacon_list.h"
#include "store/store.h"

namespace orn {
namespace {

// Prompt, greeting and privilege by the first letter of the user's type. A
// null prompt: the station is not let in.
struct UserKind {
  const char* prompt;
  const char* greeting;
  bool privileged;
};

UserKind KindOf(char type, const Language& lang) {
  switch (type) {
    case 'R': return {kFullPrompt, lang.regularuser, false};
    case 'L': return {kFullPrompt, lang.regularuser, true};
    case 'X':
    case 'S':
    case 'B': return {kExpertPrompt, lang.xpertuser, true};
    case 'E': return {nullptr, nullptr, false};
    default: return {kRestrictedPrompt, lang.newuser, false};  // U, N and the unknown
  }
}

std::mt19937& Random() {
  static std::mt19937 gen{std::random_device{}()};
  return gen;
}

}  // namespace

void TChannel::Disconnect() { client_.link().DisConnect(TncPortNumber, UserCall); }

bool TChannel::WriteUser() { return tdb && tdb->WriteToFile(tdb->upos, tdb->userdb); }

void TChannel::InitChannel() {
  connected = true;
  connectpend = false;
  disconnectpend = false;
  maxdnld = 0;
  SetConDiscBitmap(1);
  const std::string call = UserCall;
  const std::string base = call.substr(0, call.find('-'));
  CopyField(UserCallOnly, base);
  char caption[64];
  std::snprintf(caption, sizeof caption, "%s on PC(%d-%d)", UserCall, TncPortNumber + 1, ChannelNumber);
  view_->SetCaption(caption);
  if (!tdb) return;  // no store: a bare connection, as the sysop's terminal has it

  const Config& cfg = client_.cfg();
  MainView& main = client_.mainView();
  tdb->upos = tdb->FindUser(UserCallOnly);
  // A call too long for the air would be cut to someone else's here.
  if (base.size() >= sizeof UserCallOnly || (cfg.callvaliditycheck && !CallIsValid(base))) {
    Disconnect();
    return;
  }
  if (tdb->upos == 0) {
    tdb->upos = tdb->AppendUser(UserCallOnly);
    if (tdb->upos == 0) {
      // The user file cannot grow (a full disk): better a word and the link
      // down than a station left waiting for a greeting.
      Send("The BBS cannot take new users now.\r");
      client_.log().writelog(65, client_.link().PortShown(TncPortNumber), UserCallOnly, "New user not stored");
      Disconnect();
      return;
    }
    main.RefreshUserList(0);
  }
  UserDB& user = tdb->userdb;
  if (heconnected) GetFwdSettings();
  view_->SetLabel("Name:", client_.codePages().AnsiToUtf8(FieldText(user.Name)));
  client_.log().writelog(57, client_.link().PortShown(TncPortNumber), UserCallOnly, "");

  if (!LoadLanguage()) return;
  pagination = true;
  CopyField(prompt, kExpertPrompt);
  if (terminal) return;

  if (user.Type[0] == 'K') CopyField(user.Type, "R");
  if (++user.Count > 999) user.Count = 1;
  CopyField(user.LLoginD, GetDate(client_.clock(), 1));
  CopyField(user.LLoginT, GetTime(client_.clock(), 1));
  if (WriteUser()) main.RefreshUserList(tdb->upos);

  const UserKind kind = KindOf(user.Type[0], lang);
  if (!kind.prompt) {
    Disconnect();
    return;
  }
  CopyField(prompt, kind.prompt);
  const Auxes* port = TncNumber >= 1 && TncNumber <= kMaxPorts ? &cfg.Ports[TncNumber - 1] : nullptr;
  // Our own forwarding call may go through a node, which is no BBS.
  if (port && port->bbsonly == 1 && !kind.privileged && !connectfwdpend) {
    Disconnect();
    return;
  }
  if (port && port->limitedaccess == 1 && !kind.privileged) CopyField(prompt, kRestrictedPrompt);

  std::string text(kSystemId);
  text += '\r';
  text += Expand(kind.greeting);
  Store* store = client_.store;
  if (store && store->MsgBeacon() && store->MsgBeacon()->FormatMailBeacon().find(UserCallOnly) != std::string::npos)
    text += lang.youhavemail;
  text += prompt;
  if (!connectfwdpend) {
    Send(text);
  } else {
    connectfwdpend = false;
  }

  const int64_t now = client_.clock().Now();
  usermaxstaytimer = user.MaxStayMinutes ? now + 60 * static_cast<int64_t>(user.MaxStayMinutes) : 0;
  const unsigned long timeout = port ? port->timeout : 0;
  channeltimeouttimer = timeout ? now + 60 * static_cast<int64_t>(timeout) : 0;

  const std::string password = FieldText(user.Password);
  if (user.PasswordOk != 0 && !password.empty()) {
    const int L = static_cast<int>(password.size());
    std::uniform_int_distribution<int> pick(1, L);
    std::string challenge = "Enter Password :";
    std::string expected;
    for (int slot = 1; slot <= 5; ++slot) {
      challenge += ' ';
      if (slot == 1 || L > slot - 1) {
        const int pos = pick(Random());
        challenge += std::to_string(pos);
        expected += password[static_cast<size_t>(pos - 1)];
      }
    }
    CopyField(Passwordcompare, expected);
    Send(challenge);
    passwordwait = true;
  } else {
    passwordwait = false;
  }
}

void TChannel::ArmInactivityTimer() {
  const Config& cfg = client_.cfg();
  const unsigned long timeout = TncNumber >= 1 && TncNumber <= kMaxPorts ? cfg.Ports[TncNumber - 1].timeout : 0;
  channeltimeouttimer = timeout ? client_.clock().Now() + 60 * static_cast<int64_t>(timeout) : 0;
}

void TChannel::PasswordAnswer(const char* line) {
  std::string answer = line;
  if (!answer.empty()) answer.pop_back();  // its CR
  if (answer == Passwordcompare) {
    passwordwait = false;
    EndService("Ok!!\r");
  } else {
    Disconnect();
  }
}

bool TChannel::LoadLanguage() {
  const Config& cfg = client_.cfg();
  const std::string language = tdb ? FieldText(tdb->userdb.Language) : std::string();
  const LanguageLoad result =
      orn::LoadLanguage(cfg.bbspath, language, cfg.OEMANSI ? &client_.codePages() : nullptr, &lang);
  if (result == LanguageLoad::kLoaded) return true;
  Disconnect();
  const char* text = LanguageFailureText(result);
  client_.ShowToChannel(*this, text, static_cast<int>(std::strlen(text)));
  client_.LanguageFault(LanguageFileName(cfg.bbspath, language), result == LanguageLoad::kEmptyFile, UserCallOnly);
  return false;
}

bool TChannel::CmdOkToProceed(const char* line) const {
  char first = line[0];
  char second = first ? line[1] : '\0';
  if (second == '\r' || second == ' ') second = '\0';
  if (std::strcmp(prompt, kRestrictedPrompt) != 0) return true;
  if (first == 'n' || first == 'N' || first == 'm' || first == 'M') return true;
  if ((first == 'K' || first == 'R' || first == 'L') && !second) return false;
  std::string two;
  if (first) two += static_cast<char>(std::toupper(static_cast<unsigned char>(first)));
  if (second) two += static_cast<char>(std::toupper(static_cast<unsigned char>(second)));
  return std::strstr(kRestrictedPrompt, two.c_str()) != nullptr;
}

void TChannel::EndService(const std::string& text) {
  Service = 0;
  Send(text + prompt);
}

TokenContext TChannel::Tokens() {
  const Config& cfg = client_.cfg();
  TokenContext ctx;
  ctx.clock = &client_.clock();
  ctx.ownCall = cfg.MyCallOut;
  ctx.sysopName = cfg.MyName;
  ctx.monitor = IsMonitor();
  if (tdb) {
    ctx.user = &tdb->userdb;
    ctx.msg = &tdb->msgdb;
  }
  ctx.userCall = UserCallOnly;
  ctx.channelNumber = ChannelNumber;
  ctx.ansiToOem = cfg.OEMANSI ? &client_.codePages() : nullptr;
  ctx.nousage = lang.nousage;
  MDIClient* client = &client_;
  ctx.connected = [client] {
    std::vector<ConnectedStation> list;
    for (int i = 1; i < client->numberchildren; ++i) {
      const TChannel* ch = client->channel(i);
      if (ch->connected) list.push_back({ch->TncNumber - 1, ch->ChannelNumber, ch->UserCall});
    }
    return list;
  };
  if (Store* store = client_.store) {
    ctx.counters = &store->counters;
    ctx.mailBeacon = store->MsgBeacon();
  }
  return ctx;
}

void TChannel::DecodeService() {
  if (disconnectpend) return;
  if (tdb && tdb->userdb.MaxDownload != 0 && maxdnld / 1000 > tdb->userdb.MaxDownload) {
    Disconnect();
    return;
  }
  if (Service == kServiceYappReceive || Service == kServiceYappSend) {
    // A step that ends the transfer has answered the station already.
    if (yapp && !(Service == kServiceYappReceive ? yapp->ReceiveStep() : yapp->SendStep())) yapp.reset();
    return;
  }
  const bool abort = (cmd[0] == 'A' || cmd[0] == 'a') && cmd[1] == '\r' && cmd[2] == '\0';
  auto end = [this] { operation.reset(); };
  if (Service == 9) {
    if (Fwd) Fwd->Step();
    return;
  }
  if (!operation) {
    // Forwarding (9) runs without an operation object; it takes its input
    // here once it exists.
    return;
  }
  switch (Service) {
    case 1:
      if (!operation->Upload(cmd)) end();
      return;
    case 2:
    case 3:
      if (!operation->Send(cmd)) end();
      return;
    case 6:
      if (!operation->DownLoad()) end();
      if (cmd[0] == 'A' || cmd[0] == 'a') {
        end();
        EndService(lang.aborted);
      }
      return;
    case 7: {
      if (abort) {
        end();
        EndService(lang.aborted);
        return;
      }
      if ((cmd[0] == 'C' || cmd[0] == 'c') && cmd[1] == '\r' && cmd[2] == '\0') pagination = false;
      bool more = false;
      switch (operation->whatcmd) {
        case kCmdList: more = operation->List(); break;
        case kCmdListLast: more = operation->ListLast(); break;
        case kCmdListFrom: more = operation->ListFrom(); break;
        case kCmdListTo: more = operation->ListTo(); break;
        case kCmdListAt: more = operation->ListAt(); break;
        case kCmdListMine: more = operation->ListMine(); break;
        case kCmdListType: more = operation->ListType(); break;
        case kCmdListStatus: more = operation->ListStatus(); break;
        case kCmdListSbj: more = operation->ListSbj(); break;
        default: break;
      }
      if (!more) {
        end();
        EndService("");
      }
      return;
    }
    case 8:
      if (operation->whatcmd == kCmdRead) {
        if (!operation->ReadMsgText()) end();
      } else if (operation->whatcmd == kCmdReadMine) {
        // A finished message is followed at once by the next one's header
        // and first portion.
        while (!operation->ReadMsgText()) {
          if (!operation->Proceed()) {
            end();
            return;
          }
        }
      }
      return;
    default:
      return;
  }
}

int64_t TChannel::PacedDeadline(int service) const {
  if (service == 9) return Fwd ? Fwd->FTimer : 0;
  if (service == kServiceYappReceive || service == kServiceYappSend) {
    if (!yapp) return 0;
    // A packet that is ready goes as the link takes it; a wait for the
    // station counts whole seconds, and is over once that second is.
    if (service == kServiceYappSend && yapp->PacketReady()) return client_.clock().NowMs();
    return yapp->yapptimer != 0 ? (yapp->yapptimer + 1) * 1000 : 0;
  }
  if (!operation) return 0;
  switch (service) {
    case 8: return operation->readtimer;
    case 7: return operation->listtimer;
    case 6: return operation->DownloadTimer;
    default: return 0;
  }
}

}  // namespace orn
