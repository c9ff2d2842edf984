// The optimised match search must give exactly the stream of the plain chain
// walk (reference_match.h): the compressor is run with each and the bytes
// compared.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "deflate/matcher.h"
#include "deflate/reference_match.h"
#include "deflate/test_inputs.h"

namespace postrunner {
namespace deflate {
namespace {

using test::Bytes;

Bytes Compress(const Bytes& data, int level, LongestMatchFn search, unsigned chunk) {
  Bytes out;
  size_t pos = 0;
  DeflateResult r = DeflateCompressWith(level, nullptr, test::PullFrom(data, &pos, chunk),
                                        test::PushTo(&out), search);
  EXPECT_EQ(r.error, "");
  return out;
}

void ExpectSameStream(const Bytes& data, int level = 8, unsigned chunk = 1u << 30) {
  Bytes fast = Compress(data, level, LongestMatch, chunk);
  Bytes ref = Compress(data, level, ReferenceLongestMatch, chunk);
  ASSERT_EQ(fast.size(), ref.size());
  EXPECT_TRUE(fast == ref);
}

TEST(ReferenceMatchTest, SameStreamOnVariedInputs) {
  ExpectSameStream({});
  ExpectSameStream({'a'});
  ExpectSameStream({'a', 'a', 'a', 'a'});
  ExpectSameStream(test::Text(700000, 1));
  ExpectSameStream(test::RandomBytes(200000, 2));
  ExpectSameStream(test::Skewed(400000, 3));
  ExpectSameStream(test::Records(600000, 4));
  ExpectSameStream(Bytes(300000, 0));
  ExpectSameStream(test::Mixed(3000000, 5));
}

TEST(ReferenceMatchTest, SameStreamAtEveryLevelAndReadSize) {
  Bytes data = test::Mixed(800000, 6);
  for (int level = kMinLevel; level <= kMaxLevel; level++) ExpectSameStream(data, level);
  ExpectSameStream(data, 8, 1000);
}

// Ends of input that fall inside a long match, where the search compares
// bytes past the lookahead; sizes from 65275 to 65536 make the window slide
// after the input has ended.
TEST(ReferenceMatchTest, SameStreamWhenInputEndsInsideMatches) {
  Bytes unit = test::Text(5000, 7);
  for (size_t n : {65280u, 65400u, 65536u, 70001u, 70002u, 70255u, 98304u, 131072u + 3}) {
    Bytes data;
    while (data.size() < n) data.insert(data.end(), unit.begin(), unit.end());
    data.resize(n);
    ExpectSameStream(data);
  }
}

// Long matches of random fragments, read in small pieces: the matcher then
// inserts strings whose longer keys reach bytes not read yet, and those
// strings must still be found once the bytes arrive.
TEST(ReferenceMatchTest, SameStreamWhenKeysOutrunTheInput) {
  for (uint32_t seed = 1; seed <= 8; seed++) {
    Bytes base = test::RandomBytes(3000, seed);
    Bytes data;
    uint32_t x = seed * 2654435761u;
    auto next = [&x] {
      x = x * 1103515245u + 12345u;
      return x >> 8;
    };
    while (data.size() < 300000) {
      size_t len = 240 + next() % 40;
      size_t at = next() % (base.size() - len);
      data.insert(data.end(), base.begin() + at, base.begin() + at + len);
      data.push_back(static_cast<uint8_t>(next()));
    }
    for (unsigned chunk : {1u, 3u}) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << ", reads of " << chunk);
      ExpectSameStream(data, 8, chunk);
    }
  }
}

// A string whose only earlier copy lies exactly as far back as a match may
// reach (or one byte nearer or farther), alone on its 3-byte chain: the plain
// walk takes the chain's head even at that distance.
TEST(ReferenceMatchTest, SameStreamWhenTheOnlyCopyIsAtTheDistanceLimit) {
  const Bytes copy = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87};
  auto hash = [](unsigned a, unsigned b, unsigned c) {
    return ((((a << kHashShift) ^ b) << kHashShift) ^ c) & kHashMask;
  };
  const unsigned avoid = hash(copy[0], copy[1], copy[2]);
  for (unsigned distance : {kMaxDist - 1, kMaxDist, kMaxDist + 1}) {
    // Text, so that the blocks are coded rather than stored.
    Bytes data = test::Text(5000, 9);
    Bytes noise = test::Text(2 * kWSize, 10);
    size_t next_noise = 0;
    // Text whose strings never share the copy's 3-byte chain.
    auto fill_to = [&](size_t size) {
      while (data.size() < size) {
        uint8_t b = noise[next_noise++];
        size_t n = data.size();
        while (hash(data[n - 2], data[n - 1], b) == avoid) b++;
        data.push_back(b);
      }
    };
    const size_t first = data.size();
    data.insert(data.end(), copy.begin(), copy.end());
    fill_to(first + distance);
    data.insert(data.end(), copy.begin(), copy.end());
    fill_to(data.size() + 1000);
    SCOPED_TRACE(testing::Message() << "distance " << distance);
    ExpectSameStream(data);
  }
}

// Large real inputs, opt-in: DEFLATE_REFERENCE_FILES holds a colon-separated
// list of files (scripts/bench --verify passes the benchmark corpus).
TEST(ReferenceMatchTest, SameStreamOnListedFiles) {
  const char* list = std::getenv("DEFLATE_REFERENCE_FILES");
  if (list == nullptr || *list == '\0') GTEST_SKIP() << "DEFLATE_REFERENCE_FILES not set";
  std::string files = list;
  size_t start = 0;
  while (start <= files.size()) {
    size_t end = files.find(':', start);
    if (end == std::string::npos) end = files.size();
    std::string path = files.substr(start, end - start);
    start = end + 1;
    if (path.empty()) continue;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path;
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(path);
    ExpectSameStream(data);
    ExpectSameStream(data, 8, 4000);
  }
}

}  // namespace
}  // namespace deflate
}  // namespace postrunner
