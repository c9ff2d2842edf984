#include "zip/zip_format.h"

namespace postrunner {
namespace {

constexpr uint32_t kAllOnes32 = 0xFFFFFFFFu;
constexpr uint16_t kAllOnes16 = 0xFFFFu;

void PutName(std::vector<unsigned char>* out, const std::string& name) {
  out->insert(out->end(), name.begin(), name.end());
}

// A 32-bit size or offset field: the value, or all ones when it is given in
// a ZIP64 field instead.
[[nodiscard]] uint32_t Field32(uint64_t value) {
  return Fits32(value) ? static_cast<uint32_t>(value) : kAllOnes32;
}

// Extended timestamp: ID "UT", data size, flags 0x07 (modification, access
// and creation times present), then the times the form carries.
void PutTimestamp(std::vector<unsigned char>* out, const ZipEntryRecord& r, bool local) {
  PutLe16(out, 0x5455);
  PutLe16(out, local ? 13 : 5);
  out->push_back(0x07);
  PutLe32(out, static_cast<uint32_t>(r.modify_time));
  if (local) {
    PutLe32(out, static_cast<uint32_t>(r.access_time));
    PutLe32(out, static_cast<uint32_t>(r.create_time));
  }
}

// The values of a central header's ZIP64 extra field, in the order the
// format fixes: uncompressed size, compressed size, local header offset,
// each only when its 32-bit field cannot hold it.
std::vector<uint64_t> CentralZip64Values(const ZipEntryRecord& r) {
  std::vector<uint64_t> values;
  for (uint64_t v : {r.uncompressed_size, r.compressed_size, r.local_header_offset}) {
    if (!Fits32(v)) values.push_back(v);
  }
  return values;
}

void PutZip64Extra(std::vector<unsigned char>* out, const std::vector<uint64_t>& values) {
  PutLe16(out, kZip64ExtraId);
  PutLe16(out, static_cast<uint16_t>(8 * values.size()));
  for (uint64_t v : values) PutLe64(out, v);
}

// ZIP64 end of central directory record (56 bytes) and its locator (20).
void PutZip64End(std::vector<unsigned char>* out, uint64_t entries, uint64_t size,
                 uint64_t offset) {
  PutLe32(out, kZip64EndRecordSignature);
  PutLe64(out, kZip64EndRecordSize - 12);  // the bytes after this field
  PutLe16(out, kVersionMadeBy);
  PutLe16(out, kVersionNeededZip64);
  PutLe32(out, 0);  // this disk
  PutLe32(out, 0);  // disk of the central directory
  PutLe64(out, entries);
  PutLe64(out, entries);
  PutLe64(out, size);
  PutLe64(out, offset);
  PutLe32(out, kZip64LocatorSignature);
  PutLe32(out, 0);              // disk of the ZIP64 end record
  PutLe64(out, offset + size);  // it follows the central directory
  PutLe32(out, 1);              // total disks
}

}  // namespace

void PutLe16(std::vector<unsigned char>* out, uint16_t value) {
  out->push_back(static_cast<unsigned char>(value));
  out->push_back(static_cast<unsigned char>(value >> 8));
}

void PutLe32(std::vector<unsigned char>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out->push_back(static_cast<unsigned char>(value >> shift));
  }
}

void PutLe64(std::vector<unsigned char>* out, uint64_t value) {
  PutLe32(out, static_cast<uint32_t>(value));
  PutLe32(out, static_cast<uint32_t>(value >> 32));
}

