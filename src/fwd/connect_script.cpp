// Calling a partner: the steps of a connect script, each sent once the
// answer the step before waits for has arrived, and then the session.
#include <cstring>
#include <string>

#include "channel/channel.h"
#include "fwd/fwd_partners.h"
#include "fwd/fwd_rules.h"
#include "fwd/fwd_session.h"
#include "platform/text.h"

namespace orn {
namespace {

// Takes the text up to the next ";" out of a script field.
template <size_t N>
std::string NextPiece(char (&field)[N]) {
  std::string all = FieldText(field);
  const size_t cut = all.find(';');
  const std::string piece = all.substr(0, cut);
  CopyField(field, cut == std::string::npos ? std::string() : all.substr(cut + 1));
  return piece;
}

// What a link shows when our connect is answered.
const char* const kConnectNotice = "CONNECTED";
// How long a step's answer is awaited: a node may take its own connect's
// retries before it says anything.
constexpr int64_t kScriptWaitSeconds = 120;

}  // namespace

void TChannel::GetFwdSettings() {
  if (!tdb) return;
  const int e = EntryForHour(tdb->userdb, client_.clock().LocalNow().tm_hour);
  hconindex = e < 0 ? 0 : e;
}

bool TChannel::ScriptAnswer(const char* data, int len) {
  // Only the end matters: the awaited text is short.
  constexpr size_t kKept = 1024;
  scriptrx.append(data, static_cast<size_t>(len > 0 ? len : 0));
  if (scriptrx.size() > kKept) scriptrx.erase(0, scriptrx.size() - kKept);
  // Nodes and telnet servers do not agree on the case of their prompts.
  return UpperAscii(scriptrx).find(UpperAscii(rcvwaitstr)) != std::string::npos;
}

void TChannel::DecodePath() {
  for (;;) {
    if (!send[0]) {
      if (!connected) {
        // The partner cannot be reached; the cycle goes on as the channel
        // is freed.
        ResetChannel();
        return;
      }
      rcvwait = false;
      cmd[0] = '\0';
      // The login took the record of the station that answered, which is a
      // node when the script went through one: the session is the partner's.
      if (fwdpartner[0] && tdb && std::strcmp(tdb->userdb.Call, fwdpartner) != 0) {
        tdb->upos = tdb->FindUser(fwdpartner);
        if (tdb->upos == 0) {
          Disconnect();
          return;
        }
        CopyField(UserCallOnly, FieldText(fwdpartner));
      }
      Fwd = std::make_unique<TFwd>(this);
      Fwd->Start();
      return;
    }
    const std::string step = Trim(NextPiece(send));
    std::string answer = NextPiece(rcv);
    if (!connected && answer.empty()) answer = kConnectNotice;
    CopyField(rcvwaitstr, answer);
    rcvwait = !answer.empty();

    if (!connected) {
      const std::string calls = UpperAscii(step);
      const size_t cut = calls.find_first_of(", ");
      const std::string dest = calls.substr(0, cut);
      const std::string via = cut == std::string::npos ? "" : Trim(calls.substr(cut + 1));
      if (dest.empty() || dest.size() >= sizeof UserCall || connectpend) {
        ResetChannel();
        return;
      }
      if (client_.FindChannel(TncPortNumber, dest) != 0) {
        const char* text = "Station Already Connected..\r";
        client_.ShowToChannel(*this, text, static_cast<int>(std::strlen(text)));
        ResetChannel();
        return;
      }
      CopyField(UserCall, dest);
      view().SetCaption("Fwd to : " + step);
      connectfwdpend = true;
      connectpend = true;
      client_.link().Connect(TncPortNumber, dest, via);
      return;
    }
    Send(step + "\r");
    // A step that waits for nothing is followed by the next at once.
    if (rcvwait) {
      scriptrx.clear();
      scripttimer = client_.clock().Now() + kScriptWaitSeconds;
      return;
    }
  }
}

}  // namespace orn
