#include "platform/socket_names.h"

#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

namespace postrunner {

bool SocketEndAddress(int fd, bool peer, SocketAddress* out) {
  *out = SocketAddress();
  socklen_t length = sizeof out->storage;
  sockaddr* address = reinterpret_cast<sockaddr*>(&out->storage);
  int rc = peer ? ::getpeername(fd, address, &length) : ::getsockname(fd, address, &length);
  if (rc != 0) return false;
  out->family = address->sa_family;
  out->length = length;
  return true;
}

bool IsLoopbackAddress(const SocketAddress& address) {
  if (address.family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&address.storage);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (address.family == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&a) || (IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127);
  }
  return false;
}

std::string CanonicalHostName(const std::string& host_name) {
  if (host_name.empty()) return std::string();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host_name.c_str(), nullptr, &hints, &list) != 0) return host_name;
  std::string canonical =
      (list != nullptr && list->ai_canonname != nullptr) ? list->ai_canonname : host_name;
  ::freeaddrinfo(list);
  return canonical;
}

}  // namespace postrunner
