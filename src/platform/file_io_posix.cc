#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

// How long a non-blocking open waits for a lease on the file to be given
// back: longer than the kernel's lease-break-time (45 s by default), after
// which it takes the lease back by force.
constexpr int kLeaseWaitMs = 60 * 1000;
constexpr int kLeasePollMs = 10;

}  // namespace

bool ScopedFd::Reset(int fd) {
  bool ok = true;
  if (fd_ >= 0 && fd_ != fd) {
    // POSIX leaves the descriptor state unspecified after EINTR from close;
    // on Linux it is always released, so close is never retried.
    ok = ::close(fd_) == 0;
  }
  fd_ = fd;
  return ok;
}

ssize_t ReadSome(int fd, void* buffer, size_t count) {
  for (;;) {
    ssize_t n = ::read(fd, buffer, count);
    if (n >= 0 || errno != EINTR) return n;
  }
}

size_t WriteAll(int fd, const void* buffer, size_t count) {
  const char* p = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) {
      errno = EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return done;
}

int OpenRetry(const char* path, int flags, mode_t mode) {
  int waited_ms = 0;
  for (;;) {
    int fd = ::open(path, flags | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
    if (errno == EINTR) continue;
    // Another program holds a lease on the file (an NFS delegation, an
    // oplock); a non-blocking open fails while the kernel asks for it back.
    if (errno != EWOULDBLOCK || (flags & O_NONBLOCK) == 0 || waited_ms >= kLeaseWaitMs) {
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kLeasePollMs));
    waited_ms += kLeasePollMs;
  }
}

std::string ErrnoText(int error_number) {
  char buffer[256];
  // GNU strerror_r returns a pointer that may or may not be `buffer`.
  const char* text = strerror_r(error_number, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("Unknown error");
}

}  // namespace postrunner
