// The ZIP writer, round trip: the input describes up to eight entries (a
// name, data, and how each is added: from memory, as a folder, or from a
// file compressed ahead of its turn as the parallel folder walk does) and
// an output in memory that can seek or only go forward and may run out of
// room. The archive is read back by the small reader below, with zlib
// inflating the data.
//
// Holds: when Close reports success, the archive's end record, central
// directory and local headers agree and list exactly the entries whose
// addition succeeded, in order, each under its name with its method, size,
// CRC-32 (zlib's) and data; entries follow each other with no gap or overlap
// (their data descriptors included on an output that cannot seek), so a
// streaming reader finds them too. An output that never ran out reports
// success.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "deflate/deflate.h"
#include "fuzz_support.h"
#include "zip/compressed_entry.h"
#include "zip/zip_format.h"
#include "zip/zip_writer.h"

namespace postrunner {
namespace {

using fuzz::Shown;

// What a MemoryOutput wrote; it outlives the output, which the writer owns.
struct OutputState {
  std::string bytes;
  bool ran_out = false;  // a write did not fit
};

// An archive in memory, with room for at most `limit` bytes.
class MemoryOutput : public ZipOutput {
 public:
  MemoryOutput(OutputState* state, bool can_seek, size_t limit)
      : state_(state), bytes_(&state->bytes), can_seek_(can_seek), limit_(limit) {}
  size_t Write(const void* data, size_t length) override {
    const size_t n = position_ >= limit_ ? 0 : std::min(length, limit_ - position_);
    if (bytes_->size() < position_ + n) bytes_->resize(position_ + n);
    if (n > 0) bytes_->replace(position_, n, static_cast<const char*>(data), n);
    position_ += n;
    state_->ran_out = state_->ran_out || n < length;
    return n;
  }
  bool Seek(uint64_t position) override {
    if (!can_seek_ || position > bytes_->size()) return false;
    position_ = position;
    return true;
  }
  bool CanSeek() const override { return can_seek_; }

