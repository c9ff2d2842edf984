// Output failures injected at every write and every seek of a small
// archive: the archive that results lists exactly the entries whose
// addition succeeded, and the result codes say what failed.
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zip/zip_format.h"
#include "zip/zip_writer.h"
#include "zip_test_util.h"

namespace postrunner {
namespace {

using testing_util::FakeOutput;
using testing_util::FakeState;
using testing_util::ParseArchive;
using testing_util::ParsedArchive;

struct Added {
  const char* name;
  std::string data;
  uint32_t kind;
};

std::vector<Added> Scenario() {
  std::string big(40000, 'z');  // more than one transfer buffer
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
  return {{"first.gz", "stored data", SourceMemory},
          {"folder", "", SourceFolder},
          {"second.zip", big, SourceMemory},
          {"third.txt", "deflated data, deflated data, deflated data", SourceMemory}};
}

struct Outcome {
  std::vector<ArchiveResult> added;
  std::vector<int> errors;  // the writer's reason after each addition
  ArchiveResult closed = ResultOk;
  int close_error = 0;
  std::vector<std::string> listed_expected;
};

Outcome RunScenario(const std::shared_ptr<FakeState>& state) {
  ZipWriter writer(std::make_unique<FakeOutput>(state));
  Outcome out;
  for (const Added& a : Scenario()) {
    ArchiveResult r = writer.AddEntry(a.name, a.data.data(),
                                      static_cast<uint32_t>(a.data.size()), a.kind);
    out.added.push_back(r);
    errno = EINTR;  // what the caller does next cannot change the reason
    out.errors.push_back(writer.error());
    if (r == ResultOk) {
      out.listed_expected.push_back(a.kind == SourceFolder ? std::string(a.name) + "/" : a.name);
    }
  }
  out.closed = writer.Close();
  errno = EINTR;
  out.close_error = writer.error();
  return out;
}

std::vector<std::string> Names(const ParsedArchive& p) {
  std::vector<std::string> names;
  for (const auto& e : p.entries) names.push_back(e.name);
  return names;
}

TEST(ZipFailure, WriteFailingAtEachCall) {
  auto clean = std::make_shared<FakeState>();
  Outcome baseline = RunScenario(clean);
  ASSERT_EQ(baseline.listed_expected.size(), 4u);
  ASSERT_EQ(baseline.closed, ResultOk);
  int total_writes = clean->writes;
  ASSERT_GT(total_writes, 8);
  for (size_t partial : {size_t{0}, size_t{3}}) {
    for (int n = 1; n <= total_writes; ++n) {
      SCOPED_TRACE("write " + std::to_string(n) + " takes " + std::to_string(partial));
      auto state = std::make_shared<FakeState>();
      state->fail_write_at = n;
      state->partial = partial;
      Outcome o = RunScenario(state);
      int failed = 0;
      for (size_t i = 0; i < o.added.size(); ++i) {
        // A failed step gives the failed write's reason, a sound one none.
        EXPECT_EQ(o.errors[i], o.added[i] == ResultOk ? 0 : ENOSPC);
        if (o.added[i] != ResultOk) {
          ++failed;
          EXPECT_EQ(o.added[i], ErrWrite);
        }
      }
      EXPECT_EQ(o.close_error, o.closed == ResultOk ? 0 : ENOSPC);
      // One failed write fails at most one step: an entry, or the close.
      EXPECT_EQ(failed + (o.closed != ResultOk ? 1 : 0), 1);
      if (o.closed == ResultOk) {
        ParsedArchive p = ParseArchive(state->bytes);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(Names(p), o.listed_expected);
      } else {
        EXPECT_EQ(o.closed, ErrWrite);
        EXPECT_EQ(o.listed_expected.size(), 4u);
      }
      EXPECT_TRUE(state->finished);
    }
  }
}

TEST(ZipFailure, SeekFailingAtEachCall) {
  auto clean = std::make_shared<FakeState>();
  RunScenario(clean);
  // One back and one forward per entry, one to the directory's place.
  ASSERT_EQ(clean->seeks, 9);
  for (int n = 1; n <= 8; ++n) {
    SCOPED_TRACE("seek " + std::to_string(n));
    auto state = std::make_shared<FakeState>();
    state->fail_seek_at = n;
    Outcome o = RunScenario(state);
    size_t entry = static_cast<size_t>((n - 1) / 2);
    EXPECT_EQ(o.added[entry], ErrCannotSeek);
    if (n % 2 == 0) {
      // The way back to the end failed: later bytes could land inside the
      // archive, so the writer refuses everything after it.
      for (size_t later = entry + 1; later < o.added.size(); ++later) {
        EXPECT_EQ(o.added[later], ErrAlreadyFailed);
      }
    }
    EXPECT_EQ(o.closed, ResultOk);
    ParsedArchive p = ParseArchive(state->bytes);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(Names(p), o.listed_expected);
  }
  auto state = std::make_shared<FakeState>();
  state->fail_seek_at = 9;
  Outcome o = RunScenario(state);
  EXPECT_EQ(o.closed, ErrCannotSeek);
}

TEST(ZipFailure, OutputThatStopsForGoodKeepsEarlierEntriesListedNowhere) {
  // A disk that fills up: every write from the 5th on fails. The close
  // cannot write a directory and says so.
  auto state = std::make_shared<FakeState>();
  state->fail_write_at = 5;
  state->fail_all_after = true;
  Outcome o = RunScenario(state);
  EXPECT_EQ(o.closed, ErrWrite);
}

}  // namespace
}  // namespace postrunner
