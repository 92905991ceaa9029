// How the engine's connection events and connected data reach channels.
#include <algorithm>
#include <cstring>
#include <string>

#include "channel/channel.h"
#include "channel/mdi_client.h"
#include "fwd/fwd_partners.h"
#include "fwd/fwd_session.h"
#include "link/inner_frame.h"
#include "platform/text.h"

namespace orn {
namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The callsign of an event: the 11 bytes after the prefix and its blank,
// without the carriage return that ends the engine's texts.
std::string EventCall(const std::string& text, size_t offset) {
  if (offset >= text.size()) return {};
  std::string call = text.substr(offset, 11);
  if (call.find('\r') != std::string::npos) call.pop_back();
  return call.substr(0, call.find('\r'));
}

// YAPP at the prompt, as a terminal sends it after a transfer that ended on
// our side (or never began): a cancel with its text, a send-init or
// receive-init, an acknowledgement (the cancel's above all). Its length at
// the head of `data`, else 0. The two-byte packets end in a control byte
// that nobody types.
int StrayYappLength(const char* data, int len) {
  constexpr unsigned char kEnq = 0x05, kAck = 0x06, kCan = 0x18;
  if (len < 2) return 0;
  const auto head = static_cast<unsigned char>(data[0]);
  const auto second = static_cast<unsigned char>(data[1]);
  if (head == kCan) return std::min(len, 2 + (second == 0 ? 256 : second));
  if ((head == kEnq || head == kAck) && second >= 0x01 && second <= 0x06) return 2;
  return 0;
}

bool AtPrompt(const TChannel& ch) { return ch.Service == 0 && !ch.Fwd && !ch.rcvwait && !ch.fwdoperation; }

// How much of `data` the prompt takes as one piece: up to and including the
// first line end, so that a command changing what the channel does (a YAPP
// upload, a message's text) has the rest of the frame read its way. A BBS's
// SID line keeps the proposals sent along with it.
int PromptPiece(const TChannel& ch, const char* data, int len) {
  const char* begun = ch.sparecmd[0] ? ch.sparecmd : data;
  const size_t size = ch.sparecmd[0] ? std::strlen(ch.sparecmd) : static_cast<size_t>(len);
  size_t first = 0;
  while (first < size && begun[first] == ' ') ++first;
  if (first < size && begun[first] == '[') return len;
  const void* cr = std::memchr(data, '\r', static_cast<size_t>(len));
  return cr ? static_cast<int>(static_cast<const char*>(cr) - data) + 1 : len;
}

}  // namespace

int MDIClient::FindChannel(int port, const std::string& call) const {
  for (int i = 1; i < numberchildren; ++i) {
    const TChannel& ch = *ptrchild[i];
    if (ch.TncPortNumber == port && call == ch.UserCall) return i;
  }
  return 0;
}

int MDIClient::FindFreeChannel(int port, int configPort) const {
  for (int i = 1; i < numberchildren; ++i) {
    const TChannel& ch = *ptrchild[i];
    if (ch.TncPortNumber != port || ch.terminal || ch.connected || ch.connectpend || ch.fwdoperation) continue;
    // The channel's own port decides, not the record that the engine's
    // number would index: PORTNUM need not equal the port's index.
    const int own = ch.TncNumber - 1;
    if (own < 0 || own >= kMaxPorts || (configPort >= 0 && own != configPort)) continue;
    const Auxes& a = cfg_.Ports[static_cast<size_t>(own)];
    if (a.conok && a.enabled) return i;
  }
  return 0;
}

