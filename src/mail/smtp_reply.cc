#include "mail/smtp_reply.h"

#include <chrono>

#include "net/block_sock.h"

namespace postrunner {

std::string TemporaryNote(const std::string& reply) {
  const int code = SmtpReplyCode(reply);
  return code >= 400 && code <= 499 ? "; temporary: the server asks to try again later" : "";
}

int SmtpReplyCode(const std::string& reply) {
  size_t length = reply.find_first_of(std::string("\r\n\0", 3));
  if (length == std::string::npos) length = reply.size();
  if (length < 3) return -1;
  int code = 0;
  for (size_t i = 0; i < 3; ++i) {
    char c = reply[i];
    code = code * 10 + ((c >= '0' && c <= '9') ? c - '0' : 0);
  }
  return code;
}

size_t SmtpReplyReader::WholeReplyLength(const std::string& text) {
  size_t line_start = 0;
  for (;;) {
    size_t line_end = text.find('\n', line_start);
    if (line_end == std::string::npos) return 0;
    size_t content = line_end - line_start;
    if (content > 0 && text[line_end - 1] == '\r') --content;
    if (content < 4 || text[line_start + 3] != '-') return line_end + 1;
    line_start = line_end + 1;
  }
}

bool SmtpReplyReader::Read(int seconds, std::string* reply) {
  using Clock = std::chrono::steady_clock;
  reply->clear();
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds < 0 ? 0 : seconds);
  for (;;) {
    if (size_t length = WholeReplyLength(pending_)) {
      reply->assign(pending_, 0, length);
      pending_.erase(0, length);
      return true;
    }
    if (pending_.size() > kMaxSmtpReplyBytes) return false;
    // Once the time is up, a wait of 0 still takes what has already arrived
    // and fails on anything else.
    auto left = std::chrono::ceil<std::chrono::seconds>(deadline - Clock::now());
    socket_->SetTimeout(left.count() > 0 ? static_cast<int>(left.count()) : 0);
    std::string block;
    if (!socket_->Receive(block)) return false;
    pending_ += block;
  }
}

}  // namespace postrunner
