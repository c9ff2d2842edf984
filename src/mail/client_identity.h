// How this host names itself in mail: the name it gives in HELO and EHLO,
// and the right-hand side of the Message-ID it puts on every message. Real
// relays refuse a bare host name such as "vm" after HELO (RFC 5321 section
// 4.1.4 asks for a fully qualified domain name or an address literal), and
// large receivers refuse mail without a Message-ID (RFC 5322 section
// 3.6.4).
#ifndef POSTRUNNER_MAIL_CLIENT_IDENTITY_H_
#define POSTRUNNER_MAIL_CLIENT_IDENTITY_H_

#include <string>

namespace postrunner {

// The name to give after HELO or EHLO on the connected socket `fd`: the
// canonical name of `host_name` (this machine's name) when it holds a dot,
// else the address literal of the connection's local end ("[192.0.2.7]",
// "[IPv6:2001:db8::7]"), else `host_name` itself.
std::string SmtpClientName(const std::string& host_name, int fd);

// A new Message-ID value, "<" unique-part "@" domain ">", unique per call:
// the time, the process id and 64 random bits; the domain is the canonical
// name of this machine, or "localhost" when that is no usable domain.
std::string NewMessageId();

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_CLIENT_IDENTITY_H_
