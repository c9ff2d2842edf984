// Error codes of the socket class. System errors are stored as their
// Windows Sockets numbers (ECONNREFUSED as 10061, ...) so that one table of
// short texts serves every platform; SocketErrorText is that table.
#ifndef POSTRUNNER_NET_SOCKET_ERRORS_H_
#define POSTRUNNER_NET_SOCKET_ERRORS_H_

#include <string>

namespace postrunner {

// The Windows Sockets number for errno value `error_number`. An errno
// without an equivalent is returned unchanged (its text reads "Undefined
// Socket Error"); 0 becomes 30008, so a failure never reads "Ok".
[[nodiscard]] int SocketErrorFromErrno(int error_number);

// The Windows Sockets number for getaddrinfo result `eai` (EAI_NONAME
// 11001, EAI_AGAIN 11002, EAI_FAIL 11003, EAI_NODATA 11004; EAI_SYSTEM
// maps `error_number`). Other resolver failures give 11001.
[[nodiscard]] int SocketErrorFromResolver(int eai, int error_number);

// The short text of `code`: "Ok" for 0, the class's own texts for
// 30001..30008, the symbolic name for a Windows Sockets number
// ("WSAECONNREFUSED"), "Undefined Socket Error" for anything else.
std::string SocketErrorText(int code);

// A plain description of failure `code` for a person, e.g. "Connection
// refused" for 10061, "host not found" for 11001, "timed out" for 30005,
// "the connection was closed" for 0 (what a failed Receive leaves when the
// peer hung up).
std::string SocketErrorReason(int code);

}  // namespace postrunner

#endif  // POSTRUNNER_NET_SOCKET_ERRORS_H_
