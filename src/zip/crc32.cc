#include "zip/crc32.h"

#include <array>

#include "zip/zip_format.h"

namespace postrunner {
namespace {

// Eight tables: table 0 is the classic byte-at-a-time table; table k gives
// the CRC contribution of a byte that still has k more zero bytes to pass
// through, so eight input bytes are folded in with eight lookups at once
// ("slicing by 8") instead of eight dependent steps.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

[[nodiscard]] constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n) {
    for (size_t k = 1; k < 8; ++k) t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
  }
  return t;
}

constexpr Tables kTables = MakeTables();

[[nodiscard]] inline uint32_t Step(uint32_t c, unsigned char byte) {
  return kTables[0][(c ^ byte) & 0xFF] ^ (c >> 8);
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* bytes, size_t length) {
  if (bytes == nullptr) return 0;
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  uint32_t c = ~crc;
  while (length >= 8) {
    uint32_t low = GetLe32(p) ^ c;
    uint32_t high = GetLe32(p + 4);
    c = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^
        kTables[5][(low >> 16) & 0xFF] ^ kTables[4][low >> 24] ^
        kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
        kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
    p += 8;
    length -= 8;
  }
  while (length-- > 0) c = Step(c, *p++);
  return ~c;
}

}  // namespace postrunner
