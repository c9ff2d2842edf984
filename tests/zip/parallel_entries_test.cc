// Files added on several threads give the bytes of adding them one by one,
// on outputs that can seek and on those that cannot, whether finished data
// waits in memory, in a scratch file, or must be read again because no
// scratch file can be made; the first failing entry in order stops the run.
#include "zip/parallel_entries.h"

#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_info.h"
#include "zip/zip_test_util.h"
#include "zip/zip_writer.h"

namespace postrunner {
namespace {

using testing_util::Bytes;
using testing_util::FakeOutput;
using testing_util::FakeState;
using testing_util::ScratchDir;

std::string RandomText(size_t n, unsigned seed, bool words) {
  std::mt19937 rng(seed);
  std::string out;
  static const char* kWords[] = {"archive ", "entry ", "thread ", "the ", "data\n", "of "};
  while (out.size() < n) {
    if (words) out += kWords[rng() % 6];
    else out += static_cast<char>(rng());
  }
  out.resize(n);
  return out;
}

// Names and contents: empty, small, text that compresses, random data whose
// compressed form outgrows an entry's memory, a stored name, a hidden file.
std::vector<std::pair<std::string, std::string>> Files() {
  return {{"empty.txt", ""},
          {"small.txt", "hello"},
          {"words.txt", RandomText(3000000, 1, true)},
          {"noise.bin", RandomText(2500000, 2, false)},
          {"packed.gz", RandomText(1500000, 3, false)},
          {".hidden", RandomText(70000, 4, true)},
          {"last.txt", RandomText(200000, 5, true)}};
}

std::unique_ptr<ArchiveHandle> FakeArchive(const std::shared_ptr<FakeState>& state) {
  auto handle = std::make_unique<ArchiveHandle>();
  handle->writer = std::make_unique<ZipWriter>(std::make_unique<FakeOutput>(state));
  return handle;
}

Bytes OneByOne(const ScratchDir& dir, bool can_seek) {
  auto state = std::make_shared<FakeState>();
  state->can_seek = can_seek;
  auto handle = FakeArchive(state);
  for (const auto& [name, content] : Files()) {
    ScopedFd fd(OpenRegularFile(dir.Path(name).c_str()));
    EXPECT_EQ(handle->writer->AddOpenFile(("d/" + name).c_str(), fd.get(), name), ResultOk);
  }
  EXPECT_EQ(handle->writer->Close(), ResultOk);
  return state->bytes;
}

Bytes Parallel(const ScratchDir& dir, bool can_seek, unsigned threads) {
  auto state = std::make_shared<FakeState>();
  state->can_seek = can_seek;
  auto handle = FakeArchive(state);
  {
    ParallelEntries parallel(handle.get(), threads);
    for (const auto& [name, content] : Files()) {
      ScopedFd fd(OpenRegularFile(dir.Path(name).c_str()));
      EXPECT_TRUE(parallel.QueueFile("d/" + name, std::move(fd), name, 0,
                                     [](ArchiveResult r, int) { return r == ResultOk; }));
    }
    EXPECT_TRUE(parallel.Finish());
  }
  EXPECT_EQ(handle->writer->Close(), ResultOk);
  return state->bytes;
}

TEST(ParallelEntries, SameBytesAsOneByOne) {
  ScratchDir dir;
  for (const auto& [name, content] : Files()) dir.Write(name, content);
  // The first read of a new file may move its access time, which headers
  // record: read them all once before comparing.
  OneByOne(dir, true);
  const char* saved = getenv("TMPDIR");
  const std::string saved_tmpdir = saved != nullptr ? saved : "";
  for (bool can_seek : {true, false}) {
    const Bytes expected = OneByOne(dir, can_seek);
    ASSERT_TRUE(testing_util::ParseArchive(expected).ok);
    for (unsigned threads : {2u, 5u}) {
      EXPECT_EQ(Parallel(dir, can_seek, threads), expected) << threads << " " << can_seek;
    }
    // No scratch file can be made: the writer reads those files again.
    setenv("TMPDIR", dir.Path("missing").c_str(), 1);
    EXPECT_EQ(Parallel(dir, can_seek, 3), expected) << "without scratch files";
    if (saved != nullptr) setenv("TMPDIR", saved_tmpdir.c_str(), 1);
    else unsetenv("TMPDIR");
  }
}

TEST(ParallelEntries, FirstFailureInOrderStopsTheRun) {
  ScratchDir dir;
  auto state = std::make_shared<FakeState>();
  auto handle = FakeArchive(state);
  std::vector<std::string> seen;
  {
    ParallelEntries parallel(handle.get(), 3);
    auto done = [&seen](ArchiveResult r, int error) {
      seen.push_back(std::to_string(r) + "/" + std::to_string(error));
      return r == ResultOk;
    };
    for (int i = 0; i < 12; i++) {
      std::string name = "f" + std::to_string(i);
      dir.Write(name, RandomText(100000, i, true));
      // The sixth file could not be opened (EACCES).
      ScopedFd fd(i == 5 ? -1 : OpenRegularFile(dir.Path(name).c_str()));
      if (!parallel.QueueFile(name, std::move(fd), name, EACCES, done)) break;
      if (!parallel.QueueAction([&seen] {
            seen.push_back("action");
            return true;
          })) {
        break;
      }
    }
    EXPECT_FALSE(parallel.Finish());
  }
  ASSERT_EQ(seen.size(), 11u);
  EXPECT_EQ(seen[10], std::to_string(ErrOpenFile) + "/" + std::to_string(EACCES));
  EXPECT_EQ(seen[8], "0/0");
  EXPECT_EQ(seen[9], "action");
  ASSERT_EQ(handle->writer->Close(), ResultOk);
  EXPECT_EQ(testing_util::ParseArchive(state->bytes).entries.size(), 5u);
}

}  // namespace
}  // namespace postrunner
