// The service extensions a server lists in its reply to EHLO (RFC 5321
// section 4.1.1.1): one keyword per line after the first, the first line
// being the server's greeting. Only the extensions the program uses are
// kept: STARTTLS, the SASL mechanisms of AUTH and the message size limit of
// SIZE (RFC 1870).
#ifndef POSTRUNNER_MAIL_SMTP_EXTENSIONS_H_
#define POSTRUNNER_MAIL_SMTP_EXTENSIONS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace postrunner {

struct SmtpExtensions {
  bool starttls = false;
  // Mechanisms named by AUTH (or the older "AUTH=" form), upper case, in
  // the server's order.
  std::vector<std::string> auth_mechanisms;
  // The largest message the server takes, in bytes; 0 when it names none
  // (no SIZE, "SIZE" alone, "SIZE 0" or a value that is no number).
  uint64_t size_limit = 0;

  // Whether AUTH lists `mechanism` (compared without regard to case).
  bool OffersAuth(const std::string& mechanism) const;
};

// Parses a whole EHLO reply (every line, line ends CR LF or LF) into
// `*out`. Returns false, leaving `*out` empty, when the reply is not a
// positive completion (its code is not 2xx).
bool ParseEhloReply(const std::string& reply, SmtpExtensions* out);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_SMTP_EXTENSIONS_H_
