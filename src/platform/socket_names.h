// Names of the two ends of a connection and of this host, as a mail client
// introduces itself (RFC 5321 section 4.1.4: a fully qualified domain name,
// or the address literal of the connection's local end).
#ifndef POSTRUNNER_PLATFORM_SOCKET_NAMES_H_
#define POSTRUNNER_PLATFORM_SOCKET_NAMES_H_

#include <string>

#include "platform/socket.h"

namespace postrunner {

// The local (`peer` false) or remote (`peer` true) address of the connected
// socket `fd`. Returns false (errno set) when the system cannot tell.
[[nodiscard]] bool SocketEndAddress(int fd, bool peer, SocketAddress* out);

// Whether `address` is a loopback address (127.0.0.0/8, ::1, or an IPv4
// loopback address mapped into IPv6).
[[nodiscard]] bool IsLoopbackAddress(const SocketAddress& address);

// The canonical name the resolver gives for `host_name` (this machine's
// name from gethostname), or `host_name` itself when the resolver knows no
// other. Empty when `host_name` is empty.
std::string CanonicalHostName(const std::string& host_name);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_SOCKET_NAMES_H_
