// A pending file takes its name only when published, never over a file that
// is there unless asked to, and leaves nothing behind otherwise: not when it
// is dropped, not when a signal stops the process.
#include "platform/pending_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/fake_system.h"
#include "platform/signal_cleanup.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PendingFileTest, PublishesUnderAFreeNameOnlyUnlessToldToReplace) {
  TempDir dir("pr_pending");
  const std::string target = dir.Path("out.bin");
  PendingFile file;
  ASSERT_TRUE(file.Create(target));
  // Hidden, beside the real name, and new each time.
  EXPECT_EQ(file.temp_name().rfind(dir.Path(".out.bin."), 0), 0u) << file.temp_name();
  PendingFile other;
  ASSERT_TRUE(other.Create(target));
  EXPECT_NE(other.temp_name(), file.temp_name());
  EXPECT_FALSE(file.Create(target));  // one file per object

  ASSERT_EQ(::write(file.descriptor(), "new", 3), 3);
  dir.Write("out.bin", "old");
  EXPECT_EQ(file.Publish(target), EEXIST);
  EXPECT_EQ(Read(target), "old");
  EXPECT_EQ(file.Publish(target, PendingFile::Existing::kReplace), 0);
  EXPECT_EQ(Read(target), "new");
  EXPECT_TRUE(file.Discard());  // harmless once published
  EXPECT_TRUE(other.Discard());
  EXPECT_EQ(Names(dir), std::set<std::string>{"out.bin"});
}

TEST(PendingFileTest, AnUnpublishedFileIsRemovedThroughTheSystemInterface) {
  TempDir dir("pr_pending");
  FakeSystemApi system;
  std::string temp_name;
  {
    PendingFile file;
    ASSERT_TRUE(file.Create(dir.Path("a")));
    temp_name = file.temp_name();
    EXPECT_EQ(Names(dir).size(), 1u);
  }
  EXPECT_EQ(system.removed, std::vector<std::string>{temp_name});
  EXPECT_TRUE(Names(dir).empty());

  PendingFile file;
  ASSERT_TRUE(file.Create(dir.Path("b")));
  system.remove_errno = EACCES;
  EXPECT_FALSE(file.Discard());
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(file.descriptor(), -1);
}

// Publishes one file, leaves another pending, and is stopped by SIGINT.
void InterruptedWithTwoFiles(const TempDir& dir) {
  if (!InstallSignalCleanup()) std::_Exit(1);
  PendingFile published;
  PendingFile pending;
  if (!published.Create(dir.Path("kept")) || published.Publish(dir.Path("kept")) != 0 ||
      !pending.Create(dir.Path("cut"))) {
    std::_Exit(1);
  }
  std::raise(SIGINT);
}

TEST(PendingFileTest, ASignalRemovesThePendingFileButNotAPublishedOne) {
  TempDir dir("pr_pending");
  EXPECT_EXIT(InterruptedWithTwoFiles(dir), testing::ExitedWithCode(128 + SIGINT), "");
  EXPECT_EQ(Names(dir), std::set<std::string>{"kept"});
}

}  // namespace
}  // namespace postrunner
