// Entry sources: CRC, stored extensions, attributes, times and the ways a
// source refuses to open or stops reading.
#include "zip/entry_source.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/scoped_fd.h"
#include "zip/crc32.h"
#include "zip/zip_time.h"
#include "zip_test_util.h"

namespace postrunner {
namespace {

using testing_util::ScratchDir;

// Sets TZ for one test and restores it afterwards.
class ScopedTz {
 public:
  explicit ScopedTz(const char* zone) {
    const char* old = ::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTz() {
    if (had_) {
      ::setenv("TZ", old_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(Crc32, KnownValuesAndChunking) {
  EXPECT_EQ(Crc32Update(0, "abc", 3), 0x352441C2u);
  EXPECT_EQ(Crc32Update(0, "", 0), 0u);
  EXPECT_EQ(Crc32Update(0, nullptr, 5), 0u);
  EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);
  std::string text = "The quick brown fox jumps over the lazy dog, twice over.";
  uint32_t whole = Crc32Update(0, text.data(), text.size());
  for (size_t split = 0; split <= text.size(); ++split) {
    uint32_t part = Crc32Update(0, text.data(), split);
    EXPECT_EQ(Crc32Update(part, text.data() + split, text.size() - split), whole) << split;
  }
}

// The eight-bytes-at-a-time CRC against the plain bit-by-bit definition,
// over every length and alignment around the eight-byte steps.
TEST(Crc32, MatchesBitwiseDefinitionAtAnyLengthAndAlignment) {
  std::vector<unsigned char> data(300);
  uint32_t seed = 12345;
  for (unsigned char& b : data) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<unsigned char>(seed >> 16);
  }
  auto bitwise = [](const unsigned char* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
      c ^= p[i];
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
  };
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t n = 0; n + offset <= data.size(); n += (n < 40 ? 1 : 37)) {
      EXPECT_EQ(Crc32Update(0, data.data() + offset, n), bitwise(data.data() + offset, n))
          << offset << " " << n;
    }
  }
}

TEST(HasStoredExtension, ComparesTheTailAfterTheLastDot) {
  for (const char* stored : {"a.gz", "b.Tgz", "c.z", "docs.zoo/readme.ARJ", "x.LZH", ".zip",
                             "A.ZIP", "old.arc", "f.Z"}) {
    EXPECT_TRUE(HasStoredExtension(stored)) << stored;
  }
  for (const char* deflated : {"a.zip.bak", "archive", "file.tar", "a.zip.txt", "zip",
                               "dir.zip/file", "a.gzip", ""}) {
    EXPECT_FALSE(HasStoredExtension(deflated)) << deflated;
  }
}

TEST(ZipTime, UnixTimesClampKeepingTheTimeOfDay) {
  EXPECT_EQ(ClampedUnixTime(0), 0);
  EXPECT_EQ(ClampedUnixTime(1700000000), 1700000000);
  // 1969-12-31 13:14:15 UTC -> 1970-01-01 13:14:15
  EXPECT_EQ(ClampedUnixTime(-86400 + 13 * 3600 + 14 * 60 + 15), 13 * 3600 + 14 * 60 + 15);
  // 2040-06-01 08:00:00 UTC (2222121600 + 8 h) -> 2037-12-31 08:00:00
  EXPECT_EQ(ClampedUnixTime(2222121600LL + 8 * 3600), 2145830400 + 8 * 3600);
  EXPECT_EQ(ClampedUnixTime(2145916799), 2145916799);  // last second kept
}

TEST(ZipTime, DosDateTimeFieldsAndClamping) {
  LocalTime t;
  t.year = 2024, t.month = 2, t.day = 29, t.hour = 13, t.minute = 45, t.second = 31;
  uint32_t v = DosDateTime(t);
  EXPECT_EQ(v >> 16, (44u << 9) | (2u << 5) | 29u);
  EXPECT_EQ(v & 0xFFFF, (13u << 11) | (45u << 5) | 15u);
  t.year = 1975;
  EXPECT_EQ(DosDateTime(t), ((0u << 9 | 1u << 5 | 1u) << 16));
  t.year = 2200;
  EXPECT_EQ(DosDateTime(t), ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u));
}

TEST(Metadata, AttributesOfDiskFiles) {
  FileInfo info;
  info.is_regular = true;
  info.mode = S_IFREG | 0644;
  info.owner_read = info.owner_write = true;
  EXPECT_EQ(DiskFileMetadata(info, "plain.txt").external_attributes, 0x81800020u);
  info.mode = S_IFREG | 0444;
  info.owner_write = false;
  EXPECT_EQ(DiskFileMetadata(info, "ro.txt").external_attributes, 0x81000021u);
  info.mode = S_IFREG | 0755;
  info.owner_write = info.owner_execute = true;
  EXPECT_EQ(DiskFileMetadata(info, "run.sh").external_attributes, 0x81C00020u);
  info.mode = S_IFREG | 0644;
  info.owner_execute = false;
  EXPECT_EQ(DiskFileMetadata(info, ".profile").external_attributes, 0x81800022u);
}

TEST(Metadata, FileTimesAreTrueUtcInstantsWhateverTheZone) {
  ScopedTz zone("EST5");  // UTC-5
  FileInfo info;
  info.is_regular = true;
  info.mode = S_IFREG | 0644;
  info.modify_time = 1720000000;  // 2024-07-03 09:46:40 UTC
  info.access_time = 1720000100;
  info.create_time = -100000;      // before 1970
  EntryMetadata m = DiskFileMetadata(info, "f");
  EXPECT_EQ(m.modify_time, 1720000000);
  EXPECT_EQ(m.access_time, 1720000100);
  EXPECT_EQ(m.create_time, ((-100000 % 86400) + 86400) % 86400);
  // The DOS date-time shows the modification time in UTC, not New York time.
  EXPECT_EQ(m.dos_date_time >> 16, (44u << 9) | (7u << 5) | 3u);
  EXPECT_EQ(m.dos_date_time & 0xFFFF, (9u << 11) | (46u << 5) | 20u);
}

TEST(Metadata, EntriesWithoutAFileCarryTheLocalTimeInDosForm) {
  ScopedTz zone("JST-9");  // UTC+9
  int64_t now = 1720000000;  // 18:46:40 in Tokyo
  EntryMetadata m = CurrentTimeMetadata(kFolderAttributes, now);
  EXPECT_EQ(m.external_attributes, 0x41C00010u);
  EXPECT_EQ(m.modify_time, now);
  EXPECT_EQ(m.access_time, now);
  EXPECT_EQ(m.create_time, now);
  EXPECT_EQ(m.dos_date_time & 0xFFFF, (18u << 11) | (46u << 5) | 20u);
}

TEST(EntrySource, ReadsAFileByPathCountingAndCrcing) {
  ScratchDir dir;
  std::string path = dir.Write("data.txt", std::string(40000, 'q') + "tail");
  EntrySource source;
  ASSERT_EQ(source.OpenFileName(path.c_str()), ResultOk);
  EXPECT_EQ(source.metadata().expected_size, 40004);
  unsigned char buffer[16384];
  uint64_t total = 0;
  while (size_t n = source.Read(buffer, sizeof buffer)) total += n;
  EXPECT_EQ(total, 40004u);
  EXPECT_EQ(source.failure(), ResultOk);
  std::string expect = std::string(40000, 'q') + "tail";
  EXPECT_EQ(source.crc(), Crc32Update(0, expect.data(), expect.size()));
  source.Close();
  EXPECT_EQ(source.metadata().expected_size, 40004);
}

TEST(EntrySource, PathsAreOpenedExactlyAsNamed) {
  // A backslash may be part of a real file name; only what the user typed
  // has its separators converted, by the driver.
  ScratchDir dir;
  ::mkdir(dir.Path("sub").c_str(), 0755);
  dir.Write("sub/f.txt", "x");
  dir.Write("we\\ird.txt", "y");
  EntrySource source;
  EXPECT_EQ(source.OpenFileName(dir.Path("we\\ird.txt").c_str()), ResultOk);
  EXPECT_EQ(source.OpenFileName((dir.path() + "\\sub\\f.txt").c_str()), ErrOpenFile);
}

TEST(EntrySource, RefusesWhatIsNotARegularFileWithoutBlocking) {
  ScratchDir dir;
  std::string fifo = dir.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EntrySource source;
  EXPECT_EQ(source.OpenFileName(fifo.c_str()), ErrOpenFile);  // no writer: would hang
  EXPECT_EQ(source.OpenFileName(dir.path().c_str()), ErrOpenFile);
  EXPECT_EQ(source.OpenFileName("/dev/zero"), ErrOpenFile);
  EXPECT_EQ(source.OpenFileName(dir.Path("missing").c_str()), ErrOpenFile);
  EXPECT_EQ(source.OpenFileName(nullptr), ErrArguments);
}

TEST(EntrySource, FilesOf4GiBAndMoreKeepTheirWholeSize) {
  ScratchDir dir;
  std::string path = dir.Path("huge.bin");
  {
    ScopedFd fd(::open(path.c_str(), O_WRONLY | O_CREAT, 0644));
    ASSERT_TRUE(fd.valid());
    ASSERT_EQ(::ftruncate(fd.get(), 0x100000001LL), 0);  // sparse
  }
  EntrySource source;
  ASSERT_EQ(source.OpenFileName(path.c_str()), ResultOk);
  EXPECT_EQ(source.metadata().expected_size, 0x100000001LL);
  source.Close();
}

TEST(EntrySource, HandleSources) {
  ScratchDir dir;
  std::string path = dir.Write("h.txt", "0123456789");
  ScopedFd fd(::open(path.c_str(), O_RDONLY));
  ASSERT_EQ(::lseek(fd.get(), 4, SEEK_SET), 4);
  int raw = fd.get();
  EntrySource source;
  ASSERT_EQ(source.OpenHandle(&raw, 0), ResultOk);
  unsigned char buffer[64];
  EXPECT_EQ(source.Read(buffer, sizeof buffer), 10u);  // whole file, from 0
  source.Close();
  EXPECT_TRUE(IsOpenDescriptor(raw));  // the caller's descriptor stays open

  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ScopedFd read_end(pipe_fds[0]), write_end(pipe_fds[1]);
  int w = write_end.get(), r = read_end.get();
  EXPECT_EQ(source.OpenHandle(&w, 0), ErrArguments);  // not readable
  EXPECT_EQ(source.OpenHandle(nullptr, 0), ErrArguments);
  int closed = -1;
  EXPECT_EQ(source.OpenHandle(&closed, 0), ErrArguments);
  ASSERT_EQ(source.OpenHandle(&r, 0), ResultOk);
  EXPECT_EQ(source.metadata().expected_size, -1);
  EXPECT_EQ(source.metadata().external_attributes, kStreamAttributes);
  source.Close();
  ASSERT_EQ(source.OpenHandle(&r, 77), ResultOk);
  EXPECT_EQ(source.metadata().expected_size, 77);
  source.Close();
}

TEST(EntrySource, AFailingReadIsReportedNotTakenForTheEnd) {
  ScratchDir dir;
  ScopedFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
  int raw = folder.get();
  EntrySource source;
  ASSERT_EQ(source.OpenHandle(&raw, 0), ResultOk);
  unsigned char buffer[64];
  EXPECT_EQ(source.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(source.failure(), ErrRead);
  source.Close();
}

TEST(EntrySource, MemoryAndFolderSources) {
  EntrySource source;
  EXPECT_EQ(source.OpenMemory(nullptr, 3), ErrArguments);
  EXPECT_EQ(source.OpenMemory("abc", 0), ErrArguments);
  ASSERT_EQ(source.OpenMemory("abcdef", 6), ResultOk);
  unsigned char buffer[4];
  EXPECT_EQ(source.Read(buffer, 4), 4u);
  EXPECT_EQ(source.Read(buffer, 4), 2u);
  EXPECT_EQ(source.Read(buffer, 4), 0u);
  EXPECT_EQ(source.crc(), Crc32Update(0, "abcdef", 6));
  source.Close();
  ASSERT_EQ(source.OpenFolder(), ResultOk);
  EXPECT_EQ(source.metadata().expected_size, 0);
  EXPECT_EQ(source.Read(buffer, 4), 0u);
  EXPECT_EQ(source.failure(), ErrBadState);
}

}  // namespace
}  // namespace postrunner
