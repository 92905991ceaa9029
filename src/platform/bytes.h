// Little-endian integers in byte images (record files, wire frames), the same
// bytes on every host.
#pragma once

#include <cstdint>

namespace orn {

inline uint32_t ReadLe32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(u[0]) | static_cast<uint32_t>(u[1]) << 8 | static_cast<uint32_t>(u[2]) << 16 |
         static_cast<uint32_t>(u[3]) << 24;
}

inline void WriteLe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline uint16_t ReadLe16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(u[0] | u[1] << 8);
}

inline void WriteLe16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>(v >> 8);
}

// Signed 32-bit fields, as the record files hold them.
inline int32_t ReadLeInt32(const char* p) { return static_cast<int32_t>(ReadLe32(p)); }
inline void WriteLeInt32(char* p, int32_t v) { WriteLe32(p, static_cast<uint32_t>(v)); }

}  // namespace orn
