#include "platform/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/file_io.h"

namespace postrunner {
namespace {

constexpr size_t kMaxHeadBytes = 8 * 1024;

}  // namespace

bool LoopbackListener::Open(std::string* reason) {
  // A listener is opened once; no earlier descriptor is held to report on.
  (void)fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (!fd_.valid() ||
      ::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_.get(), 4) != 0 ||
      ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *reason = "cannot listen on 127.0.0.1 for the browser's redirect: " + ErrnoText(errno);
    return false;
  }
  port_ = ntohs(address.sin_port);
  return true;
}

int LoopbackListener::AcceptRequest(int timeout_ms, std::string* head) {
  ScopedFd connection(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!connection.valid()) return -1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  head->clear();
  char buffer[1024];
  while (head->find("\r\n\r\n") == std::string::npos && head->find("\n\n") == std::string::npos &&
         head->size() < kMaxHeadBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || WaitForReadable({connection.get()}, static_cast<int>(left.count())) != 0) {
      return -1;
    }
    const ssize_t n = ReadSome(connection.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    head->append(buffer, static_cast<size_t>(n));
  }
  return connection.Release();
}

int WaitForReadable(const std::vector<int>& fds, int timeout_ms) {
  std::vector<pollfd> polled;
  polled.reserve(fds.size());
  for (int fd : fds) polled.push_back(pollfd{fd, POLLIN, 0});
  int ready;
  do {
    ready = ::poll(polled.data(), polled.size(), timeout_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return -2;
  for (size_t i = 0; i < polled.size(); ++i) {
    if (polled[i].revents != 0) return static_cast<int>(i);
  }
  return -1;
}

void SendAll(int fd, const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace postrunner
