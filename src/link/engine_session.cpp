#include "link/engine_session.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "link/inner_frame.h"
#include "platform/text.h"

namespace orn {
namespace {

constexpr uint8_t kPidNoLayer3 = 0xF0;

// A text field of the engine: up to its NUL.
std::string EngineText(const std::string& data) { return data.substr(0, data.find('\0')); }

int Count32(const std::string& data) {
  if (data.size() < 4) return 0;
  return static_cast<int>(std::min<uint32_t>(ReadLe32(data.data()), 0x7FFF));
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// A monitored AX.25 frame as engines print it: " 1:Fm XX1ABC To ...".
bool IsMonitorText(const std::string& text) {
  size_t i = text.find_first_not_of(' ');
  const size_t digits = i == std::string::npos ? 0 : text.find_first_not_of("0123456789", i);
  return i != std::string::npos && digits != std::string::npos && digits > i && text.compare(digits, 4, ":Fm ") == 0;
}

}  // namespace

std::string MonitorLine(char kind, int port, const std::string& data) {
  const std::string text = EngineText(data);
  if (IsMonitorText(text)) return text;
  // Something else an engine reports on its monitor (LinBPQ's 'S' frames on
  // its applications' port at start-up): one line, not its bytes.
  return "Engine port " + std::to_string(port) + ": '" + std::string(1, kind) + "' frame of " +
         std::to_string(data.size()) + " bytes, not AX.25 text\r";
}

std::vector<EnginePort> ParsePortList(const std::string& text) {
  std::vector<EnginePort> ports;
  size_t start = text.find(';');
  if (start == std::string::npos) return ports;
  int index = 0;
  while (++start < text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string entry = Trim(text.substr(start, end - start));
    start = end;
    if (entry.empty()) continue;
    EnginePort p{index, entry};
    // "Port<N> <description>": N counts from 1.
    if (StartsWith(entry, "Port")) {
      size_t i = 4;
      while (i < entry.size() && entry[i] >= '0' && entry[i] <= '9') ++i;
      if (i > 4 && i - 4 <= 3 && (i == entry.size() || entry[i] == ' ')) {
        p.number = std::atoi(entry.c_str() + 4) - 1;
        p.description = Trim(entry.substr(i));
      }
    }
    ++index;
    if (p.description == "INVALID CHANNEL" || p.number < 0) continue;
    ports.push_back(p);
  }
  return ports;
}

EngineSession::EngineSession(EngineTransport& transport, Deliver deliver, Lost lost)
    : transport_(transport), deliver_(std::move(deliver)), lost_(std::move(lost)) {}

EngineSession::~EngineSession() { transport_.SetListener(nullptr); }

bool EngineSession::Open(const std::string& host, int port, int timeoutMs) {
  Close();
  transport_.SetListener(this);
  return transport_.Open(host, port, timeoutMs);
}

void EngineSession::Close() {
  async_ = false;
  reader_.Clear();
  held_.clear();
  transport_.Close();
}

bool EngineSession::WriteFrame(const ApiFrame& f) { return transport_.Write(EncodeApiFrame(f)); }

bool EngineSession::MonitorOn() {
  ApiFrame f;
  f.kind = 'm';
  return WriteFrame(f);
}

bool EngineSession::QueryVersion(int timeoutMs) {
  ApiFrame f;
  f.kind = 'R';
  ApiFrame reply;
  return WriteFrame(f) && Await('R', timeoutMs, &reply);
}

bool EngineSession::RequestPorts(int timeoutMs, std::string* text) {
  ApiFrame f;
  f.kind = 'G';
  ApiFrame reply;
  if (!WriteFrame(f) || !Await('G', timeoutMs, &reply)) return false;
  *text = EngineText(reply.data);
  return true;
}

bool EngineSession::RegisterCall(int port, const std::string& call, int timeoutMs) {
  ApiFrame f;
  f.kind = 'X';
  f.port = static_cast<uint8_t>(port);
  f.callFrom = EngineCall(call);
  ApiFrame reply;
  if (!WriteFrame(f) || !Await('X', timeoutMs, &reply)) return false;
  return !reply.data.empty() && reply.data[0] == 1;
}

bool EngineSession::Await(char kind, int timeoutMs, ApiFrame* out) {
  using Steady = std::chrono::steady_clock;
  const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ApiFrame f;
    switch (reader_.Next(&f)) {
      case ApiFrameReader::Result::Frame:
        if (f.kind == kind) {
          *out = std::move(f);
          return true;
        }
        held_.push_back(std::move(f));
        continue;
      case ApiFrameReader::Result::Broken:
        Close();
        return false;
      case ApiFrameReader::Result::NeedMore:
        break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
    if (left <= 0 || !transport_.IsOpen()) return false;
    const std::string bytes = transport_.Read(static_cast<int>(left));
    if (bytes.empty()) return false;
    reader_.Feed(bytes);
  }
}

void EngineSession::StartAsync() {
  async_ = true;
  transport_.StartAsync();
}

void EngineSession::OnEngineBytes(const char* data, size_t n) {
  if (!async_) return;
  while (!held_.empty()) {
    ApiFrame f = std::move(held_.front());
    held_.pop_front();
    Dispatch(f);
    if (!async_) return;
  }
  if (n) reader_.Feed(data, n);
  ApiFrame f;
  for (;;) {
    switch (reader_.Next(&f)) {
      case ApiFrameReader::Result::Frame:
        Dispatch(f);
        if (!async_) return;  // closed while handling the frame
        continue;
      case ApiFrameReader::Result::Broken:
        Broken();
        return;
      case ApiFrameReader::Result::NeedMore:
        return;
    }
  }
}

void EngineSession::OnEngineClosed() {
  if (!async_) return;
  Close();
  if (lost_) lost_();
}

// A length the engine protocol does not allow: the stream cannot be trusted
// any further, and the connection is treated as lost.
void EngineSession::Broken() {
  Close();
  if (lost_) lost_();
}

void EngineSession::Dispatch(const ApiFrame& f) {
  const int port = f.port;
  switch (f.kind) {
    case 'C':
    case 'd':
      deliver_(InTextFrame('C', port, EngineText(f.data)));
      return;
    case 'D':
      // A frame of the BBS carries less than the engine may deliver at once.
      for (size_t at = 0; at < f.data.size() || at == 0; at += kInFrameMax - kInDataOffset) {
        deliver_(InDataFrame(port, f.callFrom, f.data.substr(at, kInFrameMax - kInDataOffset)));
        if (!async_) return;
      }
      return;
    case 'I':
    case 'S':
    case 'U':
    case 'T':
      deliver_(InTextFrame(f.kind, port, MonitorLine(f.kind, port, f.data)));
      return;
    case 'y':
      deliver_(InQueueFrame(port, Count32(f.data)));
      return;
    case 'Y':
      // The reply names the link as asked: own call first, the station second.
      deliver_(InCallQueueFrame(port, f.callTo, Count32(f.data)));
      return;
    case 'R':
    case 'X':
    case 'G':
      return;  // answers to the set-up, late or repeated
    default:
      // Not a kind the BBS knows: it shows as an error in the monitor.
      deliver_(InTextFrame('?', port, ""));
      return;
  }
}

bool EngineSession::Send(const std::string& outFrame) {
  OutFrame o;
  if (!transport_.IsOpen() || !ParseOutFrame(outFrame, &o)) return false;
  ApiFrame f;
  f.port = static_cast<uint8_t>(o.port);
  f.callFrom = EngineCall(o.source);
  f.callTo = EngineCall(o.destination);
  switch (o.kind) {
    case 'D':
    case 'M': {
      f.kind = o.kind;
      f.pid = kPidNoLayer3;
      bool ok = true;
      for (size_t at = 0; at < o.data.size() || at == 0; at += kApiMaxData) {
        f.data = o.data.substr(at, kApiMaxData);
        ok &= WriteFrame(f);
      }
      return ok;
    }
    case 'S':
      if (o.data.empty()) return true;
      switch (o.data[0]) {
        case 'C': f.kind = 'C'; break;
        case 'V':
          f.kind = 'v';
          f.data = o.data.substr(1);
          break;
        case 'D': f.kind = 'd'; break;
        case 'H':
          f.kind = 'H';
          f.callFrom.clear();
          f.callTo.clear();
          break;
        case 'S':
          f.kind = 'y';
          f.callFrom.clear();
          f.callTo.clear();
          break;
        case 'Y': f.kind = 'Y'; break;
        default: return true;
      }
      return WriteFrame(f);
    default:
      return true;  // raw frames and the rest have no place on this engine
  }
}

}  // namespace orn
