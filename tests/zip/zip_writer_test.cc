// The archive writer on real targets: exact byte layouts, methods, flags,
// offsets, the three target kinds, and data descriptors on outputs that
// cannot seek.
#include "zip/zip_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/scoped_fd.h"
#include "zip/archive.h"
#include "zip/crc32.h"
#include "zip/zip_format.h"
#include "zip_test_util.h"

namespace postrunner {
namespace {

using testing_util::Bytes;
using testing_util::ListingLine;
using testing_util::ParseArchive;
using testing_util::ParsedArchive;
using testing_util::ReadWholeFile;
using testing_util::ScratchDir;
using testing_util::ToBytes;
using testing_util::UnzipTest;
using testing_util::ZipfileListing;

// A text that compresses well but is not trivial.
std::string SampleText(size_t size) {
  std::string text;
  unsigned seed = 7;
  while (text.size() < size) {
    seed = seed * 1103515245 + 12345;
    text += "line " + std::to_string((seed >> 16) % 1000) + " of the sample\n";
  }
  text.resize(size);
  return text;
}

std::unique_ptr<ArchiveHandle> CreateOnFile(const std::string& path) {
  return ArchiveCreate(path.c_str(), 0, TargetFileName);
}

TEST(ZipWriter, EmptyArchiveIsOneEndRecord) {
  ScratchDir dir;
  std::string path = dir.Path("empty.zip");
  auto archive = CreateOnFile(path);
  ASSERT_TRUE(archive);
  EXPECT_EQ(ArchiveClose(std::move(archive)), ResultOk);
  Bytes expect = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ReadWholeFile(path), expect);
  EXPECT_EQ(ZipfileListing(path), std::vector<std::string>{});
}

TEST(ZipWriter, OneStoredEntryByteForByte) {
  ScratchDir dir;
  std::string source = dir.Write("payload", "0123456789");
  std::string path = dir.Path("one.zip");
  auto archive = CreateOnFile(path);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "a.zip", source.c_str(), 0, SourceFileName),
            ResultOk);
  ASSERT_EQ(ArchiveClose(std::move(archive)), ResultOk);

  Bytes a = ReadWholeFile(path);
  ASSERT_EQ(a.size(), 144u);
  uint32_t crc = Crc32Update(0, "0123456789", 10);
  // Local header, rewritten with the final flags, CRC and sizes.
  EXPECT_EQ(GetLe32(&a[0]), kLocalHeaderSignature);
  EXPECT_EQ(GetLe16(&a[4]), 20);
  EXPECT_EQ(GetLe16(&a[6]), 0);      // flags
  EXPECT_EQ(GetLe16(&a[8]), 0);      // stored
  EXPECT_EQ(GetLe32(&a[14]), crc);
  EXPECT_EQ(GetLe32(&a[18]), 10u);
  EXPECT_EQ(GetLe32(&a[22]), 10u);
  EXPECT_EQ(GetLe16(&a[26]), 5);
  EXPECT_EQ(GetLe16(&a[28]), 17);
  EXPECT_EQ(std::string(a.begin() + 30, a.begin() + 35), "a.zip");
  EXPECT_EQ(GetLe16(&a[35]), 0x5455);  // extended timestamp, local form
  EXPECT_EQ(GetLe16(&a[37]), 13);
  EXPECT_EQ(a[39], 0x07);
  struct stat st;
  ASSERT_EQ(::stat(source.c_str(), &st), 0);
  EXPECT_EQ(GetLe32(&a[40]), static_cast<uint32_t>(st.st_mtime));
  EXPECT_EQ(std::string(a.begin() + 52, a.begin() + 62), "0123456789");
  // Central header.
  EXPECT_EQ(GetLe32(&a[62]), kCentralHeaderSignature);
  EXPECT_EQ(GetLe16(&a[66]), 0x0B17);
  EXPECT_EQ(GetLe16(&a[68]), 20);
  EXPECT_EQ(GetLe16(&a[70]), 0);
  EXPECT_EQ(GetLe32(&a[78]), crc);
  EXPECT_EQ(GetLe16(&a[92]), 9);     // central extra length
  EXPECT_EQ(GetLe16(&a[94]), 0);     // comment length
  EXPECT_EQ(GetLe32(&a[104]), 0u);   // local header offset
  EXPECT_EQ(GetLe16(&a[113]), 0x5455);
  EXPECT_EQ(GetLe16(&a[115]), 5);
  EXPECT_EQ(GetLe32(&a[118]), static_cast<uint32_t>(st.st_mtime));
  // End record.
  EXPECT_EQ(GetLe32(&a[122]), kEndRecordSignature);
  EXPECT_EQ(GetLe16(&a[130]), 1);
  EXPECT_EQ(GetLe32(&a[134]), 60u);
  EXPECT_EQ(GetLe32(&a[138]), 62u);

  EXPECT_EQ(UnzipTest(path), 0);
  EXPECT_EQ(ZipfileListing(path),
            std::vector<std::string>{ListingLine("a.zip", 0, 0, ToBytes("0123456789"))});
}

