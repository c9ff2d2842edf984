#include "net/socket_errors.h"

#include <netdb.h>

#include <cerrno>

#include "platform/file_io.h"

#include "net/block_sock.h"

namespace postrunner {

int SocketErrorFromErrno(int error_number) {
  switch (error_number) {
    case 0: return QXE_UNKNOWN;
    case EINTR: return 10004;
    case EACCES:
    case EPERM: return 10013;  // e.g. a firewall rule refusing the connect
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EAGAIN: return 10035;  // EWOULDBLOCK is the same value on Linux
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK:
    case EBADF: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET:
    case EPIPE: return 10054;  // the peer reset the connection under a send
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return error_number;
  }
}

int SocketErrorFromResolver(int eai, int error_number) {
  switch (eai) {
    case EAI_NONAME: return 11001;
    case EAI_AGAIN: return 11002;
    case EAI_FAIL: return 11003;
    case EAI_NODATA:
    case EAI_ADDRFAMILY: return 11004;
    case EAI_MEMORY: return 10055;
    case EAI_SYSTEM: return SocketErrorFromErrno(error_number);
    default: return 11001;
  }
}

std::string SocketErrorText(int code) {
  switch (code) {
    case 0: return "Ok";
    case QXE_CLOSE_FAILED: return "Close Failed";
    case QXE_INVALID_SOCKET: return "Invalid Socket";
    case QXE_INVALID_ADDRESS: return "Invalid Address in Connect";
    case QXE_NO_SOCKET: return "No Socket for reading or writing";
    case QXE_TIMEOUT: return "Timeout in Receive or Send";
    case QXE_SEND_COUNT: return "Incorrect number of byrtes in Send";
    case QXE_UNKNOWN: return "Unknown Error in QXBlockSock";
    case 10004: return "WSAEINTR";
    case 10013: return "WSAEACCES";
    case 10014: return "WSAEFAULT";
    case 10022: return "WSAEINVAL";
    case 10024: return "WSAEMFILE";
    case 10035: return "WSAEWOULDBLOCK";
    case 10036: return "WSAEINPROGRESS";
    case 10037: return "WSAEALREADY";
    case 10038: return "WSAENOTSOCK";
    case 10039: return "WSAEDESTADDRREQ";
    case 10040: return "WSAEMSGSIZE";
    case 10041: return "WSAEPROTOTYPE";
    case 10042: return "WSAENOPROTOOPT";
    case 10043: return "WSAEPROTONOSUPPORT";
    case 10044: return "WSAESOCKTNOSUPPORT";
    case 10045: return "WSAEOPNOTSUPP";
    case 10046: return "WSAEPFNOSUPPORT";
    case 10047: return "WSAEAFNOSUPPORT";
    case 10048: return "WSAEADDRINUSE";
    case 10049: return "WSAEADDRNOTAVAIL";
    case 10050: return "WSAENETDOWN";
    case 10051: return "WSAENETUNREACH";
    case 10052: return "WSAENETRESET";
    case 10053: return "WSAECONNABORTED";
    case 10054: return "WSAECONNRESET";
    case 10055: return "WSAENOBUFS";
    case 10056: return "WSAEISCONN";
    case 10057: return "WSAENOTCONN";
    case 10058: return "WSAESHUTDOWN";
    case 10060: return "WSAETIMEDOUT";
    case 10061: return "WSAECONNREFUSED";
    case 10064: return "WSAEHOSTDOWN";
    case 10065: return "WSAEHOSTUNREACH";
    case 10067: return "WSAEPROCLIM";
    case 10091: return "WSASYSNOTREADY";
    case 10092: return "WSAVERNOTSUPPORTED";
    case 10093: return "WSANOTINITIALISED";
    case 10101: return "WSAEDISCON";
    case 11001: return "WSAHOST_NOT_FOUND";
    case 11002: return "WSATRY_AGAIN";
    case 11003: return "WSANO_RECOVERY";
    case 11004: return "WSANO_DATA";
    default: return "Undefined Socket Error";  // 30007 included
  }
}

}  // namespace postrunner

namespace postrunner {

std::string SocketErrorReason(int code) {
  switch (code) {
    case 0: return "the connection was closed";
    case QXE_INVALID_ADDRESS: return "host not found, or not a valid address";
    case QXE_NO_SOCKET: return "not connected";
    case QXE_TIMEOUT: return "timed out";
    case 11001: return "host not found";
    case 11002: return "temporary failure in name resolution";
    case 11003: return "name resolution failed";
    case 11004: return "the host name has no address";
    default: break;
  }
  // A system error: the text of the first errno value stored as this code.
  for (int e = 1; e < 200; ++e) {
    if (SocketErrorFromErrno(e) == code) return ErrnoText(e);
  }
  return SocketErrorText(code);
}

}  // namespace postrunner
