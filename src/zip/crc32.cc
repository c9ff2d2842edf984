#include "zip/crc32.h"

#include <array>

namespace postrunner {
namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

inline uint32_t Step(uint32_t c, unsigned char byte) {
  return kTable[(c ^ byte) & 0xFF] ^ (c >> 8);
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* bytes, size_t length) {
  if (bytes == nullptr) return 0;
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  uint32_t c = ~crc;
  while (length >= 8) {
    c = Step(c, p[0]);
    c = Step(c, p[1]);
    c = Step(c, p[2]);
    c = Step(c, p[3]);
    c = Step(c, p[4]);
    c = Step(c, p[5]);
    c = Step(c, p[6]);
    c = Step(c, p[7]);
    p += 8;
    length -= 8;
  }
  while (length-- > 0) c = Step(c, *p++);
  return ~c;
}

}  // namespace postrunner
