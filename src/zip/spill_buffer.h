// SpillBuffer: a growing run of bytes kept in memory up to a fixed limit and
// beyond it in an unnamed scratch file, so that data produced ahead of its
// turn costs a bounded amount of memory whatever its size. The buffer owns
// its memory and its scratch file; both go when it is cleared or destroyed.
#ifndef POSTRUNNER_ZIP_SPILL_BUFFER_H_
#define POSTRUNNER_ZIP_SPILL_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/scoped_fd.h"

namespace postrunner {

class SpillBuffer {
 public:
  // Keeps at most `memory_limit` bytes in memory.
  explicit SpillBuffer(size_t memory_limit);
  SpillBuffer(const SpillBuffer&) = delete;
  SpillBuffer& operator=(const SpillBuffer&) = delete;

  // Appends `length` bytes. Returns false, with errno set, when the scratch
  // file could not be created or written; the buffer is then unusable until
  // cleared.
  [[nodiscard]] bool Append(const unsigned char* data, size_t length);

  // Bytes appended so far.
  [[nodiscard]] uint64_t size() const { return size_; }

  // Bytes held in memory.
  [[nodiscard]] size_t memory_size() const { return memory_.capacity(); }

  // Hands every byte, in order, to `sink` in pieces of at most 64 KiB;
  // `sink` returns false to stop. Returns true when all of them went out;
  // false when `sink` stopped (errno as the sink left it) or reading the
  // scratch file failed (errno set).
  [[nodiscard]] bool Replay(const std::function<bool(const unsigned char*, size_t)>& sink);

  // Releases the memory and the scratch file; the buffer is empty again.
  void Clear();

 private:
  size_t memory_limit_;
  std::vector<unsigned char> memory_;
  ScopedFd file_;          // the scratch file, once memory is full
  uint64_t size_ = 0;
  bool failed_ = false;
};

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_SPILL_BUFFER_H_
