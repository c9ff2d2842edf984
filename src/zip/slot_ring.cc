#include "zip/slot_ring.h"

namespace postrunner {

SlotRing::SlotRing(size_t slots, size_t slot_bytes)
    : slots_(std::make_unique<Slot[]>(slots == 0 ? 1 : slots)),
      count_(slots == 0 ? 1 : slots),
      slot_bytes_(slot_bytes) {
  for (size_t i = 0; i < count_; i++) slots_[i].data = std::make_unique<unsigned char[]>(slot_bytes);
}

SlotRing::Slot* SlotRing::WaitFree() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return closed_ || produced_ - consumed_ < count_; });
  if (closed_) return nullptr;
  Slot* slot = &slots_[produced_ % count_];
  slot->length = 0;
  slot->last = false;
  return slot;
}

void SlotRing::Publish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    produced_++;
  }
  changed_.notify_all();
}

SlotRing::Slot* SlotRing::WaitFilled() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return closed_ || produced_ != consumed_; });
  if (closed_) return nullptr;
  return &slots_[consumed_ % count_];
}

void SlotRing::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    consumed_++;
  }
  changed_.notify_all();
}

void SlotRing::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace postrunner
