// The command interpreter of a connected station: pieces of received text
// become command lines, which are checked and carried out.
#include <cstring>

#include "channel/channel.h"
#include "bbs/commands.h"
#include "context/prompts.h"
#include "platform/text.h"

namespace orn {
namespace {

bool StartsWithOneOf(const char* line, const char* letters) {
  return line[0] != '\0' && std::strchr(letters, line[0]) != nullptr;
}

}  // namespace

void TChannel::BbsCmdDecode() {
  if (cmd[0] && (IsMonitor() || TncAbsoluteNumber < 0 || TncAbsoluteNumber >= client_.numberchildren)) {
    client_.mainView().MessageBox("Invalid channel number", "during bbscmddecode", Icon::Stop);
    return;
  }
  const Config& cfg = client_.cfg();
  const unsigned long timeout = TncNumber >= 1 && TncNumber <= kMaxPorts ? cfg.Ports[TncNumber - 1].timeout : 0;
  channeltimeouttimer = timeout ? client_.clock().Now() + 60 * static_cast<int64_t>(timeout) : 0;
  // A station being let go (refused at login, timed out, said B) has no
  // more say, whatever reaches us before its link is down.
  if (disconnectpend) {
    cmd[0] = sparecmd[0] = '\0';
    return;
  }
  if (Service != 0) {
    DecodeService();
    // The text is used: a timer's call to the pump must not see it again.
    cmd[0] = '\0';
    return;
  }
  if (!cmd[0]) return;

  // A line too long for the buffers is dropped up to its end.
  if (droppingLine) {
    char* cr = std::strchr(cmd, '\r');
    if (!cr) {
      cmd[0] = '\0';
      return;
    }
    droppingLine = false;
    std::memmove(cmd, cr + 1, std::strlen(cr + 1) + 1);
    if (!cmd[0]) return;
  }
  const size_t spare = std::strlen(sparecmd);
  const size_t fresh = std::strlen(cmd);
  if (spare + fresh >= sizeof cmd) {
    droppingLine = std::strchr(cmd, '\r') == nullptr;
    sparecmd[0] = cmd[0] = '\0';
    EndService(lang.invalidparameters);
    return;
  }
  if (spare) {
    std::memmove(cmd + spare, cmd, fresh + 1);
    std::memcpy(cmd, sparecmd, spare);
    sparecmd[0] = '\0';
  }
  if (!std::strchr(cmd, '\r')) {
    std::memcpy(sparecmd, cmd, std::strlen(cmd) + 1);
    cmd[0] = '\0';
    return;
  }
  if (passwordwait) {
    PasswordAnswer(cmd);
    return;
  }
  Ltrim(cmd);

  if (tdb && tdb->userdb.Type[0] == 'U' && !StartsWithOneOf(cmd, "AaBbMmNn")) {
    std::string reminder;
    if (std::strcmp(tdb->userdb.Name, "Noname") == 0) reminder += lang.notenteredname;
    if (tdb->userdb.HomeBbs[0] == '?') reminder += lang.notenteredhome;
    EndService(reminder);
    return;
  }
  client_.SetStatus("BBS->Traffic..");
  // N and S lines keep the case of their text; so do the proposals that a
  // BBS sends along with its SID, whose checksum is over the bytes as sent.
  if (cmd[0] == '[') {
    char* cr = std::strchr(cmd, '\r');
    *cr = '\0';
    UpCase(cmd);
    *cr = '\r';
  } else if (!StartsWithOneOf(cmd, "NSns")) {
    UpCase(cmd);
  }
  if (cmd[0] == 'n') cmd[0] = 'N';
  if (cmd[0] == 's') cmd[0] = 'S';
  if (!CmdOkToProceed(cmd)) {
    EndService(lang.invalidcommand);
    return;
  }
  // A BBS's SID line may bring its first proposals along.
  if (std::strlen(cmd) >= 79 && cmd[0] != '[') {
    EndService(lang.invalidparameters);
    return;
  }
  RunCommand(*this, cmd);
}

}  // namespace orn
