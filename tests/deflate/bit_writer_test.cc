// Bit packing, alignment, stored copies and buffer hand-over.
#include "deflate/bit_writer.h"

#include <gtest/gtest.h>

#include <vector>

namespace postrunner {
namespace deflate {
namespace {

struct Sink {
  std::vector<uint8_t> bytes;
  std::vector<unsigned> sizes;
  int fail_at = 0;  // call number that takes one byte less
  DeflatePush push = [this](const unsigned char* p, unsigned n) -> unsigned {
    sizes.push_back(n);
    unsigned take = static_cast<int>(sizes.size()) == fail_at ? n - 1 : n;
    bytes.insert(bytes.end(), p, p + take);
    return take;
  };
};

TEST(BitWriterTest, PacksLeastSignificantBitFirstAndAligns) {
  Sink sink;
  ErrorSlot errors;
  BitWriter w(sink.push, &errors);
  w.SendBits(0b1, 1);
  w.SendBits(0b10, 2);
  w.SendBits(0x7FFF, 15);
  w.SendBits(0b101, 3);
  EXPECT_EQ(w.bits_sent(), 21u);
  w.Windup();
  EXPECT_EQ(w.bits_sent(), 24u);
  // bits: 1 | 01 | 111111111111111 | 101
  EXPECT_EQ(sink.bytes, (std::vector<uint8_t>{0xFD, 0xFF, 0x17}));
  EXPECT_EQ(errors.message, nullptr);
}

TEST(BitWriterTest, RejectsInvalidLengths) {
  Sink sink;
  ErrorSlot errors;
  BitWriter w(sink.push, &errors);
  w.SendBits(0, 0);
  EXPECT_STREQ(errors.message, "invalid length");
  errors.message = nullptr;
  w.SendBits(0, 16);
  EXPECT_STREQ(errors.message, "invalid length");
  EXPECT_EQ(w.bits_sent(), 0u);
}

TEST(BitWriterTest, StoredCopyAlignsThenWritesHeaderAndData) {
  Sink sink;
  ErrorSlot errors;
  BitWriter w(sink.push, &errors);
  const uint8_t data[3] = {'a', 'b', 'c'};
  w.SendBits(1, 3);
  w.CopyStored(data, 3);
  EXPECT_EQ(sink.bytes, (std::vector<uint8_t>{0x01, 3, 0, 0xFC, 0xFF, 'a', 'b', 'c'}));
  EXPECT_EQ(sink.sizes, (std::vector<unsigned>{1, 4, 3}));
  EXPECT_EQ(w.bits_sent(), 64u);
}

TEST(BitWriterTest, HandsOverFullBuffers) {
  Sink sink;
  ErrorSlot errors;
  BitWriter w(sink.push, &errors);
  for (int i = 0; i < 20000; i++) w.SendBits(i & 0xFF, 8);
  w.Windup();
  ASSERT_EQ(sink.bytes.size(), 20000u);
  for (int i = 0; i < 20000; i++) ASSERT_EQ(sink.bytes[static_cast<size_t>(i)], i & 0xFF);
  EXPECT_EQ(sink.sizes, (std::vector<unsigned>{16384, 20000 - 16384}));
  EXPECT_EQ(w.bytes_pushed(), 20000u);
}

TEST(BitWriterTest, ShortPushFailsAndStopsPushing) {
  Sink sink;
  sink.fail_at = 1;
  ErrorSlot errors;
  BitWriter w(sink.push, &errors);
  for (int i = 0; i < 40000; i++) w.SendBits(0x55, 8);
  const uint8_t data[2] = {1, 2};
  w.CopyStored(data, 2);
  EXPECT_TRUE(w.failed());
  EXPECT_EQ(sink.sizes.size(), 1u);
  EXPECT_EQ(w.bytes_pushed(), 16383u);
}

}  // namespace
}  // namespace deflate
}  // namespace postrunner
