// Block emission over recorded symbols: block-type choice and code lengths
// under skewed frequencies.
#include "deflate/block_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

namespace postrunner {
namespace deflate {
namespace {

struct Emitter {
  std::vector<uint8_t> bytes;
  DeflatePush push = [this](const unsigned char* p, unsigned n) -> unsigned {
    bytes.insert(bytes.end(), p, p + n);
    return n;
  };
  ErrorSlot errors;
  BitWriter out{push, &errors};
  BlockRecorder recorder{&out, &errors, 8};
};

uint32_t KraftSum(const CodeTree& tree, int codes) {
  uint32_t sum = 0;
  for (int i = 0; i < codes; i++) {
    EXPECT_LE(tree.len[i], 15);
    if (tree.len[i]) sum += 1u << (15 - tree.len[i]);
  }
  return sum;
}

// Literals whose counts follow the Fibonacci numbers (1, 2, 3, 5, ... next
// to the end-of-block code's 1) need code lengths up to 20; the emitted block
// must come out limited to 15 and complete.
TEST(BlockRecorderTest, FibonacciLiteralCountsGiveACompleteLimitedCode) {
  auto e = std::make_unique<Emitter>();
  e->recorder.Init();
  std::vector<unsigned> symbols;
  unsigned a = 1, b = 2;
  for (unsigned lit = 0; lit < 20; lit++) {
    symbols.insert(symbols.end(), a, lit * 7);
    unsigned c = a + b;
    a = b;
    b = c;
  }
  std::shuffle(symbols.begin(), symbols.end(), std::mt19937(3));
  ASSERT_LT(symbols.size(), 32767u);
  // One block: whether the recorder would end it early does not matter here.
  for (size_t i = 0; i < symbols.size(); i++) {
    (void)e->recorder.Tally(0, symbols[i], static_cast<int64_t>(i + 1));
  }
  uint64_t size = e->recorder.FlushBlock(nullptr, symbols.size(), true);

  EXPECT_EQ(e->errors.message, nullptr);
  EXPECT_EQ(size, e->bytes.size());
  ASSERT_FALSE(e->bytes.empty());
  EXPECT_EQ(e->bytes[0] & 0x7, 0x5);  // last block, dynamic codes
  const CodeTree& lt = e->recorder.literal_tree();
  EXPECT_EQ(KraftSum(lt, kLCodes), 1u << 15);
  EXPECT_EQ(*std::max_element(lt.len, lt.len + kLCodes), 15);
}

// Matches whose distance codes follow the Fibonacci numbers: the distance
// tree is limited the same way.
TEST(BlockRecorderTest, FibonacciDistanceCountsGiveACompleteLimitedCode) {
  auto e = std::make_unique<Emitter>();
  e->recorder.Init();
  static const unsigned kDistBase[kDCodes] = {
      1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
      33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
      1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  std::vector<unsigned> dists;
  unsigned a = 1, b = 1;
  for (unsigned code = 0; code < 21; code++) {
    dists.insert(dists.end(), a, kDistBase[29 - code]);
    unsigned c = a + b;
    a = b;
    b = c;
  }
  std::shuffle(dists.begin(), dists.end(), std::mt19937(4));
  int64_t input = 0;
  for (unsigned d : dists) {
    input += 10;
    (void)e->recorder.Tally(d, 7, input);  // one block, as above
  }
  (void)e->recorder.FlushBlock(nullptr, static_cast<uint64_t>(input), true);
  EXPECT_EQ(e->errors.message, nullptr);
  const CodeTree& dt = e->recorder.distance_tree();
  EXPECT_EQ(KraftSum(dt, kDCodes), 1u << 15);
  EXPECT_EQ(*std::max_element(dt.len, dt.len + kDCodes), 15);
}

TEST(BlockRecorderTest, BadMatchIsRecorded) {
  auto e = std::make_unique<Emitter>();
  e->recorder.Init();
  (void)e->recorder.Tally(kMaxDist + 1, 0, 100);
  EXPECT_STREQ(e->errors.message, "ct_tally: bad match");
}

TEST(BlockRecorderTest, BlockEndsAtTheSymbolLimit) {
  auto e = std::make_unique<Emitter>();
  e->recorder.Init();
  bool end = false;
  unsigned n = 0;
  // Literals that do not compress: no early end, only the buffer limit.
  std::mt19937 rng(5);
  while (!end) end = e->recorder.Tally(0, rng() & 0xFF, ++n);
  EXPECT_EQ(n, 32767u);
}

}  // namespace
}  // namespace deflate
}  // namespace postrunner
