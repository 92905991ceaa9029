#include "fwd/block_packets.h"

#include <algorithm>

namespace orn {

std::string HeaderPacket(const std::string& title) { return HeaderPacket(title, 0); }

std::string HeaderPacket(const std::string& title, long offset) {
  // Title, NUL, the offset as six characters right-aligned, NUL: a fresh
  // transfer and a resumed one alike.
  const std::string t = title.substr(0, std::min<size_t>(title.find('\0'), 119));
  const std::string digits = std::to_string(std::max(offset, 0L));
  std::string field = std::string(digits.size() < 6 ? 6 - digits.size() : 0, ' ') + digits;
  std::string body = t;
  body += '\0';
  body += field.substr(field.size() - 6);
  body += '\0';
  std::string p;
  p += static_cast<char>(kSoh);
  p += static_cast<char>(body.size());
  return p + body;
}

long HeaderOffset(const std::string& header) {
  const size_t nul = header.find('\0');
  if (nul == std::string::npos) return 0;
  const size_t end = header.find('\0', nul + 1);
  const std::string field = header.substr(nul + 1, end == std::string::npos ? std::string::npos : end - nul - 1);
  long value = 0;
  bool digits = false;
  for (char c : field) {
    if (c == ' ' && !digits) continue;
    if (c < '0' || c > '9') return -1;
    if (value > 100000000) return -1;
    value = value * 10 + (c - '0');
    digits = true;
  }
  return value;
}

uint16_t Crc16Xmodem(const std::string& bytes, size_t from) {
  uint16_t crc = 0;
  for (size_t i = from; i < bytes.size(); ++i) {
    crc ^= static_cast<uint16_t>(static_cast<unsigned char>(bytes[i]) << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

std::string B1Stream(const std::string& compressed) {
  const uint16_t crc = Crc16Xmodem(compressed);
  std::string out;
  out += static_cast<char>(crc & 0xFF);
  out += static_cast<char>(crc >> 8);
  return out + compressed;
}

bool B1StreamOk(const std::string& stream) {
  if (stream.size() < kB1Head) return false;
  const uint16_t want = static_cast<uint16_t>(static_cast<unsigned char>(stream[0]) |
                                              static_cast<unsigned char>(stream[1]) << 8);
  return Crc16Xmodem(stream, 2) == want;
}

std::string DataPacket(const std::string& bytes) {
  std::string p;
  p += static_cast<char>(kStx);
  p += static_cast<char>(bytes.size() & 0xFF);
  return p + bytes;
}

std::string EndPacket(unsigned long sum) {
  std::string p;
  p += static_cast<char>(kEot);
  p += static_cast<char>((256 - sum % 256) % 256);
  return p;
}

bool CheckSumOk(unsigned long A, unsigned char b) { return ((256 - A % 256) - b) % 256 == 0; }

std::string BlockStream(const std::string& title, const std::string& compressed) {
  std::string out = HeaderPacket(title);
  unsigned long sum = 0;
  for (size_t at = 0; at < compressed.size(); at += kBlockData) {
    const std::string part = compressed.substr(at, kBlockData);
    for (unsigned char c : part) sum += c;
    out += DataPacket(part);
  }
  return out + EndPacket(sum);
}

bool PacketReader::Put(const char* bytes, size_t n) {
  if (pos_ > 0 && pos_ == held_.size()) {
    held_.clear();
    pos_ = 0;
  }
  if (held() + n > kMaxHeld) return false;
  if (pos_ > 4096) {
    held_.erase(0, pos_);
    pos_ = 0;
  }
  held_.append(bytes, n);
  return true;
}

void PacketReader::Reset() {
  held_.clear();
  pos_ = 0;
  pending_ = Kind::kNone;
  haveLength_ = false;
  want_ = 0;
  data_.clear();
}

bool PacketReader::Take(unsigned char* c) {
  if (pos_ >= held_.size()) return false;
  *c = static_cast<unsigned char>(held_[pos_++]);
  return true;
}

bool PacketReader::ReadBody() {
  if (!haveLength_) {
    unsigned char n;
    if (!Take(&n)) return false;
    want_ = n == 0 && pending_ == Kind::kData ? 256 : n;
    haveLength_ = true;
    data_.clear();
  }
  const size_t take = std::min(want_ - data_.size(), held_.size() - pos_);
  data_.append(held_, pos_, take);
  pos_ += take;
  return data_.size() == want_;
}

PacketReader::Kind PacketReader::Next() {
  for (;;) {
    if (pending_ == Kind::kNone) {
      unsigned char c;
      if (!Take(&c)) return Kind::kNone;
      switch (c) {
        case kSoh: pending_ = Kind::kHeader; break;
        case kStx: pending_ = Kind::kData; break;
        case kCan: pending_ = Kind::kCancel; break;
        case kEot: pending_ = Kind::kEnd; break;
        case kEtx: pending_ = Kind::kEtxSoh; break;
        default: continue;  // between packets: skipped
      }
      haveLength_ = false;
    }
    const Kind kind = pending_;
    if (kind == Kind::kEnd) {
      if (!Take(&checksum_)) return Kind::kNone;
      pending_ = Kind::kNone;
      return kind;
    }
    if (kind == Kind::kEtxSoh) {
      unsigned char c;
      if (!Take(&c)) return Kind::kNone;
      pending_ = Kind::kNone;
      if (c == kSoh) return kind;
      continue;
    }
    if (!ReadBody()) return Kind::kNone;
    pending_ = Kind::kNone;
    haveLength_ = false;
    return kind;
  }
}

}  // namespace orn
