// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320).
#ifndef POSTRUNNER_ZIP_CRC32_H_
#define POSTRUNNER_ZIP_CRC32_H_

#include <cstddef>
#include <cstdint>

namespace postrunner {

// Returns `crc` extended over `length` bytes at `bytes`. A running CRC starts
// at 0, so Crc32Update(0, data, n) is the standard CRC-32 of the data. A null
// `bytes` returns 0.
[[nodiscard]] uint32_t Crc32Update(uint32_t crc, const void* bytes, size_t length);

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_CRC32_H_
