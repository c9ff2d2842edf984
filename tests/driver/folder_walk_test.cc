// The folder walk on real folders: order, prefixes and folder entries,
// what is left out (system entries, the archive itself, link loops), and
// how a failed file or folder entry ends the walk.
#include "driver/folder_walk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/directory_search.h"
#include "test_support/temp_dir.h"
#include "zip/zip_writer.h"

namespace postrunner {
namespace {

namespace fs = std::filesystem;

class FolderWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.ok());
    fs::create_directory(top_);
  }
  void File(const std::string& name, const std::string& content = "data") {
    std::ofstream(top_ + name, std::ios::binary) << content;
  }
  void Folder(const std::string& name) { fs::create_directories(top_ + name); }

  // Walks `folder` into an archive written to `archive_path` (default: a
  // file beside the top folder) and returns the listed names.
  std::vector<std::string> Walk(bool recurse, bool* ok, const std::string& folder = "",
                                std::string archive_path = "") {
    if (archive_path.empty()) archive_path = root_ + "/out.zip";
    auto archive = ArchiveCreate(archive_path.c_str(), 0, TargetFileName);
    EXPECT_TRUE(archive);
    if (!archive) return {};
    *ok = AddFolderToArchive(archive.get(), folder.empty() ? top_ : folder, recurse, "", "", 1);
    std::vector<std::string> names;
    for (const ZipEntryRecord& r : archive->writer->records()) names.push_back(r.name);
    EXPECT_EQ(ArchiveClose(std::move(archive)), ResultOk);
    return names;
  }

  TempDir temp_{"walk"};
  const std::string root_ = temp_.path();
  const std::string top_ = root_ + "/top/";
};

using Names = std::vector<std::string>;

TEST_F(FolderWalkTest, TopFolderOnlyWithoutRecurse) {
  File("b.gz");
  File("A.gz");
  File("c.gz");
  Folder("sub");
  File("sub/inner.gz");
  bool ok = false;
  ::testing::internal::CaptureStdout();
  Names names = Walk(false, &ok);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_EQ(names, (Names{"A.gz", "b.gz", "c.gz"}));
  EXPECT_EQ(out, "Adding file A.gz\nAdding file b.gz\nAdding file c.gz\n");
}

TEST_F(FolderWalkTest, RecurseAddsFolderEntriesBeforeTheirContents) {
  Folder("a/b");
  File("a/b/report.gz");
  File("a/z.gz");
  File("m.gz");
  Folder("empty");
  bool ok = false;
  ::testing::internal::CaptureStdout();
  Names names = Walk(true, &ok, root_ + "/top");  // no trailing separator
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_EQ(names, (Names{"a/", "a/b/", "a/b/report.gz", "a/z.gz", "empty/", "m.gz"}));
  EXPECT_EQ(out, "Adding file report.gz\nAdding file z.gz\nAdding file m.gz\n");
}

TEST_F(FolderWalkTest, NamesFoundOnDiskAreOpenedAsTheyAre) {
  // The path the user typed is converted by the driver; a backslash the
  // walk finds is part of a name.
  Folder("x");
  File("x/we\\ird.gz");
  bool ok = false;
  ::testing::internal::CaptureStdout();
  Names names = Walk(true, &ok);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_EQ(names, (Names{"x/", "x/we/ird.gz"}));
}

TEST_F(FolderWalkTest, SystemEntriesAreSkippedHiddenAndReadOnlyFilesAdded) {
  File(".hidden.gz");
  File("readonly.gz");
  ::chmod((top_ + "readonly.gz").c_str(), 0444);
  ASSERT_EQ(::mkfifo((top_ + "pipe").c_str(), 0644), 0);
  fs::create_symlink(top_ + "nowhere", top_ + "dangling");
  fs::create_symlink(top_ + "readonly.gz", top_ + "link.gz");  // links are followed
  bool ok = false;
  ::testing::internal::CaptureStdout();
  Names names = Walk(true, &ok);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_EQ(names, (Names{".hidden.gz", "link.gz", "readonly.gz"}));
}

