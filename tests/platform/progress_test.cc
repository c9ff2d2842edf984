#include "platform/progress.h"

#include <gtest/gtest.h>

namespace postrunner {
namespace {

TEST(ProgressTest, FormatsDoneTotalRateAndTimeLeft) {
  EXPECT_EQ(FormatProgress("db.dump", 0, 40'000'000, 0.0), "db.dump: 0.0 of 40.0 MB");
  EXPECT_EQ(FormatProgress("db.dump", 10'000'000, 40'000'000, 2.0),
            "db.dump: 10.0 of 40.0 MB, 5.0 MB/s, 0:06 left");
  // Unknown total (a pipe): no "of", no time left.
  EXPECT_EQ(FormatProgress("x", 3'000'000, 0, 1.0), "x: 3.0 MB, 3.0 MB/s");
  // Done: no time left.
  EXPECT_EQ(FormatProgress("x", 3'000'000, 3'000'000, 1.0), "x: 3.0 of 3.0 MB, 3.0 MB/s");
}

}  // namespace
}  // namespace postrunner
