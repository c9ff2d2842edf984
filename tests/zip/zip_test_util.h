// Test helpers for the archive writer: a scratch folder, whole-file reads,
// a fake output that fails on demand, a small parser of finished archives,
// and the external readers (unzip -t, Python's zipfile) as black boxes.
#ifndef POSTRUNNER_TESTS_ZIP_ZIP_TEST_UTIL_H_
#define POSTRUNNER_TESTS_ZIP_ZIP_TEST_UTIL_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "test_support/temp_dir.h"
#include "zip/zip_output.h"

namespace postrunner {
namespace testing_util {

using Bytes = std::vector<unsigned char>;

// A fresh folder under the test temp dir, removed when the object dies.
using ScratchDir = ::postrunner::TempDir;

Bytes ReadWholeFile(const std::string& path);
Bytes ToBytes(const std::string& text);

// What a FakeOutput did, shared with the test after the writer owns it.
struct FakeState {
  Bytes bytes;              // the output as written (with seeks applied)
  uint64_t position = 0;
  int writes = 0;
  int seeks = 0;
  int fail_write_at = 0;    // 1-based write call that fails; 0 = never
  size_t partial = 0;       // bytes the failing write still takes
  bool fail_all_after = false;  // every write after the failing one fails too
  int fail_seek_at = 0;     // 1-based seek call that fails; 0 = never
  bool can_seek = true;
  uint64_t base = 0;
  bool finished = false;
};

class FakeOutput : public ZipOutput {
 public:
  explicit FakeOutput(std::shared_ptr<FakeState> state) : s_(std::move(state)) {}
  size_t Write(const void* data, size_t length) override;
  bool Seek(uint64_t position) override;
  bool CanSeek() const override { return s_->can_seek; }
  uint64_t BaseOffset() const override { return s_->base; }
  bool Finish() override {
    s_->finished = true;
    return true;
  }

 private:
  std::shared_ptr<FakeState> s_;
};

// One entry as the central directory lists it (sizes and offset from its
// ZIP64 extra field where the 32-bit fields hold 0xFFFFFFFF), checked
// against its local header.
struct ParsedEntry {
  std::string name;
  uint16_t version_made_by = 0, version_needed = 0;
  uint16_t flags = 0, local_flags = 0, method = 0;
  uint32_t dos_date_time = 0, crc = 0;
  uint64_t compressed = 0, uncompressed = 0, offset = 0;
  uint32_t external_attributes = 0;
  Bytes central_extra, local_extra;
  Bytes data;  // the compressed bytes behind the local header
};

struct ParsedArchive {
  bool ok = false;
  std::string error;
  bool zip64_end = false;  // a ZIP64 end record and locator precede the end record
  uint64_t count = 0, directory_size = 0, directory_offset = 0;
  std::vector<ParsedEntry> entries;
};

// Parses `archive`, whose first byte sits at `base` in the output, from its
// end record (which must end the bytes exactly), following ZIP64 records.
ParsedArchive ParseArchive(const Bytes& archive, uint64_t base = 0);

// Exit status of `unzip -tq path` (0 = no errors).
int UnzipTest(const std::string& path);

// Python's zipfile reading `path`: one line per entry, "name method flags
// size crc32" with the crc computed by Python over the bytes it read back,
// or "ERROR ..." when it cannot read the archive.
std::vector<std::string> ZipfileListing(const std::string& path);

// "name method flags size crc32" as ZipfileListing prints it, for `data`
// or for `size` bytes of CRC `crc`.
std::string ListingLine(const std::string& name, int method, int flags, const Bytes& data);
std::string ListingLine(const std::string& name, int method, int flags, uint64_t size,
                        uint32_t crc);

}  // namespace testing_util
}  // namespace postrunner

#endif  // POSTRUNNER_TESTS_ZIP_ZIP_TEST_UTIL_H_
