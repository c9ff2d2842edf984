// Entries of 4 MiB or more deflated in pieces: the same archive on any
// thread count, alone and among a folder's files on several threads; the
// joined stream read back by unzip and Python's zipfile; the threshold
// itself goes in pieces, one byte under keeps the single stream.
#include "zip/piece_deflate.h"

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_info.h"
#include "zip/parallel_entries.h"
#include "zip/zip_test_util.h"
#include "zip/zip_writer.h"

namespace postrunner {
namespace {

using testing_util::Bytes;
using testing_util::FakeOutput;
using testing_util::FakeState;
using testing_util::ScratchDir;

// Text with repeats near and far, with a run of noise: pieces see matches
// that reach back into the piece before, and a stored block.
std::string Content(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  static const char* kWords[] = {"piece ", "window ", "thread ", "the ", "stream\n", "of "};
  std::string out;
  while (out.size() < n) {
    if (out.size() % (1 << 21) < 70000) {
      out += static_cast<char>(rng());
    } else if (out.size() > 5000 && rng() % 7 == 0) {
      out += out.substr(out.size() - 1 - rng() % 5000, 40);
    } else {
      out += kWords[rng() % 6];
    }
  }
  out.resize(n);
  return out;
}

// The archive of the files `names` in `dir` (one entry each) added on
// `threads` threads: alone through the writer, or with `queued` through
// ParallelEntries.
Bytes Archive(const ScratchDir& dir, const std::vector<std::string>& names, unsigned threads,
              bool queued) {
  auto state = std::make_shared<FakeState>();
  ArchiveHandle handle;
  handle.writer = std::make_unique<ZipWriter>(std::make_unique<FakeOutput>(state));
  handle.writer->SetThreads(threads);
  if (queued) {
    ParallelEntries parallel(&handle, threads);
    for (const std::string& name : names) {
      ScopedFd fd(OpenRegularFile(dir.Path(name).c_str()));
      EXPECT_TRUE(parallel.QueueFile(name, std::move(fd), name, 0,
                                     [](ArchiveResult r, int) { return r == ResultOk; }));
    }
    EXPECT_TRUE(parallel.Finish());
  } else {
    for (const std::string& name : names) {
      ScopedFd fd(OpenRegularFile(dir.Path(name).c_str()));
      EXPECT_EQ(handle.writer->AddOpenFile(name.c_str(), fd.get(), name), ResultOk);
    }
  }
  EXPECT_EQ(handle.writer->Close(), ResultOk);
  return state->bytes;
}

// unzip and Python's zipfile read every entry of `archive` back intact.
void ExpectReadersAgree(const ScratchDir& dir, const Bytes& archive,
                        const std::vector<std::string>& names) {
  const std::string path = dir.Write("out.zip", std::string(archive.begin(), archive.end()));
  EXPECT_EQ(testing_util::UnzipTest(path), 0);
  std::vector<std::string> expected;
  for (const std::string& name : names) {
    const Bytes data = testing_util::ReadWholeFile(dir.Path(name));
    expected.push_back(testing_util::ListingLine(name, 8, 2, data));
  }
  EXPECT_EQ(testing_util::ZipfileListing(path), expected);
}

TEST(PieceDeflate, SameArchiveOnAnyThreadCountAloneAndInAFolder) {
  ScratchDir dir;
  dir.Write("big.txt", Content(kPieceThreshold + 3 * kPieceBytes / 2, 1));
  dir.Write("small.txt", Content(300000, 2));
  dir.Write("after.txt", Content(kPieceThreshold - 1, 3));
  const std::vector<std::string> names = {"small.txt", "big.txt", "after.txt"};
  // Access times settle after the first read; headers record them.
  (void)Archive(dir, names, 1, false);
  const Bytes one = Archive(dir, names, 1, false);
  for (unsigned threads : {2u, 5u}) {
    EXPECT_EQ(Archive(dir, names, threads, false), one) << threads << " threads";
    EXPECT_EQ(Archive(dir, names, threads, true), one) << threads << " threads, queued";
  }
  ExpectReadersAgree(dir, one, names);
}

// The entry data of the single file `name` archived on `threads` threads.
Bytes EntryData(const ScratchDir& dir, const std::string& name, unsigned threads) {
  const testing_util::ParsedArchive parsed =
      testing_util::ParseArchive(Archive(dir, {name}, threads, false));
  EXPECT_TRUE(parsed.ok) << parsed.error;
  return parsed.ok ? parsed.entries.at(0).data : Bytes{};
}

TEST(PieceDeflate, PiecesFromTheThresholdOnAndOneStreamBelowIt) {
  ScratchDir dir;
  const std::string content = Content(kPieceThreshold, 4);
  dir.Write("at.txt", content);
  dir.Write("under.txt", content.substr(0, kPieceThreshold - 1));
  Bytes single;
  size_t at = 0;
  const std::string under = content.substr(0, kPieceThreshold - 1);
  const DeflateResult result = DeflateCompress(
      kDeflateLevel, nullptr,
      [&](unsigned char* buffer, unsigned capacity) -> long {
        const size_t n = std::min<size_t>(capacity, under.size() - at);
        std::copy_n(under.data() + at, n, buffer);
        at += n;
        return static_cast<long>(n);
      },
      [&](const unsigned char* p, unsigned n) -> unsigned {
        single.insert(single.end(), p, p + n);
        return n;
      });
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(EntryData(dir, "under.txt", 3), single);
  // At the threshold the stream is another, the same on every thread count,
  // and hardly larger.
  const Bytes pieces = EntryData(dir, "at.txt", 1);
  EXPECT_NE(pieces, single);
  EXPECT_EQ(EntryData(dir, "at.txt", 3), pieces);
  EXPECT_LT(pieces.size(), single.size() + single.size() / 500);
  ExpectReadersAgree(dir, Archive(dir, {"at.txt", "under.txt"}, 2, false),
                     {"at.txt", "under.txt"});
}

}  // namespace
}  // namespace postrunner
