// The /SplitSize: value: units, rounding to whole base64 groups, refusals.
#include "driver/split_size.h"

#include <gtest/gtest.h>

#include "mail/file_pieces.h"

namespace postrunner {
namespace {

TEST(SplitSizeTest, ReadsCountsWithUnitsRoundedDownToMultiplesOfThree) {
  const struct {
    const char* text;
    int64_t size;  // 0: refused
  } cases[] = {
      {"998001", 998001}, {"3", 3},          {"5", 3},         {"1000", 999},
      {"1K", 1023},       {"1k", 1023},      {"2M", 2097150},  {"10m", 10485759},
      {"0003", 3},        {"2", 0},          {"0", 0},         {"", 0},
      {"K", 0},           {"-6", 0},         {"6 ", 0},        {"6KB", 0},
      {"1.5M", 0},        {"99999999999999999999", 0},         {"1125899906842624K", 0},
      // Would wrap past 64 bits to 1 MiB (and to 0) if multiplied unchecked.
      {"17592186044417M", 0}, {"1125899906842624M", 0},
  };
  for (const auto& c : cases) {
    int64_t size = -1;
    EXPECT_EQ(ParseSplitSize(c.text, &size), c.size != 0) << c.text;
    EXPECT_EQ(size, c.size != 0 ? c.size : -1) << c.text;
  }
  for (const char* text : {"auto", "AUTO", "Auto"}) {
    int64_t size = -1;
    EXPECT_TRUE(ParseSplitSize(text, &size)) << text;
    EXPECT_EQ(size, kAutoPieceSize) << text;
  }
  int64_t size = -1;
  EXPECT_FALSE(ParseSplitSize("autoK", &size));
  EXPECT_FALSE(ParseSplitSize("auto ", &size));
}

// A 5 GiB archive in the default pieces: counted with 64-bit sizes, the last
// piece holds what is left, and nothing is cut for an empty file.
TEST(SplitSizeTest, PiecesOfFilesPastFourGibibytes) {
  const int64_t size = 5LL << 30;
  EXPECT_EQ(PieceCount(size, 998001), 5380);
  EXPECT_EQ(PieceLength(size, 998001, 5379), 998001);
  EXPECT_EQ(PieceLength(size, 998001, 5380), 461741);
  EXPECT_EQ(PieceCount(0, 998001), 1);
  EXPECT_EQ(PieceCount(998001, 998001), 1);
  EXPECT_EQ(PieceCount(998002, 998001), 2);
}

}  // namespace
}  // namespace postrunner
