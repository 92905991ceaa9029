#include "yapp/yapp_packets.h"

#include <algorithm>
#include <cstdio>

namespace orn {
namespace {

constexpr unsigned char kSOH = 0x01, kSTX = 0x02, kETX = 0x03, kEOT = 0x04, kENQ = 0x05, kACK = 0x06,
                        kDLE = 0x10, kNAK = 0x15, kCAN = 0x18;
static_assert(kYappSendInit[0] == kENQ && kYappRcvReady[0] == kACK && kYappEndOfFile[0] == kETX &&
              kYappEndOfXfer[0] == kEOT);

std::string Two(unsigned char a, unsigned char b) { return std::string{static_cast<char>(a), static_cast<char>(b)}; }

std::string WithLength(unsigned char kind, const std::string& body) {
  const std::string cut = body.substr(0, 255);
  std::string p = Two(kind, static_cast<unsigned char>(cut.size()));
  p += cut;
  return p;
}

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

unsigned char YappChecksum(const unsigned char* data, size_t n) {
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) sum += data[i];
  return static_cast<unsigned char>(sum & 0xFF);
}

std::string YappData(const char* data, size_t n, bool checksum) {
  n = std::min<size_t>(n, 256);
  std::string p = Two(kSTX, static_cast<unsigned char>(n == 256 ? 0 : n));
  p.append(data, n);
  if (checksum) p += static_cast<char>(YappChecksum(reinterpret_cast<const unsigned char*>(data), n));
  return p;
}

std::string YappCancel(const std::string& reason) { return WithLength(kCAN, reason); }
std::string YappNotReady(const std::string& reason) { return WithLength(kNAK, reason); }

std::string YappHeader(const std::string& name, unsigned long long size, uint32_t dosDateTime) {
  std::string body = name;
  body += '\0';
  body += std::to_string(size);
  body += '\0';
  char date[9];
  std::snprintf(date, sizeof date, "%08X", static_cast<unsigned>(dosDateTime));
  body += date;
  body += '\0';
  return WithLength(kSOH, body);
}

bool ParseYappHeader(const unsigned char* body, size_t n, YappHeaderFields* out) {
  const unsigned char* end = body + n;
  const unsigned char* nul = std::find(body, end, 0);
  if (nul == end || nul == body) return false;
  const unsigned char* size = nul + 1;
  const unsigned char* sizeEnd = std::find(size, end, 0);
  if (sizeEnd - size > 19) return false;  // more than any file of ours could hold
  for (const unsigned char* c = size; c < sizeEnd; ++c)
    if (*c < '0' || *c > '9') return false;
  out->name.assign(reinterpret_cast<const char*>(body), static_cast<size_t>(nul - body));
  out->size.assign(reinterpret_cast<const char*>(size), static_cast<size_t>(sizeEnd - size));
  out->hasDate = false;
  out->dosDateTime = 0;
  if (sizeEnd == end) return true;
  const unsigned char* date = sizeEnd + 1;
  const unsigned char* dateEnd = std::find(date, end, 0);
  if (dateEnd - date != 8) return true;
  uint32_t v = 0;
  for (const unsigned char* c = date; c < dateEnd; ++c) {
    const int digit = HexDigit(*c);
    if (digit < 0) return true;
    v = v << 4 | static_cast<uint32_t>(digit);
  }
  out->hasDate = true;
  out->dosDateTime = v;
  return true;
}

bool ParseYappResume(const unsigned char* body, size_t n, unsigned long long* have, bool* checksums) {
  const unsigned char* end = body + n;
  if (n < 4 || body[0] != 'R' || body[1] != 0) return false;
  const unsigned char* digits = body + 2;
  const unsigned char* nul = std::find(digits, end, 0);
  if (nul == end || nul == digits || nul - digits > 19) return false;
  unsigned long long v = 0;
  for (const unsigned char* c = digits; c < nul; ++c) {
    if (*c < '0' || *c > '9') return false;
    v = v * 10 + static_cast<unsigned>(*c - '0');
  }
  *have = v;
  *checksums = nul + 1 < end && nul[1] == 'C';
  return true;
}

bool YappReader::Put(unsigned char byte) {
  const int next = inpos_ == kRingPlaces - 1 ? 0 : inpos_ + 1;
  if (next == curpos_) return false;
  ring_[inpos_] = byte;
  inpos_ = next;
  return true;
}

bool YappReader::Take(unsigned char* byte) {
  if (!Ready()) return false;
  *byte = ring_[curpos_];
  curpos_ = curpos_ == kRingPlaces - 1 ? 0 : curpos_ + 1;
  return true;
}

void YappReader::Clear() {
  inpos_ = curpos_ = 0;
  stage_ = 0;
  length_ = have_ = want_ = 0;
}

int YappReader::Next() {
  unsigned char b = 0;
  if (stage_ == 0) {
    if (!Take(&b)) return kYappPartial;
    switch (b) {
      case kSOH:
      case kSTX:
      case kETX:
      case kEOT:
      case kENQ:
      case kACK:
      case kDLE:
      case kNAK:
      case kCAN:
        first_ = b;
        stage_ = 1;
        break;
      default:
        return kYappNone;
    }
  }
  if (stage_ == 1) {
    if (!Take(&b)) return kYappPartial;
    stage_ = 0;
    switch (first_) {
      case kENQ: return b == 0x01 ? kYappSI : b == 0x02 ? kYappRI : kYappInit;
      case kACK:
        switch (b) {
          case 0x01: return kYappRR;
          case 0x02: return kYappRF;
          case 0x03: return kYappAF;
          case 0x04: return kYappAT;
          case 0x05: return kYappCA;
          case 0x06: return kYappRT;
          default: return kYappNone;
        }
      case kETX: return b == 0x01 ? kYappEF : kYappNone;
      case kEOT: return b == 0x01 ? kYappET : kYappNone;
      case kSOH: kind_ = kYappHD; break;
      case kSTX: kind_ = kYappDT; break;
      case kDLE: kind_ = kYappTX; break;
      case kNAK: kind_ = kYappNR; break;
      default: kind_ = kYappCN; break;
    }
    length_ = b == 0 && kind_ == kYappDT ? 256 : b;
    want_ = length_ + (kind_ == kYappDT && checksums_ ? 1 : 0);
    have_ = 0;
    stage_ = 2;
  }
  while (have_ < want_ && Take(&b)) body_[have_++] = b;
  if (have_ < want_) return kYappPartial;
  stage_ = 0;
  sumOk_ = want_ == length_ || YappChecksum(body_, length_) == body_[length_];
  return kind_;
}

}  // namespace orn