TEST(ZipWriter, OffsetsChainAndAFailedSourceLeavesTheArchiveUnchanged) {
  ScratchDir dir;
  std::string x = dir.Write("x", "first");
  std::string y = dir.Write("y", "second entry");
  std::string path = dir.Path("chain.zip");
  auto archive = CreateOnFile(path);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "one.gz", x.c_str(), 0, SourceFileName), ResultOk);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "no.gz", dir.Path("missing").c_str(), 0,
                            SourceFileName),
            ErrOpenFile);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "dir\\two.gz", y.c_str(), 0, SourceFileName),
            ResultOk);
  ASSERT_EQ(ArchiveClose(std::move(archive)), ResultOk);
  ParsedArchive p = ParseArchive(ReadWholeFile(path));
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.entries.size(), 2u);
  EXPECT_EQ(p.entries[0].offset, 0u);
  EXPECT_EQ(p.entries[1].name, "dir/two.gz");  // backslashes become slashes
  EXPECT_EQ(p.entries[1].offset, 30u + 6 + 17 + 5);
  EXPECT_EQ(p.directory_offset, (30u + 6 + 17 + 5) + (30 + 10 + 17 + 12));
  EXPECT_EQ(UnzipTest(path), 0);
}

TEST(ZipWriter, FolderEntries) {
  ScratchDir dir;
  std::string path = dir.Path("folders.zip");
  auto archive = CreateOnFile(path);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "docs", nullptr, 0, SourceFolder), ResultOk);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "docs/", nullptr, 0, SourceFolder), ResultOk);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "a\\b", nullptr, 0, SourceFolder), ResultOk);
  ASSERT_EQ(ArchiveClose(std::move(archive)), ResultOk);
  ParsedArchive p = ParseArchive(ReadWholeFile(path));
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.entries.size(), 3u);
  for (const auto& e : p.entries) {
    EXPECT_EQ(e.method, 0);
    EXPECT_EQ(e.flags, 0);
    EXPECT_EQ(e.local_flags, 0);
    EXPECT_EQ(e.crc, 0u);
    EXPECT_EQ(e.compressed, 0u);
    EXPECT_EQ(e.uncompressed, 0u);
    EXPECT_EQ(e.external_attributes, 0x41C00010u);
  }
  EXPECT_EQ(p.entries[0].name, "docs/");
  EXPECT_EQ(p.entries[1].name, "docs/");
  EXPECT_EQ(p.entries[2].name, "a/b/");
  EXPECT_EQ(UnzipTest(path), 0);
}

