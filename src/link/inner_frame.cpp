#include "link/inner_frame.h"

#include <algorithm>
#include <cstring>

#include "link/api_frame.h"
#include "platform/text.h"

namespace orn {
namespace {

void PutCall(std::string& out, size_t at, const std::string& call, size_t width) {
  std::memcpy(&out[at], call.data(), std::min(call.size(), width - 1));
}

std::string InHeader(int port, char kind, size_t size) {
  std::string f(size, '\0');
  f[0] = static_cast<char>(port);
  f[1] = kind;
  return f;
}

uint16_t Clamp16(int v) { return static_cast<uint16_t>(std::clamp(v, 0, 0x7FFF)); }

}  // namespace

std::string BuildOutFrame(const OutFrame& f) {
  const size_t n = std::min<size_t>(f.data.size(), 0x7FFF);
  std::string out(kOutHeaderSize, '\0');
  out[0] = f.kind;
  out[1] = static_cast<char>(f.port);
  PutCall(out, 2, f.source, 10);
  PutCall(out, 12, f.destination, 10);
  WriteLe16(&out[22], static_cast<uint16_t>(n));
  out.append(f.data, 0, n);
  out += '\0';
  return out;
}

bool ParseOutFrame(const std::string& bytes, OutFrame* out) {
  if (bytes.size() < kOutHeaderSize + 1) return false;
  const auto n = static_cast<int16_t>(ReadLe16(&bytes[22]));
  if (n < 0 || bytes.size() < kOutHeaderSize + static_cast<size_t>(n)) return false;
  out->kind = bytes[0];
  out->port = static_cast<unsigned char>(bytes[1]);
  out->source = FieldText(&bytes[2], 10);
  out->destination = FieldText(&bytes[12], 10);
  out->data.assign(bytes, kOutHeaderSize, static_cast<size_t>(n));
  return true;
}

std::string PrepareViaList(const std::string& via) {
  std::string block(1, '\0');
  int count = 0;
  size_t i = 0;
  while (i < via.size() && count < kMaxDigipeaters) {
    while (i < via.size() && (via[i] == ',' || via[i] == ' ')) ++i;
    size_t j = i;
    while (j < via.size() && via[j] != ',' && via[j] != ' ') ++j;
    if (j > i) {
      std::string field(10, '\0');
      std::memcpy(&field[0], via.data() + i, std::min<size_t>(j - i, 9));
      block += field;
      ++count;
    }
    i = j;
  }
  block[0] = static_cast<char>(count);
  return block;
}

std::vector<std::string> ParseViaList(const std::string& block) {
  std::vector<std::string> calls;
  if (block.empty()) return calls;
  const size_t k = static_cast<unsigned char>(block[0]);
  if (block.size() < 1 + 10 * k) return {};
  for (size_t i = 0; i < k; ++i) calls.push_back(FieldText(&block[1 + 10 * i], 10));
  return calls;
}

std::string InTextFrame(char kind, int port, const std::string& text) {
  const size_t n = std::min(text.size(), kInFrameMax - 4);
  std::string f = InHeader(port, kind, 4);
  WriteLe16(&f[2], static_cast<uint16_t>(n));
  f.append(text, 0, n);
  return f;
}

std::string InDataFrame(int port, const std::string& call, const std::string& data) {
  const size_t n = std::min(data.size(), kInFrameMax - kInDataOffset);
  std::string f = InHeader(port, 'D', kInDataOffset);
  WriteLe16(&f[2], static_cast<uint16_t>(n));
  PutCall(f, 4, call, 11);
  f.append(data, 0, n);
  return f;
}

std::string InQueueFrame(int port, int q) {
  std::string f = InHeader(port, 'M', 4);
  WriteLe16(&f[2], Clamp16(q));
  return f;
}

std::string InCallQueueFrame(int port, const std::string& call, int q) {
  std::string f = InHeader(port, 'Y', 17);
  PutCall(f, 4, call, 11);
  WriteLe16(&f[15], Clamp16(q));
  return f;
}

std::string InHeardFrame(int port, const std::string& call, uint32_t first, uint32_t last) {
  std::string f = InHeader(port, 'H', 21);
  PutCall(f, 2, call, 11);
  WriteLe32(&f[13], first);
  WriteLe32(&f[17], last);
  return f;
}

std::string FieldCall(const char* frame, size_t size, size_t at) {
  if (at >= size) return {};
  return FieldText(frame + at, std::min<size_t>(11, size - at));
}

}  // namespace orn
