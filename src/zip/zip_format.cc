#include "zip/zip_format.h"

namespace postrunner {
namespace {

void PutName(std::vector<unsigned char>* out, const std::string& name) {
  out->insert(out->end(), name.begin(), name.end());
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

std::vector<unsigned char> LocalHeaderBytes(const ZipEntryRecord& r) {
  std::vector<unsigned char> out;
  out.reserve(kLocalHeaderSize + r.name.size() + kLocalExtraSize);
  PutLe32(&out, kLocalHeaderSignature);
  PutLe16(&out, r.version_needed);
  PutLe16(&out, r.local_flags);
  PutLe16(&out, r.method);
  PutLe16(&out, static_cast<uint16_t>(r.dos_date_time));
  PutLe16(&out, static_cast<uint16_t>(r.dos_date_time >> 16));
  PutLe32(&out, r.crc);
  PutLe32(&out, r.compressed_size);
  PutLe32(&out, r.uncompressed_size);
  PutLe16(&out, static_cast<uint16_t>(r.name.size()));
  PutLe16(&out, static_cast<uint16_t>(kLocalExtraSize));
  PutName(&out, r.name);
  PutTimestamp(&out, r, true);
  return out;
}

std::vector<unsigned char> CentralHeaderBytes(const ZipEntryRecord& r) {
  std::vector<unsigned char> out;
  out.reserve(kCentralHeaderSize + r.name.size() + kCentralExtraSize);
  PutLe32(&out, kCentralHeaderSignature);
  PutLe16(&out, r.version_made_by);
  PutLe16(&out, r.version_needed);
  PutLe16(&out, r.flags);
  PutLe16(&out, r.method);
  PutLe16(&out, static_cast<uint16_t>(r.dos_date_time));
  PutLe16(&out, static_cast<uint16_t>(r.dos_date_time >> 16));
  PutLe32(&out, r.crc);
  PutLe32(&out, r.compressed_size);
  PutLe32(&out, r.uncompressed_size);
  PutLe16(&out, static_cast<uint16_t>(r.name.size()));
  PutLe16(&out, static_cast<uint16_t>(kCentralExtraSize));
  PutLe16(&out, 0);  // comment length
  PutLe16(&out, 0);  // disk number start
  PutLe16(&out, 0);  // internal attributes
  PutLe32(&out, r.external_attributes);
  PutLe32(&out, r.local_header_offset);
  PutName(&out, r.name);
  PutTimestamp(&out, r, false);
  return out;
}

std::vector<unsigned char> EndRecordBytes(uint16_t entries, uint32_t directory_size,
                                          uint32_t directory_offset) {
  std::vector<unsigned char> out;
  out.reserve(kEndRecordSize);
  PutLe32(&out, kEndRecordSignature);
  PutLe16(&out, 0);  // this disk
  PutLe16(&out, 0);  // disk of the central directory
  PutLe16(&out, entries);
  PutLe16(&out, entries);
  PutLe32(&out, directory_size);
  PutLe32(&out, directory_offset);
  PutLe16(&out, 0);  // comment length
  return out;
}

std::vector<unsigned char> DataDescriptorBytes(const ZipEntryRecord& r) {
  std::vector<unsigned char> out;
  out.reserve(kDataDescriptorSize);
  PutLe32(&out, kDataDescriptorSignature);
  PutLe32(&out, r.crc);
  PutLe32(&out, r.compressed_size);
  PutLe32(&out, r.uncompressed_size);
  return out;
}

}  // namespace postrunner
