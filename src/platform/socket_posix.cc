#include "platform/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/deadline.h"

namespace postrunner {
namespace {

using Clock = std::chrono::steady_clock;

// poll(2) on one descriptor for `events`, retrying EINTR with the time
// that is left. 1 ready, 0 time-out, -1 error (errno set).
[[nodiscard]] int PollOne(int fd, short events, int timeout_ms) {
  if (timeout_ms < 0) timeout_ms = 0;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(timeout_ms);
  int wait_ms = timeout_ms;
  for (;;) {
    pollfd entry{};
    entry.fd = fd;
    entry.events = events;
    int n = ::poll(&entry, 1, wait_ms);
    if (n >= 0) return n > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
    wait_ms = RemainingMs(deadline);
  }
}

class PosixSocketApi final : public SocketApi {
 public:
  [[nodiscard]]
  int Resolve(const std::string& host, uint16_t port, int type,
              std::vector<SocketAddress>* out) override {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    hints.ai_flags = AI_NUMERICSERV;
    const std::string service = std::to_string(port);
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) return rc;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
      if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
      SocketAddress address;
      address.family = a->ai_family;
      address.type = a->ai_socktype;
      address.protocol = a->ai_protocol;
      std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
      address.length = a->ai_addrlen;
      out->push_back(address);
    }
    ::freeaddrinfo(list);
    return 0;
  }

  [[nodiscard]] int Open(int family, int type, int protocol) override {
    return ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  }

  [[nodiscard]] int SetReuseAddress(int fd) override {
    int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }

  [[nodiscard]] int Connect(int fd, const SocketAddress& address, int timeout_ms) override {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage),
                  address.length) == 0) {
      return 0;
    }
    // A non-blocking connect goes on in the background after EINPROGRESS,
    // and after EINTR as well; either way its outcome is read once the
    // socket turns writable.
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    int ready = PollOne(fd, POLLOUT, timeout_ms);
    if (ready < 0) return errno;
    if (ready == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
      return errno;
    }
    return error;
  }

  [[nodiscard]] int Wait(int fd, bool for_write, int timeout_ms) override {
    return PollOne(fd, for_write ? POLLOUT : POLLIN, timeout_ms);
  }

  [[nodiscard]] ssize_t Send(int fd, const void* data, size_t size) override {
    for (;;) {
      ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n >= 0 || errno != EINTR) return n;
    }
  }

  [[nodiscard]] ssize_t Receive(int fd, void* buffer, size_t size) override {
    for (;;) {
      ssize_t n = ::recv(fd, buffer, size, 0);
      if (n >= 0 || errno != EINTR) return n;
    }
  }

  [[nodiscard]] int PeerAddress(int fd, SocketAddress* out) override {
    SocketAddress address;
    address.length = sizeof address.storage;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address.storage), &address.length) != 0) {
      return -1;
    }
    address.family = address.storage.ss_family;
    *out = address;
    return 0;
  }

  [[nodiscard]] int Close(int fd) override {
    // Linux releases the descriptor even when close reports EINTR, so it
    // is never retried.
    return ::close(fd);
  }
};

}  // namespace

std::string NumericAddress(const SocketAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  const void* bytes = nullptr;
  if (address.family == AF_INET) {
    bytes = &reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_addr;
  } else if (address.family == AF_INET6) {
    bytes = &reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_addr;
  } else {
    return std::string();
  }
  if (::inet_ntop(address.family, bytes, text, sizeof text) == nullptr) {
    return std::string();
  }
  return text;
}

SocketApi& SystemSocketApi() {
  static PosixSocketApi api;
  return api;
}

}  // namespace postrunner
