#include "platform/directory_search.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/scoped_fd.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

class DirectorySearchTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }
  void Touch(const std::string& name, mode_t mode = 0644) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << "x";
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }
  const DirEntry* Find(const std::vector<DirEntry>& entries, const std::string& name) {
    for (const DirEntry& e : entries) {
      if (e.name == name) return &e;
    }
    return nullptr;
  }
  // Lists `path` through a folder descriptor, as a walk does.
  bool List(const std::string& path, std::vector<DirEntry>* entries) {
    ScopedFd folder(OpenFolder(path));
    return folder.valid() && ListFolderAt(folder.get(), entries);
  }
  TempDir temp_{"pr_dir"};
  const std::string dir_ = temp_.path();
};

TEST_F(DirectorySearchTest, SortsCaseInsensitivelyWithDotsIncluded) {
  Touch("b.txt");
  Touch("A.txt");
  Touch("a.txt");
  Touch("C.txt");
  std::vector<DirEntry> entries;
  ASSERT_TRUE(List(dir_, &entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "A.txt", "a.txt", "b.txt", "C.txt"}));
}

TEST_F(DirectorySearchTest, AttributesFollowTheFileKind) {
  Touch("plain");
  Touch(".hidden");
  Touch("readonly", 0444);
  ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("gone", (dir_ + "/dangling").c_str()), 0);
  ASSERT_EQ(symlink("sub", (dir_ + "/linked").c_str()), 0);
  ScopedFd sock(socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string sock_path = dir_ + "/sock";
  std::strncpy(addr.sun_path, sock_path.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  std::vector<DirEntry> entries;
  ASSERT_TRUE(List(dir_ + "/", &entries));
  EXPECT_EQ(Find(entries, "plain")->attributes, kAttrArchive);
  EXPECT_EQ(Find(entries, ".hidden")->attributes, kAttrArchive | kAttrHidden);
  EXPECT_EQ(Find(entries, "readonly")->attributes, kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(Find(entries, "sub")->attributes, kAttrFolder);
  EXPECT_EQ(Find(entries, "linked")->attributes, kAttrFolder);
  EXPECT_EQ(Find(entries, "linked")->inode, Find(entries, "sub")->inode);
  EXPECT_TRUE(Find(entries, "fifo")->attributes & kAttrSystem);
  EXPECT_TRUE(Find(entries, "sock")->attributes & kAttrSystem);
  EXPECT_EQ(Find(entries, "dangling")->attributes, kAttrSystem);
  EXPECT_EQ(Find(entries, ".")->attributes & kAttrHidden, 0u);
}

TEST_F(DirectorySearchTest, MissingFolderOrFileCannotBeOpenedAsAFolder) {
  EXPECT_EQ(OpenFolder(dir_ + "/missing"), -1);
  EXPECT_EQ(errno, ENOENT);
  Touch("file");
  EXPECT_EQ(OpenFolder(dir_ + "/file"), -1);
  EXPECT_EQ(errno, ENOTDIR);
}

}  // namespace
}  // namespace postrunner