TEST_F(FolderWalkTest, LinkedFoldersAreNotWalkedTwiceUpTheChain) {
  Folder("a/b");
  File("a/b/f.gz");
  fs::create_directory_symlink(top_, top_ + "a/b/to_top");
  fs::create_directory_symlink(top_ + "a", top_ + "a/b/to_a");
  fs::create_directory_symlink(top_ + "a/b", top_ + "alias");  // not an ancestor: walked
  bool ok = false;
  ::testing::internal::CaptureStdout();
  Names names = Walk(true, &ok);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  // alias/to_a leads to a, which is not above alias: walked, but a/b inside
  // it is alias itself and stops there.
  EXPECT_EQ(names, (Names{"a/", "a/b/", "a/b/f.gz", "alias/", "alias/f.gz", "alias/to_a/"}));
}

TEST_F(FolderWalkTest, TheArchiveInsideTheWalkedFolderIsLeftOut) {
  File("keep.gz");
  Folder("sub");
  bool ok = false;
  ::testing::internal::CaptureStdout();
  Names names = Walk(true, &ok, "", top_ + "sub/Compressed.zip");
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_EQ(names, (Names{"keep.gz", "sub/"}));
  EXPECT_EQ(out, "Adding file keep.gz\n");
}

TEST_F(FolderWalkTest, AnEmptyFolderAddsNothingAndAMissingOneFails) {
  bool ok = false;
  EXPECT_EQ(Walk(true, &ok), Names{});
  EXPECT_TRUE(ok);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Walk(true, &ok, root_ + "/missing/"), Names{});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "postrunner: " + root_ + "/missing: cannot read the folder: No such file or directory\n");
  EXPECT_FALSE(ok);
}

TEST_F(FolderWalkTest, ASubFolderThatCannotBeOpenedEndsTheWalkWithItsReason) {
  Folder("a/locked");
  File("a/locked/in.gz");
  File("b.gz");
  FailFolderOpensForTesting("locked", EACCES);
  bool ok = true;
  ::testing::internal::CaptureStderr();
  Names names = Walk(true, &ok);
  std::string reason = ::testing::internal::GetCapturedStderr();
  FailFolderOpensForTesting("", 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(names, (Names{"a/"}));
  EXPECT_EQ(reason, "postrunner: " + top_ + "a/locked: cannot read the folder: Permission denied\n");
}

TEST_F(FolderWalkTest, AFileThatCannotBeAddedEndsTheWholeWalk) {
  Folder("a");
  File("a/1.gz");
  File("a/2.gz");
  File("b.gz");
  // Made unreadable in a way that holds for root too: a link to the
  // process's own memory, whose first page is never mapped (EIO at 0).
  fs::remove(top_ + "a/2.gz");
  fs::create_symlink("/proc/self/mem", top_ + "a/2.gz");
  bool ok = true;
  ::testing::internal::CaptureStdout();
  Names names = Walk(true, &ok);
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(ok);
  EXPECT_EQ(names, (Names{"a/", "a/1.gz"}));
  EXPECT_EQ(out, "Adding file 1.gz\nAdding file 2.gz\n");
}

TEST_F(FolderWalkTest, AFolderEntryThatCannotBeAddedEndsTheWalkWithItsReason) {
  Folder("a");  // empty: no later entry would fail in its place
  for (unsigned threads : {1u, 2u}) {
    // Too small for even the folder entry's local header.
    std::vector<unsigned char> block(16);
    auto archive = ArchiveCreate(block.data(), static_cast<uint32_t>(block.size()), TargetMemory);
    ASSERT_TRUE(archive);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(AddFolderToArchive(archive.get(), top_, true, "", "", threads));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "postrunner: the archive: the archive writer failed (result 0x00000400)\n")
        << threads << " threads";
    EXPECT_NE(ArchiveClose(std::move(archive)), ResultOk);
  }
}

}  // namespace
}  // namespace postrunner
