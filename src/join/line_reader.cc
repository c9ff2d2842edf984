#include "join/line_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace postrunner {
namespace {

constexpr size_t kBlock = 256 * 1024;

}  // namespace

LineReader::LineReader(int fd, uint64_t begin, uint64_t end)
    : fd_(fd),
      file_pos_(begin),
      end_(std::max(begin, end)),
      buffer_(new char[kBlock + kMaxLine]),
      capacity_(kBlock + kMaxLine) {}

bool LineReader::Refill() {
  if (start_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + start_, fill_ - start_);
    fill_ -= start_;
    start_ = 0;
  }
  size_t room = std::min<uint64_t>(capacity_ - fill_, end_ - file_pos_);
  for (;;) {
    ssize_t n = ::pread(fd_, buffer_.get() + fill_, room, static_cast<off_t>(file_pos_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) end_ = file_pos_;  // the file is shorter than the range
    fill_ += static_cast<size_t>(n);
    file_pos_ += static_cast<uint64_t>(n);
    return true;
  }
}

int LineReader::Next(Line* line) {
  for (;;) {
    const char* base = buffer_.get();
    const size_t held = fill_ - start_;
    const char* at = static_cast<const char*>(std::memchr(base + start_, '\n', held));
    line->offset = position();
    if (at != nullptr) {
      size_t stop = static_cast<size_t>(at - base);
      bool crlf = stop > start_ && base[stop - 1] == '\r';
      line->text = std::string_view(base + start_, stop - start_ - (crlf ? 1 : 0));
      line->ending = std::string_view(crlf ? at - 1 : at, crlf ? 2 : 1);
      start_ = stop + 1;
      return 1;
    }
    const bool at_end = file_pos_ >= end_;
    if (held >= kMaxLine || (at_end && held > 0)) {
      size_t take = std::min(held, kMaxLine);
      // Never part a CR from the LF that may follow it in the next block.
      if (!at_end && take > 1 && base[start_ + take - 1] == '\r') --take;
      line->text = std::string_view(base + start_, take);
      line->ending = std::string_view();
      start_ += take;
      return 1;
    }
    if (at_end) return 0;
    if (!Refill()) return -1;
  }
}

}  // namespace postrunner
