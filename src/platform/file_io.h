// Low-level descriptor I/O shared by every subsystem. This is the one place
// where EINTR is retried and where partial writes are completed, and where an
// errno value becomes readable text.
#ifndef POSTRUNNER_PLATFORM_FILE_IO_H_
#define POSTRUNNER_PLATFORM_FILE_IO_H_

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace postrunner {

// Reads up to `count` bytes with one read(2), retrying on EINTR.
// Returns the count read, 0 at end of file, -1 on error (errno set).
[[nodiscard]] ssize_t ReadSome(int fd, void* buffer, size_t count);

// Writes all `count` bytes, continuing after partial writes and EINTR.
// Returns the count written: `count` on success, less when an error stopped
// the write (errno set then).
[[nodiscard]] size_t WriteAll(int fd, const void* buffer, size_t count);

// Opens `path` with open(2), retrying on EINTR. With O_NONBLOCK it also
// waits (up to a minute) while another program's lease on the file is being
// given back, where open(2) alone fails with EWOULDBLOCK at once. Returns the
// descriptor or -1.
[[nodiscard]] int OpenRetry(const char* path, int flags, mode_t mode = 0);

// Text for an errno value, e.g. "No such file or directory".
std::string ErrnoText(int error_number);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_FILE_IO_H_
