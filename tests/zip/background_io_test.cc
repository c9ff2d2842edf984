// Reading ahead and writing behind on threads of their own: bytes arrive
// whole and in order whatever the piece sizes, failures and early stops keep
// their meaning, and every path ends with the thread joined.
#include "zip/background_io.h"

#include <gtest/gtest.h>

#include <vector>

namespace postrunner {
namespace {

std::vector<unsigned char> Pattern(size_t n) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; i++) v[i] = static_cast<unsigned char>(i * 7 + i / 251);
  return v;
}

// Slot count and size of the ring; small slots make pieces cross them.
class BackgroundIoTest : public testing::TestWithParam<std::pair<size_t, size_t>> {};

TEST_P(BackgroundIoTest, ReadAheadPassesTheSourceInOrderAndEnds) {
  const std::vector<unsigned char> input = Pattern(100000);
  size_t at = 0;
  DeflatePull source = [&](unsigned char* buffer, unsigned capacity) -> long {
    if (at == input.size()) return -1;  // a failed read ends the input like 0
    size_t n = std::min<size_t>({capacity, 333, input.size() - at});
    std::copy_n(input.data() + at, n, buffer);
    at += n;
    return static_cast<long>(n);
  };
  ReadAhead ahead(source, GetParam().first, GetParam().second);
  ASSERT_TRUE(ahead.threaded());
  std::vector<unsigned char> got;
  unsigned char buffer[1024];  // asks go up to 1015 bytes
  for (unsigned ask = 1;; ask = ask % 999 + 17) {
    long n = ahead.Pull(buffer, ask);
    ASSERT_GE(n, 0);
    ASSERT_LE(n, static_cast<long>(ask));
    if (n == 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  EXPECT_EQ(got, input);
  EXPECT_EQ(ahead.Pull(buffer, sizeof buffer), 0);
}

TEST_P(BackgroundIoTest, WriteBehindPassesPushesInOrderAndStopsAfterAShortWrite) {
  const std::vector<unsigned char> output = Pattern(70000);
  for (int fail_at : {0, 2}) {
    std::vector<unsigned char> written;
    int calls = 0;
    DeflatePush sink = [&](const unsigned char* data, unsigned length) -> unsigned {
      unsigned take = ++calls == fail_at ? length / 2 : length;
      written.insert(written.end(), data, data + take);
      return take;
    };
    WriteBehind behind(sink, GetParam().first, GetParam().second);
    ASSERT_TRUE(behind.threaded());
    size_t at = 0;
    bool refused = false;
    for (unsigned piece = 1; at < output.size() && !refused; piece = piece * 3 % 20011) {
      unsigned n = static_cast<unsigned>(std::min<size_t>(piece, output.size() - at));
      unsigned taken = behind.Push(output.data() + at, n);
      refused = taken == 0;
      if (!refused) {
        EXPECT_EQ(taken, n);
      }
      at += n;
    }
    EXPECT_EQ(behind.Finish(), fail_at == 0);
    if (fail_at == 0) {
      EXPECT_EQ(written, output);
    } else {
      // Only a prefix arrived; nothing after the short write.
      ASSERT_LT(written.size(), output.size());
      EXPECT_TRUE(std::equal(written.begin(), written.end(), output.begin()));
      EXPECT_EQ(calls, fail_at);
    }
    EXPECT_EQ(behind.Push(output.data(), 1), 0u);  // nothing after Finish
  }
}

TEST_P(BackgroundIoTest, EarlyStopsJoinTheThreads) {
  // A reader abandoned with the source unfinished, and a writer never
  // finished: the destructors stop and flush, and nothing hangs.
  long reads = 0;
  DeflatePull endless = [&](unsigned char* buffer, unsigned capacity) -> long {
    reads++;
    std::fill_n(buffer, capacity, 1);
    return capacity;
  };
  std::vector<unsigned char> written;
  DeflatePush sink = [&](const unsigned char* data, unsigned length) -> unsigned {
    written.insert(written.end(), data, data + length);
    return length;
  };
  {
    ReadAhead ahead(endless, GetParam().first, GetParam().second);
    unsigned char buffer[10] = {};
    EXPECT_GT(ahead.Pull(buffer, 1), 0);
    std::fill_n(buffer, sizeof buffer, 1);
    WriteBehind behind(sink, GetParam().first, GetParam().second);
    EXPECT_EQ(behind.Push(buffer, 10), 10u);
  }
  EXPECT_GT(reads, 0);
  EXPECT_EQ(written, std::vector<unsigned char>(10, 1));
}

INSTANTIATE_TEST_SUITE_P(Rings, BackgroundIoTest,
                         testing::Values(std::make_pair(size_t{1}, size_t{7}),
                                         std::make_pair(size_t{3}, size_t{4096}),
                                         std::make_pair(size_t{4}, size_t{65536})));

}  // namespace
}  // namespace postrunner
