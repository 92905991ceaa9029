#include "link/api_frame.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace orn {

std::string EncodeApiFrame(const ApiFrame& f) {
  std::string out(kApiHeaderSize, '\0');
  out[0] = static_cast<char>(f.port);
  out[4] = f.kind;
  out[6] = static_cast<char>(f.pid);
  // The engine forces byte 9 of each field to NUL: nine characters at most.
  std::memcpy(&out[8], f.callFrom.data(), std::min<size_t>(f.callFrom.size(), 9));
  std::memcpy(&out[18], f.callTo.data(), std::min<size_t>(f.callTo.size(), 9));
  WriteLe32(&out[28], static_cast<uint32_t>(f.data.size()));
  out += f.data;
  return out;
}

ApiFrameReader::Result ApiFrameReader::Next(ApiFrame* out) {
  if (buf_.size() - pos_ < kApiHeaderSize) return Result::NeedMore;
  const char* h = buf_.data() + pos_;
  const uint32_t len = ReadLe32(h + 28);
  if (len > kApiMaxData) return Result::Broken;
  if (buf_.size() - pos_ < kApiHeaderSize + len) return Result::NeedMore;
  out->port = static_cast<uint8_t>(h[0]);
  out->kind = h[4];
  out->pid = static_cast<uint8_t>(h[6]);
  out->callFrom = FieldText(h + 8, 10);
  out->callTo = FieldText(h + 18, 10);
  out->data.assign(h + kApiHeaderSize, len);
  pos_ += kApiHeaderSize + len;
  // Drop consumed bytes now and then, not on every frame.
  if (pos_ > 65536 || pos_ == buf_.size()) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  return Result::Frame;
}

std::string EngineCall(const std::string& call) {
  std::string c = UpperAscii(Trim(call));
  if (c.size() >= 2 && c.compare(c.size() - 2, 2, "-0") == 0) c.resize(c.size() - 2);
  if (c.size() > 9) c.resize(9);
  return c;
}

}  // namespace orn