 private:
  OutputState* state_;
  std::string* bytes_;
  bool can_seek_;
  size_t limit_;
  size_t position_ = 0;
};

struct Expected {
  std::string name;
  uint16_t method;
  std::string data;
};

uint32_t Le32(const std::string& b, size_t at) {
  return GetLe32(reinterpret_cast<const unsigned char*>(b.data() + at));
}
uint16_t Le16(const std::string& b, size_t at) {
  return GetLe16(reinterpret_cast<const unsigned char*>(b.data() + at));
}

std::string Inflate(std::string_view compressed, size_t size) {
  z_stream z{};
  FUZZ_CHECK(inflateInit2(&z, -15) == Z_OK, "inflateInit2");
  std::string out(size + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int code = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  const bool whole = code == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  FUZZ_CHECK(whole, "deflated data does not inflate exactly");
  return out;
}

// Checks the local header of `e` at `at`, its data of `compressed` bytes
// and, when `descriptor`, the data descriptor after it. Returns the offset
// just past the entry.
size_t CheckLocalEntry(const std::string& zip, size_t at, const Expected& e, uint32_t crc,
                       size_t compressed, bool descriptor) {
  FUZZ_CHECK(at + kLocalHeaderSize <= zip.size() && Le32(zip, at) == kLocalHeaderSignature,
             "no local header at " + std::to_string(at));
  const uint16_t flags = Le16(zip, at + 6);
  const size_t name_length = Le16(zip, at + 26), extra_length = Le16(zip, at + 28);
  const size_t data_at = at + kLocalHeaderSize + name_length + extra_length;
  FUZZ_CHECK(data_at + compressed <= zip.size(), "entry data past the end");
  FUZZ_CHECK(zip.compare(at + kLocalHeaderSize, name_length, e.name) == 0,
             "local name differs for " + Shown(e.name));
  FUZZ_CHECK(Le16(zip, at + 8) == e.method, "local method differs for " + Shown(e.name));
  FUZZ_CHECK(((flags & kFlagDataDescriptor) != 0) == descriptor && (flags & kFlagEncrypted) == 0,
             "local flags " + std::to_string(flags));
  const bool zip64 = extra_length >= 4 && Le16(zip, at + kLocalHeaderSize + name_length) ==
                                              kZip64ExtraId;
  if (!descriptor) {
    FUZZ_CHECK(Le32(zip, at + 14) == crc, "local CRC of " + Shown(e.name));
    if (!zip64) {
      FUZZ_CHECK(Le32(zip, at + 18) == compressed && Le32(zip, at + 22) == e.data.size(),
                 "local sizes of " + Shown(e.name));
    }
  }
  const std::string_view data(zip.data() + data_at, compressed);
  const std::string contents = e.method == kMethodDeflated ? Inflate(data, e.data.size())
                                                           : std::string(data);
  FUZZ_CHECK(contents == e.data, "the data of " + Shown(e.name) + " differs");
  size_t end = data_at + compressed;
  if (descriptor) {
    const size_t length = zip64 ? kZip64DataDescriptorSize : kDataDescriptorSize;
    FUZZ_CHECK(end + length <= zip.size() && Le32(zip, end) == kDataDescriptorSignature &&
                   Le32(zip, end + 4) == crc,
               "data descriptor of " + Shown(e.name));
    end += length;
  }
  return end;
}

void CheckArchive(const std::string& zip, const std::vector<Expected>& entries, bool seekable) {
  FUZZ_CHECK(zip.size() >= kEndRecordSize, "archive too short");
  const size_t end = zip.size() - kEndRecordSize;
  FUZZ_CHECK(Le32(zip, end) == kEndRecordSignature, "no end record at the end");
  FUZZ_CHECK(Le16(zip, end + 10) == entries.size(),
             std::to_string(Le16(zip, end + 10)) + " entries listed, " +
                 std::to_string(entries.size()) + " added");
  const size_t directory_size = Le32(zip, end + 12), directory_at = Le32(zip, end + 16);
  FUZZ_CHECK(directory_at + directory_size == end, "the directory does not end at the end record");
  size_t at = directory_at, next_local = 0;
  for (const Expected& e : entries) {
    FUZZ_CHECK(at + kCentralHeaderSize <= end && Le32(zip, at) == kCentralHeaderSignature,
               "no central header for " + Shown(e.name));
    const uint32_t crc = Le32(zip, at + 16);
    const size_t compressed = Le32(zip, at + 20);
    const size_t name_length = Le16(zip, at + 28);
    const size_t extra_length = Le16(zip, at + 30), comment_length = Le16(zip, at + 32);
    FUZZ_CHECK(zip.compare(at + kCentralHeaderSize, name_length, e.name) == 0,
               "central name differs for " + Shown(e.name));
    FUZZ_CHECK(Le16(zip, at + 10) == e.method, "central method for " + Shown(e.name));
    FUZZ_CHECK(Le32(zip, at + 24) == e.data.size(), "central size for " + Shown(e.name));
    const uint32_t zlib_crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    FUZZ_CHECK(crc == zlib_crc, "CRC of " + Shown(e.name));
    FUZZ_CHECK(Le32(zip, at + 42) == next_local, "entry " + Shown(e.name) + " does not follow");
    next_local = CheckLocalEntry(zip, next_local, e, crc, compressed, !seekable);
    at += kCentralHeaderSize + name_length + extra_length + comment_length;
  }
  FUZZ_CHECK(at == end && next_local == directory_at, "the entries do not fill the archive");
}

// `data` in an unnamed file, the way a folder walk hands a file over.
int DataFile(const std::string& data) {
  int fd = memfd_create("entry", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0 && write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()),
             "memfd");
  return fd;
}

// Adds one entry from the file `data` compressed ahead, or read by the
// writer when the ahead step leaves it for its turn.
ArchiveResult AddAhead(ZipWriter* writer, const std::string& name, const std::string& data,
                       size_t memory_limit) {
  static Deflater deflater;
  CompressedEntry ahead(memory_limit);
  (void)ahead.file.Reset(DataFile(data));  // a new entry holds no descriptor yet
  ahead.bare_name = name;
  ahead.entry_name = EntryName(name.c_str(), true);
  const std::atomic<bool> cancel{false};
  CompressAhead(&deflater, cancel, &ahead);
  if (ahead.redo_at_turn) return writer->AddOpenFile(name.c_str(), ahead.file.get(), name);
  return writer->AddCompressed(name.c_str(), &ahead);
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  FuzzedDataProvider provider(data, size);
  const bool seekable = provider.ConsumeBool();
  const bool limited = provider.ConsumeIntegralInRange(0, 3) == 0;
  const size_t limit = limited ? provider.ConsumeIntegralInRange<size_t>(0, 4096) : SIZE_MAX;
  OutputState out;
  ZipWriter writer(std::make_unique<MemoryOutput>(&out, seekable, limit));
  std::vector<Expected> added;
  const int count = provider.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < count; ++i) {
    const int kind = provider.ConsumeIntegralInRange(0, 3);
    std::string name = provider.ConsumeRandomLengthString(40);
    if (kind == 3) name += i % 2 ? ".zip" : ".GZ";
    const std::string bytes = provider.ConsumeRandomLengthString(20000);
    const char* c_name = name.c_str();
    ArchiveResult result;
    if (kind == 1) {
      result = writer.AddEntry(c_name, nullptr, 0, SourceFolder);
    } else if (kind == 2) {
      result = AddAhead(&writer, name, bytes, provider.ConsumeIntegralInRange<size_t>(0, 9000));
    } else {
      result = writer.AddEntry(c_name, bytes.data(), static_cast<uint32_t>(bytes.size()),
                               SourceMemory);
    }
    const std::string listed = EntryName(c_name, kind != 1);
    if (!limited) {
      const bool refused = *c_name == '\0' || (kind != 1 && kind != 2 && bytes.empty());
      FUZZ_CHECK((result == ResultOk) != refused,
                 "adding " + Shown(listed) + " gave " + std::to_string(result));
    }
    if (result == ResultOk) {
      added.push_back({listed, EntryMethod(listed, kind != 1), kind == 1 ? "" : bytes});
    }
  }
  const ArchiveResult closed = writer.Close();
  FUZZ_CHECK(closed == ResultOk || out.ran_out,
             "Close failed on an output with room: " + std::to_string(closed));
  if (closed == ResultOk) CheckArchive(out.bytes, added, seekable);
  return 0;
}
