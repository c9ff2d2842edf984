// Test helpers on real sockets: a listening loopback peer on an ephemeral
// port, and a scratch current directory for tests of the debug log.
#ifndef POSTRUNNER_TESTS_NET_LOOPBACK_H_
#define POSTRUNNER_TESTS_NET_LOOPBACK_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/scoped_fd.h"
#include "test_support/temp_dir.h"

namespace postrunner {

// A listening TCP socket on 127.0.0.1 (or ::1) and a port the system chose.
class LoopbackListener {
 public:
  explicit LoopbackListener(int family = AF_INET, int backlog = 8) {
    (void)fd_.Reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));  // held none
    if (!fd_.valid()) return;
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (family == AF_INET) {
      auto* in = reinterpret_cast<sockaddr_in*>(&storage);
      in->sin_family = AF_INET;
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof *in;
    } else {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_loopback;
      length = sizeof *in6;
    }
    if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(fd_.get(), backlog) != 0 ||
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&storage),
                      &length) != 0) {
      (void)fd_.Reset();  // never listened: a failed close changes nothing
      return;
    }
    port_ = ntohs(family == AF_INET
                      ? reinterpret_cast<sockaddr_in*>(&storage)->sin_port
                      : reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
  }

  bool ok() const { return fd_.valid(); }
  unsigned port() const { return port_; }
  int fd() const { return fd_.get(); }
  // Stops listening; connects to the port are refused from now on.
  void Stop() { (void)fd_.Reset(); }  // the port is closed either way

  // Accepts one pending connection, waiting at most two seconds.
  ScopedFd Accept() {
    pollfd entry{fd_.get(), POLLIN, 0};
    if (::poll(&entry, 1, 2000) != 1) return ScopedFd();
    return ScopedFd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  }

 private:
  ScopedFd fd_;
  unsigned port_ = 0;
};

// Reads from `fd` until `count` bytes arrived, the peer closed or two
// seconds passed without data. Returns what was read.
inline std::string ReadFromPeer(int fd, size_t count) {
  std::string data;
  char buffer[65536];
  while (data.size() < count) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 2000) != 1) break;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

// True when the peer of `fd` has closed: a read returns end of file within
// two seconds.
inline bool PeerClosed(int fd) {
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, 2000) != 1) return false;
  char c;
  return ::recv(fd, &c, 1, 0) == 0;
}

// Makes a fresh empty folder the current directory for the lifetime of the
// object, then returns to the old one and removes the folder and its files.
class ScratchCurrentDir {
 public:
  ScratchCurrentDir() {
    char* old = ::getcwd(nullptr, 0);
    if (old) old_ = old;
    std::free(old);
    entered_ = temp_.ok() && !old_.empty() && ::chdir(temp_.path().c_str()) == 0;
  }
  ~ScratchCurrentDir() {
    // Back to the old folder; temp_ then removes the scratch one.
    if (entered_) {
      [[maybe_unused]] const int back = ::chdir(old_.c_str());
    }
  }
  ScratchCurrentDir(const ScratchCurrentDir&) = delete;
  ScratchCurrentDir& operator=(const ScratchCurrentDir&) = delete;

  bool ok() const { return entered_; }

 private:
  TempDir temp_{"net_test"};
  std::string old_;
  bool entered_ = false;
};

}  // namespace postrunner

#endif  // POSTRUNNER_TESTS_NET_LOOPBACK_H_
