#include "zip/spill_buffer.h"

#include <algorithm>
#include <cerrno>

#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/temp_file.h"

namespace postrunner {
namespace {

constexpr size_t kReplayPiece = 65536;

}  // namespace

SpillBuffer::SpillBuffer(size_t memory_limit) : memory_limit_(memory_limit) {}

bool SpillBuffer::Append(const unsigned char* data, size_t length) {
  if (failed_) return false;
  if (!file_.valid() && memory_.size() + length <= memory_limit_) {
    if (memory_.size() + length > memory_.capacity()) {
      // Grows as a vector does, but never past the limit.
      memory_.reserve(std::min(memory_limit_, std::max(2 * memory_.capacity(),
                                                       memory_.size() + length)));
    }
    memory_.insert(memory_.end(), data, data + length);
    size_ += length;
    return true;
  }
  if (!file_.valid()) (void)file_.Reset(CreateUnnamedTempFile());  // nothing to close yet
  if (!file_.valid() || WriteAll(file_.get(), data, length) != length) {
    failed_ = true;
    return false;
  }
  size_ += length;
  return true;
}

bool SpillBuffer::Replay(const std::function<bool(const unsigned char*, size_t)>& sink) {
  if (failed_) return false;
  for (size_t at = 0; at < memory_.size(); at += kReplayPiece) {
    if (!sink(memory_.data() + at, std::min(kReplayPiece, memory_.size() - at))) return false;
  }
  if (!file_.valid()) return true;
  if (!SeekTo(file_.get(), 0)) return false;
  std::vector<unsigned char> piece(kReplayPiece);
  uint64_t left = size_ - memory_.size();
  while (left > 0) {
    ssize_t n = ReadSome(file_.get(), piece.data(), piece.size());
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the scratch file lost bytes
      return false;
    }
    const size_t got = std::min<uint64_t>(static_cast<uint64_t>(n), left);
    if (!sink(piece.data(), got)) return false;
    left -= got;
  }
  return true;
}

void SpillBuffer::Clear() {
  std::vector<unsigned char>().swap(memory_);
  (void)file_.Reset();  // the unnamed scratch file goes; its data is no longer wanted
  size_ = 0;
  failed_ = false;
}

}  // namespace postrunner
