#include "platform/binary_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_info.h"
#include "platform/file_io.h"

namespace postrunner {

static_assert(sizeof(off_t) == 8, "positions and sizes must be 64-bit");

int CBinaryFile::Open(const std::string& path, int flags) {
  Close();
  path_ = path;
  // A FIFO, device or folder is refused without blocking.
  ScopedFd fd(OpenRegularFile(path.c_str(), flags, kBinaryCreateMode));
  if (!fd.valid()) return -1;
  fd_ = std::move(fd);
  return fd_.get();
}

void CBinaryFile::Close() {
  // Files are read, or written as pieces that are read back through this
  // very descriptor before it closes: no data waits on the close.
  (void)fd_.Reset();
  path_.reset();
}

ssize_t CBinaryFile::Read(void* buffer, size_t count) {
  if (!fd_.valid()) {
    errno = EBADF;
    return -1;
  }
  return ReadSome(fd_.get(), buffer, count);
}

ssize_t CBinaryFile::ReadAt(void* buffer, size_t count, int64_t position) const {
  if (!fd_.valid()) {
    errno = EBADF;
    return -1;
  }
  char* out = static_cast<char*>(buffer);
  size_t got = 0;
  while (got < count) {
    ssize_t n = ::pread(fd_.get(), out + got, count - got, static_cast<off_t>(position + static_cast<int64_t>(got)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

void* CBinaryFile::ReadBlock(void* buffer, size_t count) {
  return Read(buffer, count) > 0 ? buffer : nullptr;
}

ssize_t CBinaryFile::Write(const void* buffer, size_t count) {
  if (!fd_.valid()) {
    errno = EBADF;
    return -1;
  }
  size_t written = WriteAll(fd_.get(), buffer, count);
  return written == count ? static_cast<ssize_t>(count) : -1;
}

int64_t CBinaryFile::Tell() {
  if (!fd_.valid()) {
    errno = EBADF;
    return -1;
  }
  return ::lseek(fd_.get(), 0, SEEK_CUR);
}

int64_t CBinaryFile::Seek(int64_t position) {
  if (!fd_.valid()) {
    errno = EBADF;
    return -1;
  }
  return ::lseek(fd_.get(), static_cast<off_t>(position), SEEK_SET);
}

int64_t CBinaryFile::SeekToEnd() {
  if (!fd_.valid()) {
    errno = EBADF;
    return -1;
  }
  return ::lseek(fd_.get(), 0, SEEK_END);
}

}  // namespace postrunner
