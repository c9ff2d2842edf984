// The compressor through its public entry: exact bytes where the format
// fixes them, flags, refused levels, input ends and output failures.
#include "deflate/deflate.h"

#include <gtest/gtest.h>

#include "deflate/test_inputs.h"

namespace postrunner {
namespace {

using test::Bytes;

struct Outcome {
  DeflateResult result;
  Bytes out;
  std::vector<unsigned> push_sizes;
  uint16_t flags = 0;
};

Outcome Compress(const Bytes& data, int level = 8, uint16_t flags = 0) {
  Outcome run;
  run.flags = flags;
  size_t pos = 0;
  DeflatePush push = [&run](const unsigned char* p, unsigned n) -> unsigned {
    run.out.insert(run.out.end(), p, p + n);
    run.push_sizes.push_back(n);
    return n;
  };
  run.result = DeflateCompress(level, &run.flags, test::PullFrom(data, &pos), push);
  return run;
}

TEST(DeflateTest, EmptyInputIsOneFixedLastBlock) {
  Outcome run = Compress({});
  EXPECT_EQ(run.result.error, "");
  EXPECT_FALSE(run.result.output_failed);
  EXPECT_EQ(run.out, (Bytes{0x03, 0x00}));
  EXPECT_EQ(run.result.compressed_size, 2u);
}

TEST(DeflateTest, IncompressibleBlockIsStoredWithFiveBytesOfHeader) {
  Bytes data = test::RandomBytes(30000, 7);
  Outcome run = Compress(data);
  ASSERT_EQ(run.result.error, "");
  ASSERT_EQ(run.out.size(), data.size() + 5);
  EXPECT_EQ(run.out[0], 0x01);  // last block, stored, padded to the byte
  EXPECT_EQ(run.out[1] | run.out[2] << 8, 30000);
  EXPECT_EQ(run.out[3] | run.out[4] << 8, 30000 ^ 0xFFFF);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), run.out.begin() + 5));
  // Header bytes through the buffer, then the data straight from the window.
  EXPECT_EQ(run.push_sizes, (std::vector<unsigned>{1, 4, 30000}));
}

TEST(DeflateTest, SizeEqualsBytesPushedAndBufferedPiecesAreSmall) {
  Bytes data = test::Mixed(1500000, 3);
  Outcome run = Compress(data);
  ASSERT_EQ(run.result.error, "");
  EXPECT_EQ(run.result.compressed_size, run.out.size());
  for (unsigned n : run.push_sizes) EXPECT_GT(n, 0u);
  // The same input compresses to the same bytes every time.
  EXPECT_EQ(Compress(data).out, run.out);
}

TEST(DeflateTest, LevelEightAddsItsFlagBitOnly) {
  EXPECT_EQ(Compress(test::Text(100, 1), 8, 0x0008).flags, 0x000A);
  EXPECT_EQ(Compress(test::Text(100, 1), 6, 0x0008).flags, 0x0008);
  EXPECT_EQ(Compress(test::Text(100, 1), 4, 0).flags, 0x0000);
}

TEST(DeflateTest, UnsupportedLevelsAreRefusedWithoutOutput) {
  for (int level : {-1, 0, 1, 2, 3, 9, 10}) {
    Outcome run = Compress(test::Text(1000, 1), level);
    EXPECT_EQ(run.result.error, "bad pack level") << level;
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(run.flags, 0);
  }
}

TEST(DeflateTest, NullFlagsPointerIsAllowed) {
  size_t pos = 0;
  Bytes data = test::Text(5000, 2), out;
  DeflateResult r = DeflateCompress(8, nullptr, test::PullFrom(data, &pos), test::PushTo(&out));
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.compressed_size, out.size());
}

TEST(DeflateTest, FailingReadEndsTheInput) {
  Bytes data = test::Text(100000, 5);
  Bytes first(data.begin(), data.begin() + 70000);
  size_t pos = 0;
  int calls = 0;
  DeflatePull pull = [&](unsigned char* buffer, unsigned capacity) -> long {
    if (pos >= first.size()) return calls++ == 0 ? -1 : 0;
    unsigned n = std::min<unsigned>(capacity, static_cast<unsigned>(first.size() - pos));
    std::copy(first.begin() + static_cast<long>(pos), first.begin() + static_cast<long>(pos + n),
              buffer);
    pos += n;
    return n;
  };
  Bytes out_failing, out_plain;
  DeflateResult r = DeflateCompress(8, nullptr, pull, test::PushTo(&out_failing));
  EXPECT_EQ(r.error, "");
  size_t pos2 = 0;
  EXPECT_EQ(DeflateCompress(8, nullptr, test::PullFrom(first, &pos2), test::PushTo(&out_plain)).error,
            "");
  EXPECT_EQ(out_failing, out_plain);
}

// A push that takes less than it is handed on its Nth call stops the run:
// no further push and no further reading of the input.
TEST(DeflateTest, ShortPushStopsCompression) {
  Bytes data = test::Mixed(4000000, 11);
  for (bool take_nothing : {false, true}) {
    for (int fail_at : {1, 2, 5, 40}) {
      int calls = 0;
      uint64_t taken = 0;
      DeflatePush push = [&](const unsigned char*, unsigned n) -> unsigned {
        ++calls;
        unsigned t = calls == fail_at ? (take_nothing ? 0 : n - 1) : n;
        taken += t;
        return t;
      };
      size_t pos = 0;
      DeflateResult r = DeflateCompress(8, nullptr, test::PullFrom(data, &pos, 4096), push);
      EXPECT_TRUE(r.output_failed) << fail_at;
      EXPECT_EQ(calls, fail_at);
      EXPECT_EQ(r.compressed_size, taken);
      EXPECT_LT(pos, data.size()) << "input read on after the output failed";
    }
  }
}

// A Deflater kept from one input to the next gives each input the bytes a
// fresh compressor gives it; a failed run leaves nothing behind for the next
// one.
TEST(DeflateTest, ReusedDeflaterGivesFreshBytes) {
  const Bytes inputs[] = {test::Mixed(300000, 21), test::Text(7000, 4), {},
                          test::Mixed(200000, 9), test::Text(120, 5)};
  Deflater deflater;
  for (const Bytes& data : inputs) {
    Bytes out;
    size_t pos = 0;
    DeflateResult r = deflater.Compress(8, nullptr, test::PullFrom(data, &pos), test::PushTo(&out));
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(out, Compress(data).out) << data.size();
    // A run whose output fails at once, between two good ones.
    DeflatePush refuse = [](const unsigned char*, unsigned) -> unsigned { return 0; };
    pos = 0;
    EXPECT_TRUE(deflater.Compress(8, nullptr, test::PullFrom(data, &pos), refuse).output_failed);
  }
}

}  // namespace
}  // namespace postrunner