std::vector<unsigned char> LocalHeaderBytes(const ZipEntryRecord& r) {
  const size_t extra = kLocalExtraSize + (r.zip64_local ? kLocalZip64ExtraSize : 0);
  std::vector<unsigned char> out;
  out.reserve(kLocalHeaderSize + r.name.size() + extra);
  PutLe32(&out, kLocalHeaderSignature);
  PutLe16(&out, r.zip64_local ? kVersionNeededZip64 : kVersionNeeded);
  PutLe16(&out, r.local_flags);
  PutLe16(&out, r.method);
  PutLe16(&out, static_cast<uint16_t>(r.dos_date_time));
  PutLe16(&out, static_cast<uint16_t>(r.dos_date_time >> 16));
  PutLe32(&out, r.crc);
  // With the ZIP64 extra field both sizes live there, whatever their value.
  PutLe32(&out, r.zip64_local ? kAllOnes32 : static_cast<uint32_t>(r.compressed_size));
  PutLe32(&out, r.zip64_local ? kAllOnes32 : static_cast<uint32_t>(r.uncompressed_size));
  PutLe16(&out, static_cast<uint16_t>(r.name.size()));
  PutLe16(&out, static_cast<uint16_t>(extra));
  PutName(&out, r.name);
  if (r.zip64_local) PutZip64Extra(&out, {r.uncompressed_size, r.compressed_size});
  PutTimestamp(&out, r, true);
  return out;
}

std::vector<unsigned char> CentralHeaderBytes(const ZipEntryRecord& r) {
  const std::vector<uint64_t> zip64 = CentralZip64Values(r);
  const size_t extra = kCentralExtraSize + (zip64.empty() ? 0 : 4 + 8 * zip64.size());
  std::vector<unsigned char> out;
  out.reserve(kCentralHeaderSize + r.name.size() + extra);
  PutLe32(&out, kCentralHeaderSignature);
  PutLe16(&out, kVersionMadeBy);
  PutLe16(&out, r.zip64_local || !zip64.empty() ? kVersionNeededZip64 : kVersionNeeded);
  PutLe16(&out, r.flags);
  PutLe16(&out, r.method);
  PutLe16(&out, static_cast<uint16_t>(r.dos_date_time));
  PutLe16(&out, static_cast<uint16_t>(r.dos_date_time >> 16));
  PutLe32(&out, r.crc);
  PutLe32(&out, Field32(r.compressed_size));
  PutLe32(&out, Field32(r.uncompressed_size));
  PutLe16(&out, static_cast<uint16_t>(r.name.size()));
  PutLe16(&out, static_cast<uint16_t>(extra));
  PutLe16(&out, 0);  // comment length
  PutLe16(&out, 0);  // disk number start
  PutLe16(&out, 0);  // internal attributes
  PutLe32(&out, r.external_attributes);
  PutLe32(&out, Field32(r.local_header_offset));
  PutName(&out, r.name);
  if (!zip64.empty()) PutZip64Extra(&out, zip64);
  PutTimestamp(&out, r, false);
  return out;
}

std::vector<unsigned char> DirectoryEndBytes(uint64_t entries, uint64_t directory_size,
                                             uint64_t directory_offset) {
  const bool zip64 =
      entries > kMax16 || !Fits32(directory_size) || !Fits32(directory_offset);
  const uint16_t count = entries > kMax16 ? kAllOnes16 : static_cast<uint16_t>(entries);
  std::vector<unsigned char> out;
  out.reserve(kEndRecordSize + (zip64 ? kZip64EndRecordSize + kZip64LocatorSize : 0));
  if (zip64) PutZip64End(&out, entries, directory_size, directory_offset);
  PutLe32(&out, kEndRecordSignature);
  PutLe16(&out, 0);  // this disk
  PutLe16(&out, 0);  // disk of the central directory
  PutLe16(&out, count);
  PutLe16(&out, count);
  PutLe32(&out, Field32(directory_size));
  PutLe32(&out, Field32(directory_offset));
  PutLe16(&out, 0);  // comment length
  return out;
}

std::vector<unsigned char> DataDescriptorBytes(const ZipEntryRecord& r) {
  std::vector<unsigned char> out;
  out.reserve(r.zip64_local ? kZip64DataDescriptorSize : kDataDescriptorSize);
  PutLe32(&out, kDataDescriptorSignature);
  PutLe32(&out, r.crc);
  if (r.zip64_local) {
    PutLe64(&out, r.compressed_size);
    PutLe64(&out, r.uncompressed_size);
  } else {
    PutLe32(&out, static_cast<uint32_t>(r.compressed_size));
    PutLe32(&out, static_cast<uint32_t>(r.uncompressed_size));
  }
  return out;
}

}  // namespace postrunner