void MDIClient::InsertToChannelAndCheckConDisc(int port, const char* s, int size) {
  if (size < 0) return;
  const std::string text(s, strnlen(s, static_cast<size_t>(size)));
  int index = 0;
  if (StartsWith(text, "*** DISCONNECTED RETRYOUT With")) {
    index = FindChannel(port, EventCall(text, 31));
  } else if (StartsWith(text, "*** DISCONNECTED From Station")) {
    index = FindChannel(port, EventCall(text, 30));
  } else if (StartsWith(text, "*** CONNECTED With Station")) {
    index = FindChannel(port, EventCall(text, 27));
    if (index) {
      TChannel& ch = *ptrchild[index];
      ch.InitChannel();
      ch.heconnected = false;
      // The link is up: no longer "Connecting".
      ch.view().SetLabel("Action:", "");
    }
  } else if (StartsWith(text, "*** CONNECTED To Station")) {
    const std::string call = EventCall(text, 25);
    // The engine repeats the event when the station resets a link it
    // already has: that session goes on, on its own channel.
    index = FindChannel(port, call);
    // Not in the middle of a YAPP transfer, though: a station that comes
    // back then has given it up and waits for a greeting, not for the next
    // packet of a transfer that would hold its channel until a time-out.
    if (index && (ptrchild[index]->Service == kServiceYappReceive || ptrchild[index]->Service == kServiceYappSend)) {
      ptrchild[index]->ResetChannel();
      index = 0;
    }
    if (!index) {
      index = FindFreeChannel(port);
      if (!index) {
        link_->DisConnect(port, call);
        return;
      }
      TChannel& ch = *ptrchild[index];
      CopyField(ch.UserCall, call);
      ch.heconnected = true;
      ch.InitChannel();
    }
  }
  if (!index) {
    ShowToMonitor(text.data(), static_cast<int>(text.size()));
    return;
  }
  TChannel& ch = *ptrchild[index];
  ShowToChannel(ch, text.data(), static_cast<int>(text.size()));
  if (text.find("*** DISCONNECTED") != std::string::npos) {
    ch.ResetChannel();
    return;
  }
  if (ch.rcvwait) {
    if (text.find(ch.rcvwaitstr) != std::string::npos) {
      ch.DecodePath();
    } else {
      link_->DisConnect(port, ch.UserCall);
    }
  }
}

void MDIClient::InsertToChannel(int port, const char* frame, int size) {
  if (size < static_cast<int>(kInDataOffset)) return;
  const char* data = frame + kInDataOffset;
  int len = size - static_cast<int>(kInDataOffset);
  const std::string call = FieldText(frame + 4, 10);
  const int index = FindChannel(port, call);
  if (!index) {
    link_->DisConnect(port, call);
    return;
  }
  TChannel& ch = *ptrchild[index];
  ShowToChannel(ch, data, len);
  // Every line of a frame counts (a paste, a fast client, a terminal that
  // starts its YAPP packets with the command): each piece is read as what
  // the channel does once the piece before it has been carried out.
  while (len > 0 && !ch.terminal) {
    const int used = DeliverToChannel(ch, data, len);
    data += used;
    len -= used;
    // A station let go has no more say.
    if (!ch.connected || ch.disconnectpend) break;
  }
}

int MDIClient::DeliverToChannel(TChannel& ch, const char* data, int len) {
  int take = len;
  if (AtPrompt(ch)) {
    // At the prompt a stray YAPP packet is no command, nor the start of one.
    if (const int stray = StrayYappLength(data, len)) return stray;
    // The line feed of a client that ends its lines in CR LF belongs to the
    // line before, not to the next command.
    if (data[0] == '\n' && !ch.sparecmd[0]) return 1;
    take = PromptPiece(ch, data, len);
  }
  // The interpreter reads text up to a NUL: a NUL a station sends is
  // dropped, never taken for the end of what it sent. What does not fit
  // comes as the next piece.
  size_t n = 0;
  int used = 0;
  for (; used < take && n < sizeof ch.cmd - 1; ++used)
    if (data[used] != '\0') ch.cmd[n++] = data[used];
  ch.cmd[n] = '\0';
  if (ch.Service == kServiceYappReceive || ch.Service == kServiceYappSend) {
    // A YAPP transfer takes the bytes as they came, NULs and all.
    ch.ArmInactivityTimer();
    if (ch.yapp)
      for (int i = 0; i < len; ++i) ch.yapp->putyappbuf(static_cast<unsigned char>(data[i]));
    ch.DecodeService();
    return len;
  }
  if (ch.Fwd && FwdBinaryState(ch.whattodo)) {
    // So do the forwarding transfers, binary bytes and all.
    ch.cmd[0] = '\0';
    if (ch.Fwd->putbuf(data, static_cast<size_t>(len))) ch.DecodeService();
    return len;
  }
  if (ch.rcvwait) {
    // Anything else (a node's banner, a prompt in two pieces) waits with it,
    // until the script's time-out.
    if (ch.ScriptAnswer(data, len)) ch.DecodePath();
    return len;
  }
  if (ch.fwdoperation) {
    ch.fwdoperation = false;
    const int e = ch.hconindex;
    const bool continues = ch.tdb && e >= 0 && e < kHowtoconnectCount && ch.tdb->userdb.Hcon[e].flag == 'C';
    if (continues && partners) partners->StartFwd();
    // The partner's first words carry its SID: the session needs them.
  }
  ch.BbsCmdDecode();
  return used;
}

}  // namespace orn
