#include "support/fake_engine.h"

namespace orn::test {

bool FakeEngine::Open(const std::string&, int, int) {
  ++opens;
  open_ = reachable;
  async_ = false;
  pending_.clear();
  reader_.Clear();
  return open_;
}

void FakeEngine::Close() {
  open_ = false;
  async_ = false;
  pending_.clear();
}

bool FakeEngine::Write(const std::string& bytes) {
  if (!open_) return false;
  reader_.Feed(bytes);
  ApiFrame f;
  while (reader_.Next(&f) == ApiFrameReader::Result::Frame) {
    sent_.push_back(f);
    Reply(f);
  }
  return true;
}

void FakeEngine::Reply(const ApiFrame& f) {
  ApiFrame r;
  r.port = f.port;
  r.kind = f.kind;
  switch (f.kind) {
    case 'R':
      if (!answersVersion) return;
      r.port = 0;
      r.data = std::string("\xD5\x07\0\0\x7F\0\0\0", 8);
      break;
    case 'G':
      r.port = 0;
      r.data = portList + std::string(1, '\0');
      break;
    case 'X':
      r.callFrom = f.callFrom;
      r.data = std::string(1, refusedPorts.count(f.port) ? '\0' : '\1');
      break;
    default:
      return;
  }
  pending_ += EncodeApiFrame(r);
}

std::string FakeEngine::Read(int) {
  std::string out;
  out.swap(pending_);
  return out;
}

void FakeEngine::Pump() {
  if (!async_ || !listener_) return;
  std::string out;
  out.swap(pending_);
  listener_->OnEngineBytes(out.data(), out.size());
}

void FakeEngine::Push(const ApiFrame& f) { PushBytes(EncodeApiFrame(f)); }

void FakeEngine::PushBytes(const std::string& bytes) {
  pending_ += bytes;
  Pump();
}

void FakeEngine::Drop() {
  const bool tell = async_;
  Close();
  if (tell && listener_) listener_->OnEngineClosed();
}

void FakeEngine::Event(int port, const std::string& text) {
  ApiFrame f;
  f.port = static_cast<uint8_t>(port);
  f.kind = text.rfind("*** DISCONNECTED", 0) == 0 ? 'd' : 'C';
  f.data = text + std::string(1, '\0');
  Push(f);
}

void FakeEngine::Data(int port, const std::string& from, const std::string& data) {
  ApiFrame f;
  f.port = static_cast<uint8_t>(port);
  f.kind = 'D';
  f.pid = 0xF0;
  f.callFrom = from;
  f.data = data;
  Push(f);
}

std::vector<ApiFrame> FakeEngine::Take() {
  std::vector<ApiFrame> out;
  out.swap(sent_);
  return out;
}

std::vector<ApiFrame> FakeEngine::Take(const std::string& kinds) {
  std::vector<ApiFrame> out, rest;
  for (ApiFrame& f : sent_) (kinds.find(f.kind) != std::string::npos ? out : rest).push_back(std::move(f));
  sent_.swap(rest);
  return out;
}

}  // namespace orn::test
