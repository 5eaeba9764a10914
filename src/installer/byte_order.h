// Little-endian loads from byte buffers, independent of the host's byte
// order and alignment. Callers check bounds first.
#pragma once

#include <cstdint>

namespace installer {

inline uint16_t LoadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

inline uint32_t LoadU24(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
}

inline uint32_t LoadU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline uint64_t LoadU64(const uint8_t* p) { return LoadU32(p) | (uint64_t(LoadU32(p + 4)) << 32); }

}  // namespace installer
