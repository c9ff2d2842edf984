#include "mail/smtp_data_writer.h"

#include <algorithm>
#include <utility>

namespace postrunner {

SmtpDataWriter::SmtpDataWriter(SendFunction send) : send_(std::move(send)) {
  block_.reserve(kDataBlockBytes + 1024);
}

bool SmtpDataWriter::StartsLine(std::string_view text, size_t i) const {
  if (i == 0) return at_line_start_;
  // Only CR LF ends a line; the CR may have come with the last piece.
  if (text[i - 1] != '\n') return false;
  return i >= 2 ? text[i - 2] == '\r' : after_cr_;
}

void SmtpDataWriter::Append(std::string_view part) {
  while (!part.empty() && !failed_) {
    const size_t take = std::min(part.size(), kDataBlockBytes - block_.size());
    block_.append(part.substr(0, take));
    part.remove_prefix(take);
    if (block_.size() >= kDataBlockBytes) Flush();
  }
}

void SmtpDataWriter::Write(std::string_view text) {
  if (failed_ || text.empty()) return;
  // The text goes on in runs up to each "." that opens a line, which gets a
  // second one before it. Base64 holds no ".", so its text is one run.
  size_t at = 0;
  for (size_t dot = text.find('.'); dot != std::string_view::npos; dot = text.find('.', dot + 1)) {
    if (!StartsLine(text, dot)) continue;
    Append(text.substr(at, dot - at));
    Append(".");
    at = dot;
  }
  Append(text.substr(at));
  at_line_start_ = StartsLine(text, text.size());
  after_cr_ = text.back() == '\r';
}

bool SmtpDataWriter::Finish() {
  if (abandoned_) return false;
  if (!at_line_start_) block_.append("\r\n");
  block_.append(".\r\n");
  Flush();
  return !failed_;
}

void SmtpDataWriter::Abandon(std::string reason) {
  abandoned_ = true;
  failed_ = true;
  abandon_reason_ = std::move(reason);
  block_.clear();
}

void SmtpDataWriter::Flush() {
  if (!failed_ && !block_.empty() && !send_(block_)) failed_ = true;
  block_.clear();
}

uint64_t SmtpDataWriter::DataSize(const std::function<void(SmtpDataWriter&)>& write) {
  uint64_t bytes = 0;
  SmtpDataWriter counter([&bytes](const std::string& block) {
    bytes += block.size();
    return true;
  });
  write(counter);
  (void)counter.Finish();
  // Finish added the end-of-data line ".\r\n".
  return bytes >= 3 ? bytes - 3 : 0;
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
