// Byte layouts of the ZIP structures this writer emits, and the
// little-endian helpers that build and read them. All multi-byte fields are
// little-endian. Nothing here does I/O: each function fills a byte vector
// that the writer then hands to its output in one piece.
//
// ZIP64 fields appear only where a value does not fit: an entry whose local
// header may have to describe 4 GiB or more carries a ZIP64 extra field
// there; a central header carries one for whichever of its sizes and offset
// do not fit 32 bits; the directory's end gets the ZIP64 end record and
// locator when the entry count, its size or its offset do not fit. An
// archive within the classic limits has no ZIP64 byte anywhere.
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
inline constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064B50;

inline constexpr size_t kLocalHeaderSize = 30;     // without name and extra
inline constexpr size_t kCentralHeaderSize = 46;   // without name and extra
inline constexpr size_t kEndRecordSize = 22;
inline constexpr size_t kDataDescriptorSize = 16;
inline constexpr size_t kZip64DataDescriptorSize = 24;  // with 8-byte sizes
inline constexpr size_t kZip64EndRecordSize = 56;
inline constexpr size_t kZip64LocatorSize = 20;
inline constexpr size_t kLocalExtraSize = 17;      // extended timestamp, 3 times
inline constexpr size_t kCentralExtraSize = 9;     // extended timestamp, 1 time
inline constexpr size_t kLocalZip64ExtraSize = 20; // ID, length, both sizes

inline constexpr uint16_t kVersionMadeBy = 0x0B17;
inline constexpr uint16_t kVersionNeeded = 20;
inline constexpr uint16_t kVersionNeededZip64 = 45;
inline constexpr uint16_t kZip64ExtraId = 0x0001;
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;

// Largest value a 32-bit size or offset field may hold; 0xFFFFFFFF itself
// tells readers to take the value from a ZIP64 field.
inline constexpr uint64_t kMax32 = 0xFFFFFFFEu;
// Largest name length of a 16-bit field, and the entry count the classic
// end record holds.
inline constexpr uint64_t kMax16 = 0xFFFFu;

[[nodiscard]] inline bool Fits32(uint64_t value) { return value <= kMax32; }

// Appends `value` as 2, 4 or 8 little-endian bytes.
void PutLe16(std::vector<unsigned char>* out, uint16_t value);
void PutLe32(std::vector<unsigned char>* out, uint32_t value);
void PutLe64(std::vector<unsigned char>* out, uint64_t value);

// Reads 2, 4 or 8 little-endian bytes at `p`.
[[nodiscard]] inline uint16_t GetLe16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
[[nodiscard]] inline uint32_t GetLe32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
[[nodiscard]] inline uint64_t GetLe64(const unsigned char* p) {
  return GetLe32(p) | (static_cast<uint64_t>(GetLe32(p + 4)) << 32);
}

// Everything the local and central headers of one entry say.
struct ZipEntryRecord {
  uint16_t flags = 0;         // for the central header
  uint16_t local_flags = 0;   // for the local header
  uint16_t method = kMethodStored;
  bool zip64_local = false;   // the local header and data descriptor carry 8-byte sizes
  uint32_t dos_date_time = 0; // date in the high 16 bits, time in the low
  uint32_t crc = 0;
  uint64_t compressed_size = 0;
  uint64_t uncompressed_size = 0;
  uint32_t external_attributes = 0;
  uint64_t local_header_offset = 0;  // including the output's base offset
  int32_t modify_time = 0;    // Unix times of the extended timestamp
  int32_t access_time = 0;
  int32_t create_time = 0;
  std::string name;           // as stored, '/' between folder parts
};

// The local header, name and extra fields: 30 + name length + 17 bytes, and
// 20 more for the ZIP64 extra field when `zip64_local` is set. Without it
// both sizes must fit 32 bits.
std::vector<unsigned char> LocalHeaderBytes(const ZipEntryRecord& record);

// The central directory header, name and extra fields: 46 + name length + 9
// bytes, plus a ZIP64 extra field (4 + 8 per value) holding the sizes and
// offset that do not fit 32 bits.
std::vector<unsigned char> CentralHeaderBytes(const ZipEntryRecord& record);

// The end of the central directory of `entries` records, `directory_size`
// bytes long, starting at `directory_offset` (including the base offset):
// the 22-byte end record, preceded by the ZIP64 end record and its locator
// when the count passes 65535 or the size or offset do not fit 32 bits; the
// end record's fields that do not fit then hold 0xFFFF or 0xFFFFFFFF.
std::vector<unsigned char> DirectoryEndBytes(uint64_t entries, uint64_t directory_size,
                                             uint64_t directory_offset);

// The data descriptor that follows an entry's data on an output that
// cannot seek back to its header: 16 bytes, or 24 with 8-byte sizes when
// the local header carries the ZIP64 extra field.
std::vector<unsigned char> DataDescriptorBytes(const ZipEntryRecord& record);

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_ZIP_FORMAT_H_
