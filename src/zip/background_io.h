// Moves an entry's reading and writing off the compressing thread. ReadAhead
// calls the entry's read (which counts and computes the CRC-32) on a thread
// of its own and hands the compressor filled buffers; WriteBehind takes the
// compressor's output into buffers and writes them on a thread of its own.
// Each keeps a small ring of buffers, so the threads run side by side with a
// bounded amount of memory, and the bytes and their order are unchanged.
//
// Either one falls back to calling its function directly on the caller's
// thread when no thread can be started. No exception leaves these classes;
// the destructors stop and join their threads on every path.
#ifndef POSTRUNNER_ZIP_BACKGROUND_IO_H_
#define POSTRUNNER_ZIP_BACKGROUND_IO_H_

#include <atomic>
#include <cstddef>
#include <thread>

#include "deflate/deflate.h"
#include "zip/slot_ring.h"

namespace postrunner {

class ReadAhead {
 public:
  // Reads through `source` (which must outlive this object and must never
  // block without end, as a read of a regular file does not): in buffers of
  // `slot_bytes`, at most `slots` of them ahead of the consumer.
  explicit ReadAhead(const DeflatePull& source, size_t slots = 4, size_t slot_bytes = 65536);
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  // Stops the reader (it may have read ahead of what was pulled) and joins it.
  ~ReadAhead();

  // The compressor's pull: copies up to `capacity` bytes in input order;
  // returns the count, 0 once the source has ended (it reported 0 or -1).
  long Pull(unsigned char* buffer, unsigned capacity);

  // True when the reader runs on its own thread.
  bool threaded() const { return reader_.joinable(); }

 private:
  void ReadLoop();

  const DeflatePull& source_;
  SlotRing ring_;
  std::thread reader_;
  SlotRing::Slot* current_ = nullptr;  // slot being drained by Pull
  size_t taken_ = 0;                   // bytes of it already pulled
  bool ended_ = false;
};

class WriteBehind {
 public:
  // Writes through `sink` (which must outlive this object), in buffers of
  // `slot_bytes`, at most `slots` of them waiting.
  explicit WriteBehind(const DeflatePush& sink, size_t slots = 4, size_t slot_bytes = 32768);
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;
  // Finishes the writing if Finish was not called.
  ~WriteBehind();

  // The compressor's push: takes all `length` bytes, or returns 0 once the
  // sink has been seen to take less than it was handed (later bytes are then
  // dropped).
  unsigned Push(const unsigned char* data, unsigned length);

  // Writes what is buffered and waits for the writer; returns true when the
  // sink took every byte pushed. Call once, after the last Push.
  bool Finish();

  bool threaded() const { return writer_.joinable(); }

 private:
  void WriteLoop();
  void PublishCurrent(bool last);

  const DeflatePush& sink_;
  SlotRing ring_;
  std::thread writer_;
  std::atomic<bool> failed_{false};
  SlotRing::Slot* current_ = nullptr;  // slot being filled by Push
  bool finished_ = false;
};

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_BACKGROUND_IO_H_
