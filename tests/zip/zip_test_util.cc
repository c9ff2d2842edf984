#include "zip_test_util.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "zip/crc32.h"
#include "zip/zip_format.h"

namespace postrunner {
namespace testing_util {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zip_test_XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  path_ = ::mkdtemp(buffer.data());
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::Write(const std::string& name, const std::string& content) const {
  std::string full = Path(name);
  std::ofstream(full, std::ios::binary) << content;
  return full;
}

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

bool FakeOutput::Truncate(uint64_t length) {
  s_->truncated_at = length;
  if (s_->bytes.size() > length) s_->bytes.resize(length);
  return true;
}

ParsedArchive ParseArchive(const Bytes& a, uint64_t base) {
  ParsedArchive p;
  if (a.size() < kEndRecordSize) {
    p.error = "shorter than an end record";
    return p;
  }
  const unsigned char* end = a.data() + a.size() - kEndRecordSize;
  if (GetLe32(end) != kEndRecordSignature) {
    p.error = "no end record at the end";
    return p;
  }
  p.count = GetLe16(end + 10);
  if (GetLe16(end + 8) != p.count) {
    p.error = "entry counts differ";
    return p;
  }
  p.directory_size = GetLe32(end + 12);
  p.directory_offset = GetLe32(end + 16);
  uint64_t at = p.directory_offset - base;
  for (int i = 0; i < p.count; ++i) {
    if (at + kCentralHeaderSize > a.size() || GetLe32(&a[at]) != kCentralHeaderSignature) {
      p.error = "bad central header " + std::to_string(i);
      return p;
    }
    const unsigned char* c = &a[at];
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
    at += kCentralHeaderSize + name_length + extra_length + GetLe16(c + 32);
    uint64_t local = e.offset - base;
    if (local + kLocalHeaderSize > a.size() || GetLe32(&a[local]) != kLocalHeaderSignature) {
      p.error = "bad local header of " + e.name;
      return p;
    }
    const unsigned char* l = &a[local];
    e.local_flags = GetLe16(l + 6);
    uint16_t local_name = GetLe16(l + 26), local_extra = GetLe16(l + 28);
    if (std::string(reinterpret_cast<const char*>(l + 30), local_name) != e.name ||
        GetLe16(l + 8) != e.method) {
      p.error = "local header disagrees for " + e.name;
      return p;
    }
    if (!(e.local_flags & kFlagDataDescriptor) &&
        (GetLe32(l + 14) != e.crc || GetLe32(l + 18) != e.compressed ||
         GetLe32(l + 22) != e.uncompressed)) {
      p.error = "local sizes disagree for " + e.name;
      return p;
    }
    e.local_extra.assign(l + 30 + local_name, l + 30 + local_name + local_extra);
    uint64_t data_at = local + kLocalHeaderSize + local_name + local_extra;
    if (data_at + e.compressed > a.size()) {
      p.error = "data of " + e.name + " runs past the end";
      return p;
    }
    e.data.assign(a.begin() + data_at, a.begin() + data_at + e.compressed);
    if (e.method == kMethodStored && Crc32Update(0, e.data.data(), e.data.size()) != e.crc) {
      p.error = "crc of " + e.name;
      return p;
    }
    p.entries.push_back(std::move(e));
  }
  if (at != p.directory_offset - base + p.directory_size || at + kEndRecordSize != a.size()) {
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
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", Crc32Update(0, data.data(), data.size()));
  return name + " " + std::to_string(method) + " " + std::to_string(flags) + " " +
         std::to_string(data.size()) + " " + crc;
}

}  // namespace testing_util
}  // namespace postrunner
