#include "deflate/bit_writer.h"

namespace postrunner {
namespace deflate {

void BitWriter::Push(const uint8_t* data, unsigned length) {
  if (failed_ || length == 0) return;
  unsigned taken = push_(data, length);
  if (taken > length) taken = length;
  bytes_pushed_ += taken;
  if (taken < length) failed_ = true;
}

void BitWriter::HandOver() {
  Push(buf_, fill_);
  fill_ = 0;
}

void BitWriter::Windup() {
  for (; bi_valid_ > 0; bi_valid_ -= 8) {
    PutByte(static_cast<unsigned>(bi_buf_) & 0xFF);
    bi_buf_ >>= 8;
  }
  HandOver();
  bi_buf_ = 0;
  bi_valid_ = 0;
  bits_sent_ = (bits_sent_ + 7) & ~uint64_t{7};
}

void BitWriter::CopyStored(const uint8_t* data, unsigned length) {
  Windup();
  PutShort(length & 0xFFFF);
  PutShort(~length & 0xFFFF);
  bits_sent_ += 2 * 16;
  HandOver();
  Push(data, length);
  bits_sent_ += uint64_t{length} << 3;
}

}  // namespace deflate
}  // namespace postrunner
