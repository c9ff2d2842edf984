// Tree building: tie order, dummy codes, and length limiting for skewed
// frequencies (the lengths must still form a complete prefix code).
#include "deflate/huffman_tree.h"

#include <gtest/gtest.h>

#include <vector>

namespace postrunner {
namespace deflate {
namespace {

struct Built {
  std::vector<int> lengths;
  int max_code = -1;
  int64_t opt_len = 0;
  const char* error = nullptr;
};

Built BuildFor(const std::vector<uint32_t>& freqs, int elems, int max_length) {
  static CodeTree tree;
  tree = CodeTree{};
  for (size_t i = 0; i < freqs.size(); i++) tree.freq[i] = freqs[i];
  TreeDesc desc{&tree, nullptr, kExtraBlBits, 0, elems, max_length};
  ErrorSlot errors;
  TreeBuilder builder(&errors);
  Built b;
  int64_t static_len = 0;
  builder.Build(&desc, &b.opt_len, &static_len);
  b.max_code = desc.max_code;
  for (int i = 0; i < elems; i++) b.lengths.push_back(tree.len[i]);
  b.error = errors.message;
  return b;
}

// Sum of 2^-length over the used codes, scaled by 2^15: exactly 2^15 for a
// complete code.
uint32_t Kraft(const std::vector<int>& lengths) {
  uint32_t sum = 0;
  for (int l : lengths)
    if (l) sum += 1u << (15 - l);
  return sum;
}

TEST(HuffmanTreeTest, EqualFrequenciesPreferShallowNodes) {
  // c and d (1 each) join first; the new node (2, depth 1) then loses the
  // tie against the leaves a and b, so all four codes get length 2.
  Built b = BuildFor({2, 2, 1, 1}, 19, 7);
  EXPECT_EQ(b.error, nullptr);
  EXPECT_EQ(std::vector<int>(b.lengths.begin(), b.lengths.begin() + 4),
            (std::vector<int>{2, 2, 2, 2}));
}

TEST(HuffmanTreeTest, FewerThanTwoCodesGetDummies) {
  std::vector<uint32_t> none(30, 0);
  Built empty = BuildFor(none, 30, 15);
  EXPECT_EQ(empty.max_code, 1);
  EXPECT_EQ(empty.lengths[0], 1);
  EXPECT_EQ(empty.lengths[1], 1);

  std::vector<uint32_t> one(30, 0);
  one[7] = 12;
  Built single = BuildFor(one, 30, 15);
  EXPECT_EQ(single.max_code, 7);
  EXPECT_EQ(single.lengths[0], 1);
  EXPECT_EQ(single.lengths[7], 1);
  EXPECT_EQ(single.error, nullptr);
}

std::vector<uint32_t> Fibonacci(int count, int elems) {
  std::vector<uint32_t> f(static_cast<size_t>(elems), 0);
  uint32_t a = 1, b = 1;
  for (int i = 0; i < count; i++) {
    f[static_cast<size_t>(i)] = a;
    uint32_t c = a + b;
    a = b;
    b = c;
  }
  return f;
}

// Fibonacci frequencies build the deepest possible tree; capping it at 15
// leaves capped inner nodes several levels below the maximum. Counting only
// capped leaves would leave these lengths over-subscribed.
TEST(HuffmanTreeTest, SkewedFrequenciesAreLimitedToACompleteCode) {
  for (int count = 17; count <= 24; count++) {
    Built b = BuildFor(Fibonacci(count, kLCodes), kLCodes, kMaxBits);
    EXPECT_EQ(b.error, nullptr) << count;
    int longest = 0;
    for (int l : b.lengths) longest = std::max(longest, l);
    EXPECT_EQ(longest, 15) << count;
    EXPECT_EQ(Kraft(b.lengths), 1u << 15) << count;
  }
  // The bit-length tree is limited to 7.
  for (int count = 9; count <= 19; count++) {
    Built b = BuildFor(Fibonacci(count, kBlCodes), kBlCodes, kMaxBlBits);
    EXPECT_EQ(b.error, nullptr) << count;
    uint32_t sum = 0;
    for (int l : b.lengths) {
      EXPECT_LE(l, 7);
      if (l) sum += 1u << (7 - l);
    }
    EXPECT_EQ(sum, 1u << 7) << count;
  }
}

TEST(HuffmanTreeTest, CodesAreCanonicalAndReversed) {
  // Lengths 2, 1, 3, 3 give codes 10, 0, 110, 111 (sent reversed).
  uint16_t len[4] = {2, 1, 3, 3};
  uint16_t code[4] = {};
  unsigned count[kMaxBits + 1] = {0, 1, 1, 2};
  ErrorSlot errors;
  GenCodes(code, len, 3, count, &errors);
  EXPECT_EQ(errors.message, nullptr);
  EXPECT_EQ(code[0], 0b01);
  EXPECT_EQ(code[1], 0b0);
  EXPECT_EQ(code[2], 0b011);
  EXPECT_EQ(code[3], 0b111);

  unsigned over[kMaxBits + 1] = {0, 2, 1};
  uint16_t len2[3] = {1, 1, 2};
  GenCodes(code, len2, 2, over, &errors);
  EXPECT_STREQ(errors.message, "inconsistent bit counts");
}

}  // namespace
}  // namespace deflate
}  // namespace postrunner
