#include "driver/file_checks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

class FileChecksTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }
  std::string Touch(const std::string& name) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << "x";
    return path;
  }
  TempDir temp_{"pr_checks"};
  const std::string dir_ = temp_.path();
};

TEST_F(FileChecksTest, ExistenceTrimsBlanksAndEmptyNamesDoNotExist) {
  std::string path = Touch("a.zip");
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(FileExists(" \t" + path + "\r\n"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(" \t\n"));
  EXPECT_FALSE(FileExists(dir_ + "/missing.zip"));
  // A dangling link is there to be deleted.
  ASSERT_EQ(symlink("nowhere", (dir_ + "/dangling").c_str()), 0);
  EXPECT_TRUE(FileExists(dir_ + "/dangling"));
}

TEST_F(FileChecksTest, DeleteRemovesFileAndMissingFileIsFine) {
  std::string path = Touch("a.zip");
  EXPECT_TRUE(DeleteArchiveFile(path));
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(DeleteArchiveFile(path));
}

TEST_F(FileChecksTest, DeleteGivesUpOnAFileThatCannotBeDeleted) {
  // A folder cannot be unlinked, whoever runs the test.
  std::string sub = dir_ + "/folder.zip";
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  EXPECT_FALSE(DeleteArchiveFile(sub));
  EXPECT_TRUE(FileExists(sub));
}

TEST_F(FileChecksTest, DeleteNeverRemovesFifosOrDevices) {
  std::string fifo = dir_ + "/pipe.zip";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(DeleteArchiveFile(fifo));
  EXPECT_TRUE(FileExists(fifo));
  // A link is removed, never what it points to.
  std::string link = dir_ + "/link.zip";
  std::string target = Touch("target.zip");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_TRUE(DeleteArchiveFile(link));
  EXPECT_FALSE(FileExists(link));
  EXPECT_TRUE(FileExists(target));
}

TEST_F(FileChecksTest, SameFileIsFoundThroughDifferentTexts) {
  std::string path = Touch("a.zip");
  std::string other = Touch("b.zip");
  EXPECT_TRUE(SameExistingFile(path, dir_ + "/./a.zip"));
  ASSERT_EQ(symlink(path.c_str(), (dir_ + "/link.zip").c_str()), 0);
  EXPECT_TRUE(SameExistingFile(dir_ + "/link.zip", path));
  EXPECT_FALSE(SameExistingFile(path, other));
  EXPECT_FALSE(SameExistingFile(path, dir_ + "/missing.zip"));
}

TEST(BareNameTest, TextAfterTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(BareName("D:\\dir\\a.txt"), "a.txt");
  EXPECT_EQ(BareName("/home/me/a.txt"), "a.txt");
  EXPECT_EQ(BareName("\\a.txt"), "a.txt");
  EXPECT_EQ(BareName("dir\\sub/a b.txt"), "a b.txt");
  EXPECT_EQ(BareName("a.txt"), "a.txt");
  EXPECT_EQ(BareName("dir/"), "");
}

}  // namespace
}  // namespace postrunner
