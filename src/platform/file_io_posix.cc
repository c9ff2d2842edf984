#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/scoped_fd.h"

namespace postrunner {

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
  for (;;) {
    int fd = ::open(path, flags | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

std::string ErrnoText(int error_number) {
  char buffer[256];
  // GNU strerror_r returns a pointer that may or may not be `buffer`.
  const char* text = strerror_r(error_number, buffer, sizeof buffer);
  return text ? std::string(text) : std::string("Unknown error");
}

}  // namespace postrunner
