#include "ornpe/gateway_session.h"

#include <algorithm>
#include <utility>

#include "ornpe/air_call.h"
#include "ornpe/virtual_engine.h"
#include "platform/text.h"

namespace orn {
namespace {

constexpr size_t kMaxCallLine = 80;

}  // namespace

GatewaySession::GatewaySession(GatewayHooks hooks, Caller caller, bool raw)
    : hooks_(std::move(hooks)),
      caller_(caller),
      telnet_(caller == Caller::Bbs && raw),
      guessing_(caller == Caller::Bbs && !raw) {}

const char* GatewaySession::wire() const {
  if (telnet_.raw()) return "raw TCP";
  return guessing_ ? "not told yet" : "telnet";
}

void GatewaySession::Start() { terminalOut_ += "Callsign: "; }

void GatewaySession::FromTerminal(const std::string& bytes) {
  constexpr char kIac = static_cast<char>(TelnetStream::kIac);
  for (char ch : bytes) {
    if (state_ == State::Finished) return;
    if (guessing_ && !std::exchange(heard_, true) && ch == kIac) guessing_ = false;  // it negotiates
    if (guessing_) {
      if (!std::exchange(iacHeld_, false)) {
        if (ch == kIac) {
          iacHeld_ = true;
        } else {
          Byte(ch);
        }
        continue;
      }
      if (ch != kIac) {
        guessing_ = false;
        turnedRaw_ = true;
        telnet_ = TelnetStream(true);
        Byte(kIac);
      }
      if (state_ != State::Finished) Byte(ch);  // IAC IAC: one 0xFF, as telnet doubles it
      continue;
    }
    if (!telnet_.IsData(ch)) {
      terminalOut_ += telnet_.TakeAnswers();
      continue;
    }
    Byte(ch);
  }
  if (state_ == State::Connected) SendTyped(false);
}

void GatewaySession::Byte(char ch) {
  if (state_ == State::AskCall) {
    CallsignByte(ch);
  } else {
    TypedByte(ch);
  }
}

void GatewaySession::CallsignByte(char ch) {
  // Whatever ends the line (CR, LF, CR LF, telnet's CR NUL) ends it once.
  if ((ch == '\n' || ch == '\0') && lastCr_) {
    lastCr_ = false;
    return;
  }
  lastCr_ = ch == '\r';
  if (ch == '\r' || ch == '\n') {
    if (!std::exchange(skipLine_, false)) TakeCallsign(std::exchange(line_, {}));
    return;
  }
  if (skipLine_) return;
  line_ += ch;
  if (line_.size() > kMaxCallLine) {
    line_.clear();
    skipLine_ = true;
    TakeCallsign("?");
  }
}

void GatewaySession::TypedByte(char ch) {
  if (Transparent()) {
    // Only the callsign line's own end is taken off; the rest is the
    // caller's business.
    if (std::exchange(lastCr_, false) && (ch == '\n' || ch == '\0')) return;
    typed_ += ch;
    return;
  }
  if (ch == '\n') {
    if (!lastCr_) typed_ += '\r';
    lastCr_ = false;
  } else if (ch == '\0' && lastCr_) {
    lastCr_ = false;  // telnet's CR NUL
  } else {
    typed_ += ch;
    lastCr_ = ch == '\r';
  }
}

void GatewaySession::TakeCallsign(const std::string& line) {
  const std::string call = AirForm(UpperAscii(Trim(line)));
  if (call.empty()) {
    terminalOut_ += "Callsign: ";
    return;
  }
  std::string problem;
  if (!IsAirCall(call)) {
    problem = "Not a callsign: letters and digits, at most 6, and an SSID -1 to -15 if needed.";
  } else if (hooks_.callInUse && hooks_.callInUse(call)) {
    problem = call + " is already on the air.";
  }
  if (!problem.empty()) {
    terminalOut_ += problem + "\r\n";
    if (++tries_ >= kMaxTries) {
      terminalOut_ += "Goodbye.\r\n";
      state_ = State::Finished;
    } else {
      terminalOut_ += "Callsign: ";
    }
    return;
  }
  bbs_ = hooks_.bbsCall ? hooks_.bbsCall() : std::string();
  if (bbs_.empty()) {
    terminalOut_ += "No BBS is on the air yet. Try again later.\r\n";
    state_ = State::Finished;
    return;
  }
  call_ = call;
  state_ = State::Connecting;
  terminalOut_ += "Connecting " + call_ + " to " + bbs_ + " ...\r\n";
  SendFrame('C');
}

void GatewaySession::FromEngine(const ApiFrame& f) {
  if (f.port != kPort || f.callFrom != bbs_ || f.callTo != call_) return;
  switch (f.kind) {
    case 'C':
      if (state_ != State::Connecting) return;
      Notice(f);
      state_ = State::Connected;
      SendTyped(false);
      break;
    case 'D':
      if (state_ == State::Connected) ToTerminal(f.data);
      break;
    case 'd':
      if (state_ != State::Connecting && state_ != State::Connected) return;
      Notice(f);
      state_ = State::Finished;
      break;
    default:
      break;
  }
}

void GatewaySession::TerminalClosed() {
  if (state_ == State::Connected) SendTyped(true);
  state_ = State::Finished;
}

void GatewaySession::SendTyped(bool all) {
  // A station's terminal sends a packet per line, or when a packet is full;
  // binary goes as it comes.
  const bool transparent = Transparent();
  for (;;) {
    const size_t cr = transparent ? std::string::npos : typed_.find('\r');
    size_t n = 0;
    if (cr != std::string::npos) {
      n = cr + 1;
    } else if (all || transparent || typed_.size() >= static_cast<size_t>(VirtualEngine::kPaclen)) {
      n = typed_.size();
    }
    if (n == 0) return;
    n = std::min<size_t>(n, VirtualEngine::kPaclen);
    SendFrame('D', typed_.substr(0, n));
    typed_.erase(0, n);
  }
}

void GatewaySession::Notice(const ApiFrame& f) {
  // A line of the gateway's own, whatever the caller's line ends are.
  std::string text = f.data.substr(0, f.data.find('\0'));
  while (!text.empty() && text.back() == '\r') text.pop_back();
  terminalOut_ += telnet_.Encode(text) + "\r\n";
}

void GatewaySession::ToTerminal(const std::string& data) {
  if (caller_ == Caller::Bbs || telnet_.binaryToPeer()) {
    terminalOut_ += telnet_.Encode(data);
    return;
  }
  std::string text;
  for (char c : data) {
    text += c;
    if (c == '\r') text += '\n';
  }
  terminalOut_ += telnet_.Encode(text);
}

void GatewaySession::SendFrame(char kind, const std::string& data) {
  ApiFrame f;
  f.port = kPort;
  f.kind = kind;
  f.pid = kind == 'D' ? 0xF0 : 0;
  f.callFrom = call_;
  f.callTo = bbs_;
  f.data = data;
  engineOut_.push_back(std::move(f));
}

std::string GatewaySession::TakeTerminalOutput() { return std::exchange(terminalOut_, {}); }

std::vector<ApiFrame> GatewaySession::TakeEngineFrames() { return std::exchange(engineOut_, {}); }

}  // namespace orn