TEST(ZipWriter, MethodFollowsTheEntryNameNotTheSourcePath) {
  ScratchDir dir;
  std::string text = SampleText(100000);
  std::string zip_source = dir.Write("looks.zip", text);
  std::string path = dir.Path("methods.zip");
  auto archive = CreateOnFile(path);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "plain.txt", zip_source.c_str(), 0, SourceFileName),
            ResultOk);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "kept.TGZ", zip_source.c_str(), 0, SourceFileName),
            ResultOk);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "empty.txt", dir.Write("e", "").c_str(), 0,
                            SourceFileName),
            ResultOk);
  ASSERT_EQ(ArchiveClose(std::move(archive)), ResultOk);
  ParsedArchive p = ParseArchive(ReadWholeFile(path));
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.entries.size(), 3u);
  EXPECT_EQ(p.entries[0].method, 8);
  EXPECT_EQ(p.entries[0].flags, 0x0002);  // level 8 and the header rewrite
  EXPECT_EQ(p.entries[0].local_flags, 0x0002);
  EXPECT_LT(p.entries[0].compressed, text.size() / 2);
  EXPECT_EQ(p.entries[1].method, 0);
  EXPECT_EQ(p.entries[1].flags, 0);
  EXPECT_EQ(p.entries[2].method, 8);
  EXPECT_EQ(p.entries[2].uncompressed, 0u);
  EXPECT_EQ(UnzipTest(path), 0);
  EXPECT_EQ(ZipfileListing(path),
            (std::vector<std::string>{ListingLine("plain.txt", 8, 2, ToBytes(text)),
                                      ListingLine("kept.TGZ", 0, 0, ToBytes(text)),
                                      ListingLine("empty.txt", 8, 2, {})}));
}

// Writes an archive with a stored, a deflated and a folder entry to a pipe
// and returns what came out of the pipe.
Bytes ArchiveThroughPipe(std::vector<ArchiveResult>* results) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  ScopedFd read_end(fds[0]), write_end(fds[1]);
  int target = write_end.get();
  auto archive = ArchiveCreate(&target, 0, TargetHandle);
  EXPECT_TRUE(archive);
  if (!archive) return {};
  std::string text = SampleText(5000);
  results->push_back(ArchiveAddEntry(archive.get(), "s.gz", "stored!", 7, SourceMemory));
  results->push_back(
      ArchiveAddEntry(archive.get(), "d.txt", text.data(), text.size(), SourceMemory));
  results->push_back(ArchiveAddEntry(archive.get(), "f", nullptr, 0, SourceFolder));
  int feed[2];
  EXPECT_EQ(::pipe(feed), 0);
  ScopedFd feed_read(feed[0]), feed_write(feed[1]);
  EXPECT_EQ(::write(feed_write.get(), "xyz", 3), 3);
  EXPECT_TRUE(feed_write.Reset());
  int source = feed_read.get();
  // A stored entry of unknown size cannot be announced ahead of its data.
  results->push_back(ArchiveAddEntry(archive.get(), "u.zip", &source, 0, SourceHandle));
  results->push_back(ArchiveClose(std::move(archive)));
  EXPECT_TRUE(write_end.Reset());
  Bytes out;
  unsigned char buffer[4096];
  ssize_t n;
  while ((n = ::read(read_end.get(), buffer, sizeof buffer)) > 0) out.insert(out.end(), buffer, buffer + n);
  return out;
}

