// A ring of equal buffers passed between one producing and one consuming
// thread, in order: the producer takes a free slot, fills it and publishes
// it; the consumer takes the oldest published slot, drains it and releases
// it. Closing the ring wakes both sides and makes every later wait return
// null, so either side can stop the other.
#ifndef POSTRUNNER_ZIP_SLOT_RING_H_
#define POSTRUNNER_ZIP_SLOT_RING_H_

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

namespace postrunner {

class SlotRing {
 public:
  struct Slot {
    std::unique_ptr<unsigned char[]> data;
    size_t length = 0;  // bytes filled
    bool last = false;  // nothing follows this slot
  };

  // `slots` buffers (at least 1) of `slot_bytes` each.
  SlotRing(size_t slots, size_t slot_bytes);
  SlotRing(const SlotRing&) = delete;
  SlotRing& operator=(const SlotRing&) = delete;

  size_t slot_bytes() const { return slot_bytes_; }

  // Producer: waits for a free slot and returns it emptied; null once the
  // ring is closed.
  Slot* WaitFree();
  // Producer: hands the slot from WaitFree to the consumer.
  void Publish();

  // Consumer: waits for the oldest published slot; null once the ring is
  // closed.
  Slot* WaitFilled();
  // Consumer: gives the slot from WaitFilled back to the producer.
  void Release();

  // Wakes and stops both sides.
  void Close();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<Slot[]> slots_;
  size_t count_;
  size_t slot_bytes_;
  size_t produced_ = 0;  // slots published so far
  size_t consumed_ = 0;  // slots released so far
  bool closed_ = false;
};

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_SLOT_RING_H_
