// A TCP listener on 127.0.0.1 at a port the system picks, for the redirect
// a browser on this machine makes at the end of a sign-in (RFC 8252 section
// 7.3), and waiting for input on several descriptors at once (the listener
// and standard input, where a user may paste the redirect instead).
#ifndef POSTRUNNER_PLATFORM_LOOPBACK_LISTENER_H_
#define POSTRUNNER_PLATFORM_LOOPBACK_LISTENER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/scoped_fd.h"

namespace postrunner {

class LoopbackListener {
 public:
  LoopbackListener() = default;
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // Listens on 127.0.0.1 at an ephemeral port. False with `*reason`.
  [[nodiscard]] bool Open(std::string* reason);

  // The port listened on; 0 before Open.
  uint16_t port() const { return port_; }
  int descriptor() const { return fd_.get(); }

  // Accepts one waiting connection and reads its request head (up to the
  // empty line, at most 8 KiB, waiting at most `timeout_ms`) into `*head`.
  // Returns the connection's descriptor (the caller answers on it and owns
  // it), or -1 when none could be read.
  [[nodiscard]] int AcceptRequest(int timeout_ms, std::string* head);

 private:
  ScopedFd fd_;
  uint16_t port_ = 0;
};

// Waits until one of `fds` can be read (or is at its end), at most
// `timeout_ms` milliseconds. Returns its index, -1 on time-out, -2 on an
// error (errno set).
[[nodiscard]] int WaitForReadable(const std::vector<int>& fds, int timeout_ms);

// Writes all of `text` to the connection `fd`, ignoring a peer that left.
void SendAll(int fd, const std::string& text);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_LOOPBACK_LISTENER_H_
