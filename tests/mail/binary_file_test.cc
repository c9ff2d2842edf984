// CBinaryFile: opening, refusing what is not a regular file, 64-bit sizes.
#include "platform/binary_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

TEST(BinaryFile, MissingFileLeavesTheObjectClosedWithItsPath) {
  TempDir dir;
  CBinaryFile file;
  EXPECT_LT(file.Open(dir.Path("missing"), kBinaryReadOnly), 0);
  EXPECT_EQ(file.descriptor(), -1);
  EXPECT_EQ(file.path(), dir.Path("missing"));
  char byte;
  EXPECT_LT(file.Read(&byte, 1), 0);
  EXPECT_LT(file.SeekToEnd(), 0);
  file.Close();
  EXPECT_FALSE(file.path().has_value());
  file.Close();  // twice is harmless
}

TEST(BinaryFile, MeasuresAndReadsToTheEnd) {
  TempDir dir;
  std::string path = dir.Write("f", std::string(998002, 'q'));
  CBinaryFile file;
  ASSERT_GE(file.Open(path, kBinaryReadOnly), 0);
  EXPECT_EQ(file.SeekToEnd(), 998002);
  EXPECT_EQ(file.Tell(), 998002);
  char buffer[16];
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(file.ReadBlock(buffer, sizeof buffer), nullptr);
  EXPECT_EQ(file.Seek(998000), 998000);
  EXPECT_EQ(file.ReadBlock(buffer, sizeof buffer), buffer);
  EXPECT_EQ(file.SeekToStart(), 0);
}

TEST(BinaryFile, SizesAndPositionsBeyondFourGiB) {
  TempDir dir;
  std::string path = dir.Write("sparse", "");
  const int64_t size = (int64_t{5} << 30) + 7;  // sparse: takes no disk space
  ASSERT_EQ(::truncate(path.c_str(), size), 0);
  CBinaryFile file;
  ASSERT_GE(file.Open(path, kBinaryReadOnly), 0);
  EXPECT_EQ(file.SeekToEnd(), size);
  EXPECT_EQ(file.Seek(size - 3), size - 3);
  char buffer[8];
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 3);
}

TEST(BinaryFile, RefusesWhatIsNotARegularFileWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);
  CBinaryFile file;
  EXPECT_LT(file.Open(dir.Path("fifo"), kBinaryReadOnly), 0);  // returns at once
  EXPECT_EQ(file.descriptor(), -1);
  EXPECT_LT(file.Open(dir.Path(""), kBinaryReadOnly), 0);  // the folder itself
  EXPECT_EQ(errno, EISDIR);
  EXPECT_LT(file.Open("/dev/null", kBinaryReadOnly), 0);
}

TEST(BinaryFile, CreatesNewFilesOnlyAndNeverThroughALink) {
  TempDir dir;
  CBinaryFile file;
  std::string piece = dir.Path("piece");
  ASSERT_GE(file.Open(piece, kBinaryCreateNew), 0);
  EXPECT_EQ(file.Write("abc", 3), 3);
  file.Close();
  struct stat st;
  ASSERT_EQ(::stat(piece.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 3);

  // An existing file is not reused, and a planted link is not followed,
  // even a dangling one.
  EXPECT_LT(file.Open(piece, kBinaryCreateNew), 0);
  std::string target = dir.Write("target", "keep");
  ASSERT_EQ(::symlink(target.c_str(), dir.Path("link").c_str()), 0);
  EXPECT_LT(file.Open(dir.Path("link"), kBinaryCreateNew), 0);
  ASSERT_EQ(::symlink(dir.Path("nowhere").c_str(), dir.Path("dangling").c_str()), 0);
  EXPECT_LT(file.Open(dir.Path("dangling"), kBinaryCreateNew), 0);
  EXPECT_NE(::access(dir.Path("nowhere").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace postrunner
