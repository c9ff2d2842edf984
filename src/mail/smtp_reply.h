// SmtpReplyReader assembles whole SMTP replies from the blocks a socket
// delivers. A reply may arrive in several blocks and may span several lines
// ("250-first", "250-second", ..., "250 last"); it is complete with its first
// line that is not a continuation line (a line whose fourth character is not
// "-", or a line shorter than four characters). Bytes after a complete reply
// stay for the next one, so replies are always matched to their commands.
#ifndef POSTRUNNER_MAIL_SMTP_REPLY_H_
#define POSTRUNNER_MAIL_SMTP_REPLY_H_

#include <cstddef>
#include <string>

namespace postrunner {

class CQXBlockSock;

// Largest reply accepted; a server that sends more without ending its reply
// is treated as one that never replies.
inline constexpr size_t kMaxSmtpReplyBytes = 64 * 1024;

// The three-digit code at the start of `reply` (a non-digit counts as 0),
// or -1 when its first line (before CR, LF or NUL) is shorter than three
// characters.
int SmtpReplyCode(const std::string& reply);

// The note a reason ends in when `reply` is a temporary refusal (4xx), so
// that a caller can tell a failure worth retrying; "" for any other reply.
std::string TemporaryNote(const std::string& reply);

class SmtpReplyReader {
 public:
  explicit SmtpReplyReader(CQXBlockSock* socket) : socket_(socket) {}

  SmtpReplyReader(const SmtpReplyReader&) = delete;
  SmtpReplyReader& operator=(const SmtpReplyReader&) = delete;

  // Reads one whole reply, its lines as received (line ends included), into
  // `*reply`. Waits at most `seconds` in all (0: only what has already
  // arrived). Returns false, with `*reply` empty, when no whole reply came in
  // time, the server closed the connection, or the socket failed.
  bool Read(int seconds, std::string* reply);

  // The length of the first whole reply at the start of `text`, 0 when
  // `text` does not start with a whole reply yet.
  // Whether bytes beyond the last whole reply have arrived.
  bool HasPending() const { return !pending_.empty(); }

  static size_t WholeReplyLength(const std::string& text);

 private:
  CQXBlockSock* socket_;
  std::string pending_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_SMTP_REPLY_H_
