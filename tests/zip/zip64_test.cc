// ZIP64 records laid out byte by byte on fake outputs: offsets past 4 GiB
// (an output that pretends the archive starts just below 4 GiB), a source
// of unknown size on outputs that can and cannot seek, more than 65535
// entries, and the limits ZIP64 cannot lift.
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/scoped_fd.h"
#include "zip/zip_format.h"
#include "zip/zip_writer.h"
#include "zip_test_util.h"

namespace postrunner {
namespace {

using testing_util::Bytes;
using testing_util::FakeOutput;
using testing_util::FakeState;
using testing_util::ListingLine;
using testing_util::ParseArchive;
using testing_util::ParsedArchive;
using testing_util::ParsedEntry;
using testing_util::ScratchDir;
using testing_util::ToBytes;
using testing_util::UnzipTest;
using testing_util::ZipfileListing;

TEST(Zip64, OffsetsPast4GiBGetZip64FieldsAndEndRecords) {
  auto state = std::make_shared<FakeState>();
  state->base = 0xFFFFFF00u;  // the archive starts 256 bytes below 4 GiB
  ZipWriter writer(std::make_unique<FakeOutput>(state));
  std::string data(300, 'd');
  ASSERT_EQ(writer.AddEntry("a.gz", "tiny", 4, SourceMemory), ResultOk);
  ASSERT_EQ(writer.AddEntry("b.gz", data.data(), data.size(), SourceMemory), ResultOk);
  ASSERT_EQ(writer.AddEntry("c.gz", "x", 1, SourceMemory), ResultOk);  // at 4 GiB + 150
  ASSERT_EQ(writer.Close(), ResultOk);
  ParsedArchive p = ParseArchive(state->bytes, state->base);
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.entries.size(), 3u);
  EXPECT_EQ(p.entries[2].offset, 0x100000096u);
  const Bytes& a = state->bytes;
  // Central headers: a.gz and b.gz fit the classic fields, c.gz's offset
  // goes into a ZIP64 extra field ahead of the timestamp.
  const size_t directory = 55 + 351 + 52;
  EXPECT_EQ(GetLe16(&a[directory + 6]), 20);
  EXPECT_EQ(GetLe16(&a[directory + 30]), 9);
  const size_t c = directory + 2 * 59;
  EXPECT_EQ(GetLe16(&a[c + 6]), 45);
  EXPECT_EQ(GetLe32(&a[c + 20]), 1u);  // sizes fit
  EXPECT_EQ(GetLe32(&a[c + 24]), 1u);
  EXPECT_EQ(GetLe16(&a[c + 30]), 21);
  EXPECT_EQ(GetLe32(&a[c + 42]), 0xFFFFFFFFu);
  EXPECT_EQ(Bytes(a.begin() + c + 50, a.begin() + c + 62),
            (Bytes{0x01, 0x00, 0x08, 0x00, 0x96, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(GetLe16(&a[c + 62]), 0x5455);
  // The directory (189 bytes) starts at 4 GiB + 0xCA: ZIP64 end record,
  // locator, and an end record whose offset field defers to them.
  const Bytes end_records = {
      0x50, 0x4B, 0x06, 0x06, 44, 0, 0, 0, 0, 0, 0, 0,  // signature, bytes that follow
      0x17, 0x0B, 45, 0, 0, 0, 0, 0, 0, 0, 0, 0,        // made by, needed, disks
      3, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0,   // entries here and in total
      189, 0, 0, 0, 0, 0, 0, 0, 0xCA, 0, 0, 0, 1, 0, 0, 0,  // size, offset
      0x50, 0x4B, 0x06, 0x07, 0, 0, 0, 0,               // locator, its disk
      0x87, 0x01, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0,         // ZIP64 end at, disks
      0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 3, 0, 3, 0,   // end record
      189, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
  ASSERT_EQ(a.size(), directory + 189 + end_records.size());
  EXPECT_EQ(Bytes(a.end() - end_records.size(), a.end()), end_records);
}

// A pipe holding `text`, closed for writing, as a source of unknown size.
ScopedFd PipeSource(const std::string& text) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  ScopedFd read_end(fds[0]), write_end(fds[1]);
  EXPECT_EQ(::write(write_end.get(), text.data(), text.size()),
            static_cast<ssize_t>(text.size()));
  return read_end;
}

TEST(Zip64, ASourceOfUnknownSizeReservesZip64SizesInItsLocalHeader) {
  for (bool can_seek : {true, false}) {
    SCOPED_TRACE(can_seek ? "seekable" : "streamed");
    auto state = std::make_shared<FakeState>();
    state->can_seek = can_seek;
    ZipWriter writer(std::make_unique<FakeOutput>(state));
    ScopedFd source = PipeSource("xyz");
    int raw = source.get();
    ASSERT_EQ(writer.AddEntry("u.txt", &raw, 0, SourceHandle), ResultOk);
    ASSERT_EQ(writer.Close(), ResultOk);
    const Bytes& a = state->bytes;
    ParsedArchive p = ParseArchive(a);
    ASSERT_TRUE(p.ok) << p.error;
    const ParsedEntry& e = p.entries[0];
    EXPECT_EQ(GetLe16(&a[4]), 45);
    EXPECT_EQ(GetLe16(&a[6]), can_seek ? 0x0002 : 0x0008);
    EXPECT_EQ(GetLe32(&a[18]), 0xFFFFFFFFu);
    EXPECT_EQ(GetLe32(&a[22]), 0xFFFFFFFFu);
    EXPECT_EQ(GetLe16(&a[28]), 37);
    EXPECT_EQ(GetLe16(&a[35]), 0x0001);  // ZIP64: uncompressed, then compressed size
    EXPECT_EQ(GetLe16(&a[37]), 16);
    EXPECT_EQ(GetLe64(&a[39]), can_seek ? 3u : 0u);
    EXPECT_EQ(GetLe64(&a[47]), can_seek ? e.compressed : 0u);
    EXPECT_EQ(GetLe16(&a[55]), 0x5455);
    // The central header needs no ZIP64 field for sizes that fit.
    EXPECT_EQ(e.version_needed, 45);
    EXPECT_EQ(e.uncompressed, 3u);
    EXPECT_EQ(e.central_extra.size(), 9u);
    const size_t after = 30 + 5 + 37 + e.compressed;
    if (can_seek) {
      EXPECT_EQ(GetLe32(&a[after]), kCentralHeaderSignature);
    } else {
      EXPECT_EQ(GetLe32(&a[after]), kDataDescriptorSignature);
      EXPECT_EQ(GetLe32(&a[after + 4]), e.crc);
      EXPECT_EQ(GetLe64(&a[after + 8]), e.compressed);
      EXPECT_EQ(GetLe64(&a[after + 16]), 3u);
      EXPECT_EQ(GetLe32(&a[after + 24]), kCentralHeaderSignature);
    }
    ScratchDir dir;
    std::string path = dir.Path("u.zip");
    dir.Write("u.zip", std::string(a.begin(), a.end()));
    EXPECT_EQ(UnzipTest(path), 0);
    EXPECT_EQ(ZipfileListing(path), std::vector<std::string>{ListingLine(
                                        "u.txt", 8, can_seek ? 2 : 8, ToBytes("xyz"))});
  }
}

TEST(Zip64, EntryCountPast65535AndTheLimitsLeft) {
  auto state = std::make_shared<FakeState>();
  ZipWriter writer(std::make_unique<FakeOutput>(state));
  std::string long_name = std::string(65533, 'n') + ".gz";  // 65536 bytes
  EXPECT_EQ(writer.AddEntry(long_name.c_str(), "x", 1, SourceMemory), ErrTooLarge);
  long_name.erase(0, 1);
  EXPECT_EQ(writer.AddEntry(long_name.c_str(), "x", 1, SourceMemory), ResultOk);
  std::string folder_name(65534, 'f');
  EXPECT_EQ(writer.AddEntry(folder_name.c_str(), nullptr, 0, SourceFolder), ResultOk);  // + '/'
  folder_name += "f";
  EXPECT_EQ(writer.AddEntry(folder_name.c_str(), nullptr, 0, SourceFolder), ErrTooLarge);
  for (int i = 2; i < 65537; ++i) {
    ASSERT_EQ(writer.AddEntry(("e" + std::to_string(i) + ".gz").c_str(), "x", 1, SourceMemory),
              ResultOk);
  }
  ASSERT_EQ(writer.Close(), ResultOk);
  ParsedArchive p = ParseArchive(state->bytes);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.zip64_end);
  EXPECT_EQ(p.count, 65537u);
  // 65535 entries still fit the classic end record.
  EXPECT_EQ(DirectoryEndBytes(65535, kMax32, kMax32).size(), kEndRecordSize);
  EXPECT_EQ(DirectoryEndBytes(65536, 0, 0).size(),
            kZip64EndRecordSize + kZip64LocatorSize + kEndRecordSize);
}

}  // namespace
}  // namespace postrunner
