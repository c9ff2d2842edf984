// The mailbox a join reads from an IMAP server, as "/Join:" names it:
// "imaps://[USER@]HOST[:PORT][/MAILBOX]" (TLS from the first byte, port
// 993) or "imap://..." (STARTTLS, port 143). The mailbox defaults to INBOX;
// a name with blanks or non-ASCII letters is turned into the modified UTF-7
// that IMAP names use and then percent-encoded, so that libcurl reads back
// exactly that name. Anything libcurl would read as more than a mailbox
// (a second path part, ";UID=" and other parameters, a query, a fragment,
// a password) is refused. Pure text functions with no I/O.
#ifndef POSTRUNNER_JOIN_IMAP_URL_H_
#define POSTRUNNER_JOIN_IMAP_URL_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace postrunner {

inline constexpr uint16_t kImapPort = 143;
inline constexpr uint16_t kImapsPort = 993;

struct ImapUrl {
  bool implicit_tls = true;  // imaps://; imap:// asks for STARTTLS
  std::string user;          // decoded; empty when the URL names none
  std::string url_host;      // as it goes into a URL: a name, IPv4, or [IPv6]
  uint16_t port = kImapsPort;
  std::string mailbox;       // the name as given (decoded UTF-8)
  std::string mailbox_path;  // modified UTF-7, percent-encoded
  bool loopback_host = false;  // the host is written as a loopback address or "localhost"
  std::string given;           // the URL as given (it holds no password)
};

// Whether `text` begins with "imap://" or "imaps://" (any case).
[[nodiscard]] bool IsImapUrl(std::string_view text);

// Parses `text` into `*out`. Returns false with a one-line `*reason` for
// anything but the forms above.
[[nodiscard]] bool ParseImapUrl(std::string_view text, ImapUrl* out, std::string* reason);

// `utf8` in modified UTF-7 (RFC 3501 5.1.3). Returns false when `utf8` is
// not valid UTF-8 or holds a control character.
[[nodiscard]] bool ModifiedUtf7(std::string_view utf8, std::string* out);

// "imaps://HOST:PORT/MAILBOX" for the parsed URL, without user.
[[nodiscard]] std::string MailboxUrl(const ImapUrl& url);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_IMAP_URL_H_
