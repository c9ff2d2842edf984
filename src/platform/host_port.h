// Splits a server text as users write it ("/Mailserver:", "/FTPServer:"
// after its scheme) into the host to resolve and the port to connect to.
// Accepted forms: "host", "host:port", "[ipv6]" and "[ipv6]:port"; a bare
// IPv6 address (two or more colons, no brackets) is taken whole as the host.
// Without a port the caller's default applies.
#ifndef POSTRUNNER_PLATFORM_HOST_PORT_H_
#define POSTRUNNER_PLATFORM_HOST_PORT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace postrunner {

struct HostPort {
  std::string host;  // name or numeric address, brackets removed
  uint16_t port = 0;
};

// Parses `text` into `out`, using `default_port` when the text names none.
// Returns false (leaving `out` unspecified) for an empty host, a bracket
// within the host, an unclosed bracket, text after the closing bracket other
// than ":port", or a port that is not 1..65535 in decimal digits.
[[nodiscard]]
bool ParseHostPort(std::string_view text, uint16_t default_port,
                   HostPort* out);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_HOST_PORT_H_
