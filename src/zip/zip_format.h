// Byte layouts of the ZIP structures this writer emits, and the
// little-endian helpers that build them. All multi-byte fields are
// little-endian. Nothing here does I/O: each function fills a byte vector
// that the writer then hands to its output in one piece.
#ifndef POSTRUNNER_ZIP_ZIP_FORMAT_H_
#define POSTRUNNER_ZIP_ZIP_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace postrunner {

inline constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t kEndRecordSignature = 0x06054B50;
inline constexpr uint32_t kDataDescriptorSignature = 0x08074B50;

inline constexpr size_t kLocalHeaderSize = 30;     // without name and extra
inline constexpr size_t kCentralHeaderSize = 46;   // without name and extra
inline constexpr size_t kEndRecordSize = 22;
inline constexpr size_t kDataDescriptorSize = 16;
inline constexpr size_t kLocalExtraSize = 17;      // extended timestamp, 3 times
inline constexpr size_t kCentralExtraSize = 9;     // extended timestamp, 1 time

inline constexpr uint16_t kVersionMadeBy = 0x0B17;
inline constexpr uint16_t kVersionNeeded = 20;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

// Largest value a 32-bit size or offset field may hold; 0xFFFFFFFF itself
// announces a ZIP64 record to readers, so it is never written as a size.
inline constexpr uint64_t kMax32 = 0xFFFFFFFEu;
// Largest entry count and name length of the 16-bit fields.
inline constexpr uint64_t kMax16 = 0xFFFFu;

// Appends `value` as 2 or 4 little-endian bytes.
void PutLe16(std::vector<unsigned char>* out, uint16_t value);
void PutLe32(std::vector<unsigned char>* out, uint32_t value);

// Reads 2 or 4 little-endian bytes at `p`.
inline uint16_t GetLe16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Everything the local and central headers of one entry say.
struct ZipEntryRecord {
  uint16_t version_made_by = kVersionMadeBy;
  uint16_t version_needed = kVersionNeeded;
  uint16_t flags = 0;         // for the central header
  uint16_t local_flags = 0;   // for the local header
  uint16_t method = kMethodStored;
  uint32_t dos_date_time = 0; // date in the high 16 bits, time in the low
  uint32_t crc = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint32_t external_attributes = 0;
  uint32_t local_header_offset = 0;  // including the output's base offset
  int32_t modify_time = 0;    // Unix times of the extended timestamp
  int32_t access_time = 0;
  int32_t create_time = 0;
  std::string name;           // as stored, '/' between folder parts
};

// The local header, name and extended-timestamp extra field (local form);
// 30 + name length + 17 bytes.
std::vector<unsigned char> LocalHeaderBytes(const ZipEntryRecord& record);

// The central directory header, name and extra field (central form);
// 46 + name length + 9 bytes.
std::vector<unsigned char> CentralHeaderBytes(const ZipEntryRecord& record);

// The end of central directory record; `entries` must fit 16 bits and the
// size and offset 32 bits (the writer checks before it calls).
std::vector<unsigned char> EndRecordBytes(uint16_t entries, uint32_t directory_size,
                                          uint32_t directory_offset);

// The data descriptor that follows an entry's data on an output that
// cannot seek back to its header.
std::vector<unsigned char> DataDescriptorBytes(const ZipEntryRecord& record);

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_ZIP_FORMAT_H_