TEST(ZipWriter, OutputThatCannotSeekGetsDataDescriptors) {
  std::vector<ArchiveResult> results;
  Bytes out = ArchiveThroughPipe(&results);
  EXPECT_EQ(results, (std::vector<ArchiveResult>{ResultOk, ResultOk, ResultOk,
                                                 ErrMethodChanged, ResultOk}));
  ParsedArchive p = ParseArchive(out);
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.entries.size(), 3u);
  for (const auto& e : p.entries) {
    EXPECT_EQ(e.local_flags & kFlagDataDescriptor, kFlagDataDescriptor) << e.name;
    EXPECT_EQ(e.flags, e.local_flags) << e.name;
    // The descriptor follows the data and repeats CRC and sizes.
    size_t after = e.offset + 30 + e.name.size() + 17 + e.compressed;
    ASSERT_LE(after + 16, out.size());
    EXPECT_EQ(GetLe32(&out[after]), kDataDescriptorSignature);
    EXPECT_EQ(GetLe32(&out[after + 4]), e.crc);
    EXPECT_EQ(GetLe32(&out[after + 8]), e.compressed);
    EXPECT_EQ(GetLe32(&out[after + 12]), e.uncompressed);
  }
  // The stored entry's header announced its size before the data.
  EXPECT_EQ(GetLe32(&out[18]), 7u);
  ScratchDir dir;
  std::string path = dir.Path("piped.zip");
  ScopedFd f(::open(path.c_str(), O_WRONLY | O_CREAT, 0644));
  ASSERT_EQ(::write(f.get(), out.data(), out.size()), static_cast<ssize_t>(out.size()));
  EXPECT_TRUE(f.Reset());
  EXPECT_EQ(UnzipTest(path), 0);
  EXPECT_EQ(ZipfileListing(path),
            (std::vector<std::string>{ListingLine("s.gz", 0, 8, ToBytes("stored!")),
                                      ListingLine("d.txt", 8, 8, ToBytes(SampleText(5000))),
                                      ListingLine("f/", 0, 8, {})}));
}

TEST(ZipWriter, APipeWithoutReaderFailsTheEntryAndNotTheProcess) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ScopedFd read_end(fds[0]), write_end(fds[1]);
  int target = write_end.get();
  auto archive = ArchiveCreate(&target, 0, TargetHandle);
  ASSERT_TRUE(archive);
  EXPECT_TRUE(read_end.Reset());
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "a.gz", "abc", 3, SourceMemory), ErrWrite);
  EXPECT_EQ(ArchiveClose(std::move(archive)), ErrWrite);
}

TEST(ZipWriter, ASourceFailingWhileReadIsNotCutShortSilently) {
  ScratchDir dir;
  ScopedFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
  int raw = folder.get();
  std::string path = dir.Path("read-error.zip");
  auto archive = CreateOnFile(path);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "r.txt", &raw, 0, SourceHandle), ErrRead);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "r.gz", &raw, 0, SourceHandle), ErrRead);
  ASSERT_EQ(ArchiveClose(std::move(archive)), ResultOk);
  ParsedArchive p = ParseArchive(ReadWholeFile(path));
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.count, 0u);
}

TEST(ZipWriter, HandleTargetStartsAtTheDescriptorsPosition) {
  ScratchDir dir;
  std::string path = dir.Path("prefixed.zip");
  ScopedFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
  ASSERT_EQ(::write(fd.get(), "PREFIX-DATA", 11), 11);
  int raw = fd.get();
  auto archive = ArchiveCreate(&raw, 0, TargetHandle);
  ASSERT_TRUE(archive);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "m.txt", "memory", 6, SourceMemory), ResultOk);
  ASSERT_EQ(ArchiveClose(std::move(archive)), ResultOk);
  EXPECT_TRUE(IsOpenDescriptor(raw));  // the caller's descriptor stays open
  Bytes all = ReadWholeFile(path);
  Bytes archive_bytes(all.begin() + 11, all.end());
  ParsedArchive p = ParseArchive(archive_bytes, 11);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.entries[0].offset, 11u);  // offsets count from the file's start
  EXPECT_EQ(p.entries[0].flags, 0x0002);
  EXPECT_EQ(p.entries[0].external_attributes, 0x80000000u);
  EXPECT_EQ(ZipfileListing(path),
            std::vector<std::string>{ListingLine("m.txt", 8, 2, ToBytes("memory"))});
}

