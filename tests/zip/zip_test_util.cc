#include "zip_test_util.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>

#include "zip/crc32.h"
#include "zip/zip_format.h"

namespace postrunner {
namespace testing_util {

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

size_t FakeOutput::Write(const void* data, size_t length) {
  ++s_->writes;
  size_t take = length;
  if (s_->writes == s_->fail_write_at) {
    take = std::min(length, s_->partial);
  } else if (s_->fail_write_at != 0 && s_->fail_all_after && s_->writes > s_->fail_write_at) {
    take = 0;
  }
  if (take < length) errno = ENOSPC;  // as a full disk says
  if (s_->bytes.size() < s_->position + take) s_->bytes.resize(s_->position + take);
  if (take > 0) std::memcpy(s_->bytes.data() + s_->position, data, take);
  s_->position += take;
  return take;
}

bool FakeOutput::Seek(uint64_t position) {
  ++s_->seeks;
  if (!s_->can_seek || s_->seeks == s_->fail_seek_at) return false;
  s_->position = position;
  return true;
}

namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFFu;

// Replaces each field that holds 0xFFFFFFFF by the next value of the ZIP64
// block in `extra`. False when that block is missing or too short.
bool ApplyZip64(const Bytes& extra, std::initializer_list<uint64_t*> fields) {
  size_t at = 0;
  while (at + 4 <= extra.size() && GetLe16(&extra[at]) != kZip64ExtraId) {
    at += 4 + GetLe16(&extra[at + 2]);
  }
  size_t end = at + 4 <= extra.size() ? at + 4 + GetLe16(&extra[at + 2]) : 0;
  at += 4;
  for (uint64_t* field : fields) {
    if (*field != kAllOnes) continue;
    if (at + 8 > end || end > extra.size()) return false;
    *field = GetLe64(&extra[at]);
    at += 8;
  }
  return true;
}

// Reads the end record at the end of `a` and the ZIP64 end record its
// locator points to, if any.
bool ParseEnd(const Bytes& a, uint64_t base, ParsedArchive* p) {
  if (a.size() < kEndRecordSize) return false;
  const unsigned char* end = a.data() + a.size() - kEndRecordSize;
  if (GetLe32(end) != kEndRecordSignature || GetLe16(end + 8) != GetLe16(end + 10)) {
    return false;
  }
  p->count = GetLe16(end + 10);
  p->directory_size = GetLe32(end + 12);
  p->directory_offset = GetLe32(end + 16);
  const size_t tail = kZip64EndRecordSize + kZip64LocatorSize + kEndRecordSize;
  if (a.size() < tail || GetLe32(end - kZip64LocatorSize) != kZip64LocatorSignature) {
    return true;
  }
  const unsigned char* z = a.data() + a.size() - tail;
  if (GetLe64(end - kZip64LocatorSize + 8) != base + (a.size() - tail) ||
      GetLe32(z) != kZip64EndRecordSignature || GetLe64(z + 24) != GetLe64(z + 32)) {
    return false;
  }
  // The classic fields hold the value, or all ones when it does not fit.
  uint64_t count = GetLe64(z + 32), size = GetLe64(z + 40), offset = GetLe64(z + 48);
  if (p->count != std::min<uint64_t>(count, 0xFFFF) ||
      p->directory_size != (Fits32(size) ? size : kAllOnes) ||
      p->directory_offset != (Fits32(offset) ? offset : kAllOnes)) {
    return false;
  }
  p->zip64_end = true;
  p->count = count;
  p->directory_size = size;
  p->directory_offset = offset;
  return true;
}

// Reads the central header at `c`; `*next` becomes the position after it.
ParsedEntry ParseCentral(const unsigned char* c, size_t* next) {
  ParsedEntry e;
  e.version_made_by = GetLe16(c + 4);
  e.version_needed = GetLe16(c + 6);
  e.flags = GetLe16(c + 8);
  e.method = GetLe16(c + 10);
  e.dos_date_time = GetLe16(c + 12) | (static_cast<uint32_t>(GetLe16(c + 14)) << 16);
  e.crc = GetLe32(c + 16);
  e.compressed = GetLe32(c + 20);
  e.uncompressed = GetLe32(c + 24);
  uint16_t name_length = GetLe16(c + 28), extra_length = GetLe16(c + 30);
  e.external_attributes = GetLe32(c + 38);
  e.offset = GetLe32(c + 42);
  e.name.assign(reinterpret_cast<const char*>(c + 46), name_length);
  e.central_extra.assign(c + 46 + name_length, c + 46 + name_length + extra_length);
  *next += kCentralHeaderSize + name_length + extra_length + GetLe16(c + 32);
  return e;
}

// Checks the local header of `e` against it and reads its data. Returns
// an error text, empty when all agrees.
std::string CheckLocal(const Bytes& a, uint64_t base, ParsedEntry* e) {
  uint64_t local = e->offset - base;
  if (local + kLocalHeaderSize > a.size() || GetLe32(&a[local]) != kLocalHeaderSignature) {
    return "bad local header of " + e->name;
  }
  const unsigned char* l = &a[local];
  e->local_flags = GetLe16(l + 6);
  uint16_t local_name = GetLe16(l + 26), local_extra = GetLe16(l + 28);
  if (std::string(reinterpret_cast<const char*>(l + 30), local_name) != e->name ||
      GetLe16(l + 8) != e->method) {
    return "local header disagrees for " + e->name;
  }
  e->local_extra.assign(l + 30 + local_name, l + 30 + local_name + local_extra);
  uint64_t compressed = GetLe32(l + 18), uncompressed = GetLe32(l + 22);
  if (!ApplyZip64(e->local_extra, {&uncompressed, &compressed})) {
    return "no ZIP64 sizes in the local header of " + e->name;
  }
  if (!(e->local_flags & kFlagDataDescriptor) &&
      (GetLe32(l + 14) != e->crc || compressed != e->compressed ||
       uncompressed != e->uncompressed)) {
    return "local sizes disagree for " + e->name;
  }
  uint64_t data_at = local + kLocalHeaderSize + local_name + local_extra;
  if (data_at + e->compressed > a.size()) return "data of " + e->name + " runs past the end";
  e->data.assign(a.begin() + data_at, a.begin() + data_at + e->compressed);
  if (e->method == kMethodStored && Crc32Update(0, e->data.data(), e->data.size()) != e->crc) {
    return "crc of " + e->name;
  }
  return "";
}

}  // namespace

ParsedArchive ParseArchive(const Bytes& a, uint64_t base) {
  ParsedArchive p;
  if (!ParseEnd(a, base, &p)) {
    p.error = "no valid end records at the end";
    return p;
  }
  size_t at = p.directory_offset - base;
  for (uint64_t i = 0; i < p.count; ++i) {
    if (at + kCentralHeaderSize > a.size() || GetLe32(&a[at]) != kCentralHeaderSignature) {
      p.error = "bad central header " + std::to_string(i);
      return p;
    }
    ParsedEntry e = ParseCentral(&a[at], &at);
    if (!ApplyZip64(e.central_extra, {&e.uncompressed, &e.compressed, &e.offset})) {
      p.error = "no ZIP64 field in the central header of " + e.name;
      return p;
    }
    p.error = CheckLocal(a, base, &e);
    if (!p.error.empty()) return p;
    p.entries.push_back(std::move(e));
  }
  size_t tail = kEndRecordSize + (p.zip64_end ? kZip64EndRecordSize + kZip64LocatorSize : 0);
  if (at != p.directory_offset - base + p.directory_size || at + tail != a.size()) {
    p.error = "central directory size or position is off";
    return p;
  }
  p.ok = true;
  return p;
}

int UnzipTest(const std::string& path) {
  std::string command = "unzip -tq '" + path + "' >/dev/null 2>&1";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> ZipfileListing(const std::string& path) {
  std::string command = "/usr/bin/python3 '" ZIP_DUMP_SCRIPT "' '" + path + "'";
  std::vector<std::string> lines;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {"ERROR popen"};
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  ::pclose(pipe);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ListingLine(const std::string& name, int method, int flags, const Bytes& data) {
  return ListingLine(name, method, flags, data.size(), Crc32Update(0, data.data(), data.size()));
}

std::string ListingLine(const std::string& name, int method, int flags, uint64_t size,
                        uint32_t crc) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", crc);
  return name + " " + std::to_string(method) + " " + std::to_string(flags) + " " +
         std::to_string(size) + " " + hex;
}

}  // namespace testing_util
}  // namespace postrunner
