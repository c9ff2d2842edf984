// An entry of unknown size that passes 4 GiB only at its end, streamed from
// a pipe into an archive on a pipe: its local header reserved 8-byte sizes,
// its data descriptor carries them, and unzip -t and Python's zipfile read
// it back. Minutes of compression: ctest label large.
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/scoped_fd.h"
#include "zip/archive.h"
#include "zip/crc32.h"
#include "zip/zip_format.h"
#include "zip_test_util.h"

namespace postrunner {
namespace {

using namespace testing_util;

constexpr uint64_t kSize = (4ull << 30) + (1 << 20);  // just past 32-bit sizes
const std::string kMark = "the end of the stream";

// Writes kSize bytes (zeros, then kMark) into `fd` and closes it; `*crc`
// becomes their CRC-32. Stops early when the reader has gone.
void Feed(ScopedFd fd, uint32_t* crc) {
  std::vector<unsigned char> block(1 << 20, 0);
  for (uint64_t left = kSize - kMark.size(); left > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    *crc = Crc32Update(*crc, block.data(), n);
    if (WriteAllNoSigpipe(fd.get(), block.data(), n) != n) return;
    left -= n;
  }
  *crc = Crc32Update(*crc, kMark.data(), kMark.size());
  // A reader that has gone finds the stream short; nothing else is to do.
  (void)WriteAllNoSigpipe(fd.get(), kMark.data(), kMark.size());
}

// Reads `fd` to its end into `*out`.
void Drain(ScopedFd fd, Bytes* out) {
  unsigned char buffer[1 << 16];
  ssize_t n;
  while ((n = ReadSome(fd.get(), buffer, sizeof buffer)) > 0) {
    out->insert(out->end(), buffer, buffer + n);
  }
}

TEST(LargeArchive, PipeTargetWithAnEntryOfUnknownSizePassing4GiB) {
  int in[2], out[2];
  ASSERT_EQ(::pipe(in), 0);
  ASSERT_EQ(::pipe(out), 0);
  ScopedFd source(in[0]), target(out[1]);
  uint32_t crc = 0;
  Bytes archive;
  std::thread feeder(Feed, ScopedFd(in[1]), &crc);
  std::thread drain(Drain, ScopedFd(out[0]), &archive);
  int source_fd = source.get(), target_fd = target.get();
  auto handle = ArchiveCreate(&target_fd, 0, TargetHandle);
  EXPECT_TRUE(handle);
  if (handle) {
    EXPECT_EQ(ArchiveAddEntry(handle.get(), "big.txt", &source_fd, 0, SourceHandle), ResultOk);
    EXPECT_EQ(ArchiveClose(std::move(handle)), ResultOk);
  }
  EXPECT_TRUE(source.Reset());
  EXPECT_TRUE(target.Reset());
  feeder.join();
  drain.join();

  ParsedArchive p = ParseArchive(archive);
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.entries.size(), 1u);
  EXPECT_EQ(p.entries[0].uncompressed, kSize);
  EXPECT_EQ(p.entries[0].crc, crc);
  EXPECT_EQ(p.entries[0].version_needed, 45);
  size_t descriptor = 30 + 7 + 37 + p.entries[0].compressed;
  ASSERT_EQ(GetLe32(&archive[descriptor]), kDataDescriptorSignature);
  EXPECT_EQ(GetLe64(&archive[descriptor + 8]), p.entries[0].compressed);
  EXPECT_EQ(GetLe64(&archive[descriptor + 16]), kSize);

  ScratchDir dir;
  std::string path = dir.Write("big.zip", std::string(archive.begin(), archive.end()));
  EXPECT_EQ(UnzipTest(path), 0);
  EXPECT_EQ(ZipfileListing(path),
            std::vector<std::string>{ListingLine("big.txt", 8, 8, kSize, crc)});
}

}  // namespace
}  // namespace postrunner
