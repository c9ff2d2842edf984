// LineReader hands out a byte range of an open file line by line, reading it
// in large blocks with pread(2) (so several readers may share a descriptor).
// Memory is fixed: a line longer than kMaxLine comes out in pieces of that
// size, each without a line end, as does a last line without one.
#ifndef POSTRUNNER_JOIN_LINE_READER_H_
#define POSTRUNNER_JOIN_LINE_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace postrunner {

struct Line {
  std::string_view text;    // without its line end
  std::string_view ending;  // "\n", "\r\n", or "" when the line goes on (or the range ended)
  uint64_t offset = 0;      // file offset of text's first byte
};

class LineReader {
 public:
  static constexpr size_t kMaxLine = 64 * 1024;

  // Reads [begin, end) of `fd`, which the caller keeps open meanwhile.
  LineReader(int fd, uint64_t begin, uint64_t end);
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Fills `*line` with the next line; its views stay valid until the next
  // call. Returns 1 for a line, 0 at the end of the range, -1 on a read
  // error (errno set). A file that ends before `end` ends the range there.
  [[nodiscard]] int Next(Line* line);

  // Offset of the first byte not yet handed out.
  [[nodiscard]] uint64_t position() const { return file_pos_ - (fill_ - start_); }

 private:
  [[nodiscard]] bool Refill();

  int fd_;
  uint64_t file_pos_;  // file offset of buffer_[fill_]
  uint64_t end_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_;
  size_t start_ = 0;  // first byte not yet handed out
  size_t fill_ = 0;   // bytes held
};

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_LINE_READER_H_
