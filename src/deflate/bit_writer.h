// Bit writer of the compressor: packs codes least significant bit first into
// a 16384-byte output buffer and hands the buffer to the caller's push
// function when it is full, at every byte alignment and before the bytes of a
// stored block, which go to the push function straight from the window.
//
// A push that takes fewer bytes than it was handed marks the writer failed;
// from then on nothing more is pushed and the compressor stops.
#ifndef POSTRUNNER_DEFLATE_BIT_WRITER_H_
#define POSTRUNNER_DEFLATE_BIT_WRITER_H_

#include <cstdint>

#include "deflate/deflate.h"
#include "deflate/deflate_tables.h"
#include "deflate/error_slot.h"

namespace postrunner {
namespace deflate {

class BitWriter {
 public:
  // `push` and `errors` must outlive the writer.
  BitWriter(const DeflatePush& push, ErrorSlot* errors) : push_(push), errors_(errors) {}
  BitWriter(const BitWriter&) = delete;
  BitWriter& operator=(const BitWriter&) = delete;

  // Appends the low `length` bits of `value` (length 1 to 15; other lengths
  // record "invalid length" and send nothing).
  void SendBits(unsigned value, int length) {
    if (length < 1 || length > 15) {
      errors_->Record("invalid length");
      return;
    }
    bits_sent_ += static_cast<unsigned>(length);
    bi_buf_ |= uint64_t{value} << bi_valid_;
    bi_valid_ += length;
    if (bi_valid_ >= 48) {
      PutSix(bi_buf_);
      bi_buf_ >>= 48;
      bi_valid_ -= 48;
    }
  }

  // Flushes the partial byte, hands the buffer over and rounds the bit
  // count up to whole bytes.
  void Windup();

  // Writes a stored block body: aligns, puts `length` and its complement,
  // hands the buffer over, then pushes `data` (length bytes) directly.
  void CopyStored(const uint8_t* data, unsigned length);

  // Bits sent so far, alignment padding included.
  [[nodiscard]] uint64_t bits_sent() const { return bits_sent_; }
  // Bytes the push function has taken.
  [[nodiscard]] uint64_t bytes_pushed() const { return bytes_pushed_; }
  // True once a push took fewer bytes than it was handed.
  [[nodiscard]] bool failed() const { return failed_; }

 private:
  void PutShort(unsigned w) {
    if (fill_ >= kOutBufSize - 1) HandOver();
    buf_[fill_++] = static_cast<uint8_t>(w);
    buf_[fill_++] = static_cast<uint8_t>(w >> 8);
  }
  // Puts the low six bytes of `w`, low byte first. Where they fit, one
  // eight-byte store (the two bytes beyond are overwritten later or never
  // handed over); near the end of the buffer, byte by byte.
  void PutSix(uint64_t w) {
    if (fill_ + 6 <= kOutBufSize) {
      uint8_t* p = buf_ + fill_;
      for (int i = 0; i < 8; i++) p[i] = static_cast<uint8_t>(w >> (8 * i));
      fill_ += 6;
    } else {
      for (int i = 0; i < 6; i++) PutByte(static_cast<unsigned>(w >> (8 * i)) & 0xFF);
    }
  }
  void PutByte(unsigned b) {
    if (fill_ >= kOutBufSize) HandOver();
    buf_[fill_++] = static_cast<uint8_t>(b);
  }
  // Pushes the filled part of the buffer and empties it.
  void HandOver();
  void Push(const uint8_t* data, unsigned length);

  const DeflatePush& push_;
  ErrorSlot* errors_;
  uint8_t buf_[kOutBufSize + 2];  // two bytes of slack for PutSix's wide store
  unsigned fill_ = 0;
  uint64_t bi_buf_ = 0;  // pending bits, fewer than 48 between calls
  int bi_valid_ = 0;
  uint64_t bits_sent_ = 0;
  uint64_t bytes_pushed_ = 0;
  bool failed_ = false;
};

}  // namespace deflate
}  // namespace postrunner

#endif  // POSTRUNNER_DEFLATE_BIT_WRITER_H_