TEST(ZipWriter, AppendingDescriptorIsWrittenForward) {
  ScratchDir dir;
  std::string path = dir.Write("append.zip", "XYZ");
  ScopedFd fd(::open(path.c_str(), O_WRONLY | O_APPEND));
  ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
  int raw = fd.get();
  auto archive = ArchiveCreate(&raw, 0, TargetHandle);
  ASSERT_TRUE(archive);
  ASSERT_EQ(ArchiveAddEntry(archive.get(), "a.txt", "abc", 3, SourceMemory), ResultOk);
  ASSERT_EQ(ArchiveClose(std::move(archive)), ResultOk);
  Bytes all = ReadWholeFile(path);
  ParsedArchive p = ParseArchive(Bytes(all.begin() + 3, all.end()), 3);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.entries[0].local_flags, kFlagDataDescriptor);
  EXPECT_EQ(UnzipTest(path), 0);
}

TEST(ZipWriter, MemoryTarget) {
  std::vector<unsigned char> block(22, 0xEE);
  auto archive = ArchiveCreate(block.data(), 22, TargetMemory);
  ASSERT_TRUE(archive);
  EXPECT_EQ(ArchiveClose(std::move(archive)), ResultOk);  // exactly fits
  EXPECT_EQ(GetLe32(block.data()), kEndRecordSignature);

  block.assign(40, 0);
  archive = ArchiveCreate(block.data(), 40, TargetMemory);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "too-big.txt", "x", 1, SourceMemory), ErrWrite);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "x.txt", "x", 1, SourceMemory), ErrAlreadyFailed);
  EXPECT_EQ(ArchiveClose(std::move(archive)), ResultOk);  // only an end record
  EXPECT_FALSE(ArchiveCreate(block.data(), 0, TargetMemory));

  archive = ArchiveCreate(nullptr, 4096, TargetMemory);
  ASSERT_TRUE(archive);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "x.txt", "x", 1, SourceMemory), ResultOk);
  EXPECT_EQ(ArchiveClose(std::move(archive)), ResultOk);
}

TEST(ZipWriter, ArgumentsHandlesAndCalls) {
  ScratchDir dir;
  EXPECT_FALSE(ArchiveCreate(dir.path().c_str(), 0, TargetFileName));  // a folder
  EXPECT_FALSE(ArchiveCreate(dir.Path("no/such/dir.zip").c_str(), 0, TargetFileName));
  EXPECT_FALSE(ArchiveCreate(dir.Path("x.zip").c_str(), 0, 9));
  int closed = -1;
  EXPECT_FALSE(ArchiveCreate(&closed, 0, TargetHandle));
  EXPECT_FALSE(ArchiveCreate(nullptr, 0, TargetHandle));

  EXPECT_EQ(ArchiveAddEntry(nullptr, "a", "x", 1, SourceMemory), ErrArguments);
  EXPECT_EQ(ArchiveClose(nullptr), ErrArguments);
  std::string path = dir.Path("args.zip");
  auto archive = CreateOnFile(path);
  ASSERT_TRUE(archive);
  dev_t device;
  ino_t inode;
  ASSERT_TRUE(ArchiveOutputIdentity(archive.get(), &device, &inode));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(device, st.st_dev);
  EXPECT_EQ(inode, st.st_ino);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "", "x", 1, SourceMemory), ErrArguments);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), nullptr, "x", 1, SourceMemory), ErrArguments);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "k", "x", 1, 7), ErrArguments);
  archive->mode = 3;
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "a", "x", 1, SourceMemory), ErrWrongHandle);
  archive->mode = 2;
  EXPECT_EQ(archive->writer->Close(), ResultOk);
  EXPECT_EQ(ArchiveAddEntry(archive.get(), "a", "x", 1, SourceMemory), ErrClosed);
  EXPECT_EQ(ArchiveClose(std::move(archive)), ResultOk);  // closes once
  EXPECT_EQ(ParseArchive(ReadWholeFile(path)).count, 0u);
}

}  // namespace
}  // namespace postrunner
