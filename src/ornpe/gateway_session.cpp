#include "ornpe/gateway_session.h"

#include <algorithm>
#include <utility>

#include "ornpe/air_call.h"
#include "ornpe/virtual_engine.h"
#include "platform/text.h"

namespace orn {
namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kDont = 254;
constexpr size_t kMaxCallLine = 80;

}  // namespace

GatewaySession::GatewaySession(GatewayHooks hooks) : hooks_(std::move(hooks)) {}

void GatewaySession::Start() { terminalOut_ += "Callsign: "; }

std::string GatewaySession::FromTerminalBytes(const std::string& bytes) {
  std::string out;
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    switch (telnet_) {
      case Telnet::Data:
        if (b == kIac) {
          telnet_ = Telnet::Command;
          continue;
        }
        break;
      case Telnet::Command:
        telnet_ = b == kSb ? Telnet::Sub : (b >= kWill && b <= kDont) ? Telnet::Option : Telnet::Data;
        if (b != kIac) continue;
        break;  // IAC IAC is a data byte 255
      case Telnet::Option:
        telnet_ = Telnet::Data;
        continue;
      case Telnet::Sub:
        if (b == kIac) telnet_ = Telnet::SubCommand;
        continue;
      case Telnet::SubCommand:
        telnet_ = b == kSe ? Telnet::Data : Telnet::Sub;
        continue;
    }
    if (ch == '\n') {
      if (!lastCr_) out += '\r';
      lastCr_ = false;
    } else if (ch == '\0' && lastCr_) {
      lastCr_ = false;  // telnet's CR NUL
    } else {
      out += ch;
      lastCr_ = ch == '\r';
    }
  }
  return out;
}

void GatewaySession::FromTerminal(const std::string& bytes) {
  if (state_ == State::Finished) return;
  std::string text = FromTerminalBytes(bytes);
  while (state_ == State::AskCall && !text.empty()) {
    const size_t cr = text.find('\r');
    line_ += text.substr(0, cr);
    if (cr == std::string::npos) {
      text.clear();
      if (line_.size() > kMaxCallLine) {
        line_.clear();
        TakeCallsign("?");
      }
      break;
    }
    text.erase(0, cr + 1);
    TakeCallsign(std::exchange(line_, {}));
  }
  if (state_ == State::Connecting || state_ == State::Connected) {
    typed_ += text;
    if (state_ == State::Connected) SendTyped(false);
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
      ToTerminal(f.data.substr(0, f.data.find('\0')));
      state_ = State::Connected;
      SendTyped(false);
      break;
    case 'D':
      if (state_ == State::Connected) ToTerminal(f.data);
      break;
    case 'd':
      if (state_ != State::Connecting && state_ != State::Connected) return;
      ToTerminal(f.data.substr(0, f.data.find('\0')));
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
  // A station's terminal sends a packet per line, or when a packet is full.
  for (;;) {
    const size_t cr = typed_.find('\r');
    size_t n = 0;
    if (cr != std::string::npos) {
      n = cr + 1;
    } else if (all || typed_.size() >= static_cast<size_t>(VirtualEngine::kPaclen)) {
      n = typed_.size();
    }
    if (n == 0) return;
    n = std::min<size_t>(n, VirtualEngine::kPaclen);
    SendFrame('D', typed_.substr(0, n));
    typed_.erase(0, n);
  }
}

void GatewaySession::ToTerminal(const std::string& engineText) {
  for (char c : engineText) {
    terminalOut_ += c;
    if (c == '\r') terminalOut_ += '\n';
  }
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
