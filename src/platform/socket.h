// Stream sockets: a small interface over the BSD socket calls, so that the
// socket class above it can be driven by a fake peer in tests. The system
// implementation (SystemSocketApi) makes every socket non-blocking and
// close-on-exec, bounds connect by a time-out, retries EINTR, and sends with
// MSG_NOSIGNAL so that a peer that closes never raises SIGPIPE.
//
// Failures are reported the BSD way: -1 (or an error value where stated) with
// errno set. Descriptors are plain ints; -1 means "no socket".
#ifndef POSTRUNNER_PLATFORM_SOCKET_H_
#define POSTRUNNER_PLATFORM_SOCKET_H_

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace postrunner {

// One resolved endpoint, ready for Connect.
struct SocketAddress {
  int family = AF_UNSPEC;
  int type = SOCK_STREAM;
  int protocol = 0;
  sockaddr_storage storage{};
  socklen_t length = 0;
};

// The address part of `address` as numeric text ("192.0.2.7", "::1");
// empty when it is neither IPv4 nor IPv6.
std::string NumericAddress(const SocketAddress& address);

class SocketApi {
 public:
  virtual ~SocketApi() = default;

  // Resolves `host` (a name, or a numeric IPv4 or IPv6 address without
  // brackets) for `port` and socket `type`. Appends every address found to
  // `out` in the resolver's order. Returns 0, or the getaddrinfo error
  // (EAI_*; with EAI_SYSTEM errno holds the cause).
  [[nodiscard]]
  virtual int Resolve(const std::string& host, uint16_t port, int type,
                      std::vector<SocketAddress>* out) = 0;

  // Creates a non-blocking, close-on-exec socket. Returns the descriptor, or
  // -1 with errno set.
  [[nodiscard]] virtual int Open(int family, int type, int protocol) = 0;

  // Switches SO_REUSEADDR on. Returns 0, or -1 with errno set.
  [[nodiscard]] virtual int SetReuseAddress(int fd) = 0;

  // Connects the non-blocking socket `fd` to `address`, waiting at most
  // `timeout_ms` milliseconds (0: do not wait). Returns 0 when connected,
  // otherwise the errno value of the failure (ETIMEDOUT when time ran out).
  [[nodiscard]] virtual int Connect(int fd, const SocketAddress& address, int timeout_ms) = 0;

  // Waits until `fd` is writable (`for_write`) or readable, at most
  // `timeout_ms` milliseconds (0: just look). A closed or failed connection
  // counts as ready. Returns 1 when ready, 0 on time-out, -1 on error (errno).
  [[nodiscard]] virtual int Wait(int fd, bool for_write, int timeout_ms) = 0;

  // One send(2) of up to `size` bytes with MSG_NOSIGNAL, EINTR retried.
  // Returns the count taken (0..size), or -1 with errno set (EAGAIN when
  // nothing fits right now).
  [[nodiscard]] virtual ssize_t Send(int fd, const void* data, size_t size) = 0;

  // One recv(2) of up to `size` bytes, EINTR retried. Returns the count, 0
  // when the peer has closed, or -1 with errno set.
  [[nodiscard]] virtual ssize_t Receive(int fd, void* buffer, size_t size) = 0;

  // The address the connected socket `fd` is connected to, as the system
  // keeps it (getpeername), into `*out`. Returns 0, or -1 with errno set.
  [[nodiscard]] virtual int PeerAddress(int fd, SocketAddress* out) = 0;

  // Releases the descriptor. Returns 0, or -1 with errno set (the
  // descriptor is released either way).
  [[nodiscard]] virtual int Close(int fd) = 0;
};

// The process-wide implementation over the real BSD calls.
SocketApi& SystemSocketApi();

// Owns one socket descriptor of a SocketApi and closes it through that API
// when it goes out of scope. Copying is disabled.
class ScopedSocket {
 public:
  explicit ScopedSocket(SocketApi* api) : api_(api) {}
  ~ScopedSocket() { (void)Reset(); }  // a destructor cannot report a failed close
  ScopedSocket(const ScopedSocket&) = delete;
  ScopedSocket& operator=(const ScopedSocket&) = delete;

  // The descriptor, -1 when none is held.
  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }

  // Closes the held descriptor (if any) and takes `fd`. Returns false when
  // closing the old descriptor reported an error.
  [[nodiscard]] bool Reset(int fd = -1) {
    bool ok = true;
    if (fd_ >= 0 && fd_ != fd) ok = api_->Close(fd_) == 0;
    fd_ = fd;
    return ok;
  }

 private:
  SocketApi* api_;
  int fd_ = -1;
};

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_SOCKET_H_
