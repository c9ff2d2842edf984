#include "mail/smtp_data_writer.h"

#include <utility>

namespace postrunner {

SmtpDataWriter::SmtpDataWriter(SendFunction send) : send_(std::move(send)) {
  block_.reserve(kDataBlockBytes + 1024);
}

void SmtpDataWriter::Write(std::string_view text) {
  if (failed_) return;
  size_t at = 0;
  while (at < text.size()) {
    if (at_line_start_ && text[at] == '.') block_.push_back('.');
    // At most one block's worth at a time, so no block grows far past it.
    const std::string_view part = text.substr(at, kDataBlockBytes);
    size_t line_feed = part.find('\n');
    if (line_feed != std::string_view::npos) line_feed += at;
    const size_t end = line_feed == std::string_view::npos ? at + part.size() : line_feed + 1;
    block_.append(text.substr(at, end - at));
    if (line_feed == std::string_view::npos) {
      at_line_start_ = false;
      after_cr_ = text[end - 1] == '\r';
    } else {
      // Only CR LF ends a line; the CR may have come with the last piece.
      at_line_start_ = line_feed > at ? text[line_feed - 1] == '\r' : after_cr_;
      after_cr_ = false;
    }
    at = end;
    if (block_.size() >= kDataBlockBytes) Flush();
  }
}

bool SmtpDataWriter::Finish() {
  if (!at_line_start_) block_.append("\r\n");
  block_.append(".\r\n");
  Flush();
  return !failed_;
}

void SmtpDataWriter::Flush() {
  if (!failed_ && !block_.empty() && !send_(block_)) failed_ = true;
  block_.clear();
}

std::string_view SmtpDataWriter::WithoutEndOfData(std::string_view text) {
  constexpr std::string_view kEnd = "\r\n.\r\n";
  if (text.size() >= kEnd.size() && text.substr(text.size() - kEnd.size()) == kEnd) {
    return text.substr(0, text.size() - 3);  // the CR LF ends the last line
  }
  if (text == ".\r\n") return std::string_view();
  return text;
}

}  // namespace postrunner
