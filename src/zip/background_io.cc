#include "zip/background_io.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace postrunner {

ReadAhead::ReadAhead(const DeflatePull& source, size_t slots, size_t slot_bytes)
    : source_(source), ring_(slots, slot_bytes) {
  try {
    reader_ = std::thread([this] { ReadLoop(); });
  } catch (const std::system_error&) {
    // No thread: Pull calls the source itself.
  }
}

ReadAhead::~ReadAhead() {
  ring_.Close();
  if (reader_.joinable()) reader_.join();
}

void ReadAhead::ReadLoop() {
  while (SlotRing::Slot* slot = ring_.WaitFree()) {
    // Fill the slot, as a file read would, unless the input ends.
    while (slot->length < ring_.slot_bytes()) {
      size_t room = ring_.slot_bytes() - slot->length;
      long n = source_(slot->data.get() + slot->length, static_cast<unsigned>(room));
      if (n <= 0) {
        slot->last = true;
        break;
      }
      slot->length += std::min(static_cast<size_t>(n), room);
    }
    bool last = slot->last;
    ring_.Publish();
    if (last) return;
  }
}

long ReadAhead::Pull(unsigned char* buffer, unsigned capacity) {
  if (!threaded()) return source_(buffer, capacity);
  while (!ended_) {
    if (current_ == nullptr) {
      current_ = ring_.WaitFilled();
      taken_ = 0;
      if (current_ == nullptr) {
        ended_ = true;
        break;
      }
    }
    if (taken_ < current_->length) {
      size_t n = std::min<size_t>(capacity, current_->length - taken_);
      std::memcpy(buffer, current_->data.get() + taken_, n);
      taken_ += n;
      return static_cast<long>(n);
    }
    ended_ = current_->last;
    current_ = nullptr;
    ring_.Release();
  }
  return 0;
}

WriteBehind::WriteBehind(const DeflatePush& sink, size_t slots, size_t slot_bytes)
    : sink_(sink), ring_(slots, slot_bytes) {
  try {
    writer_ = std::thread([this] { WriteLoop(); });
  } catch (const std::system_error&) {
    // No thread: Push calls the sink itself.
  }
}

WriteBehind::~WriteBehind() { Finish(); }

void WriteBehind::WriteLoop() {
  while (SlotRing::Slot* slot = ring_.WaitFilled()) {
    // After a short write the rest is dropped, as the compressor stops
    // pushing once it sees the failure.
    if (!failed_.load(std::memory_order_relaxed) && slot->length > 0) {
      unsigned length = static_cast<unsigned>(slot->length);
      if (sink_(slot->data.get(), length) < length) failed_.store(true, std::memory_order_relaxed);
    }
    bool last = slot->last;
    ring_.Release();
    if (last) return;
  }
}

void WriteBehind::PublishCurrent(bool last) {
  current_->last = last;
  current_ = nullptr;
  ring_.Publish();
}

unsigned WriteBehind::Push(const unsigned char* data, unsigned length) {
  if (finished_ || failed_.load(std::memory_order_relaxed)) return 0;
  if (!threaded()) {
    unsigned taken = sink_(data, length);
    if (taken < length) failed_.store(true, std::memory_order_relaxed);
    return taken;
  }
  unsigned done = 0;
  while (done < length) {
    if (current_ == nullptr) current_ = ring_.WaitFree();
    if (current_ == nullptr) return 0;  // the ring was closed
    size_t n = std::min<size_t>(length - done, ring_.slot_bytes() - current_->length);
    std::memcpy(current_->data.get() + current_->length, data + done, n);
    current_->length += n;
    done += static_cast<unsigned>(n);
    if (current_->length == ring_.slot_bytes()) PublishCurrent(false);
  }
  return length;
}

bool WriteBehind::Finish() {
  if (!finished_) {
    finished_ = true;
    if (threaded()) {
      if (current_ == nullptr) current_ = ring_.WaitFree();
      if (current_ != nullptr) PublishCurrent(true);
      writer_.join();
    }
  }
  return !failed_.load(std::memory_order_relaxed);
}

}  // namespace postrunner
