#include "platform/binary_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io.h"

namespace postrunner {

static_assert(sizeof(off_t) == 8, "positions and sizes must be 64-bit");

int CBinaryFile::Open(const std::string& path, int flags) {
  Close();
  path_ = path;
  // O_NONBLOCK makes opening a FIFO return at once instead of waiting for a
  // writer; anything that is not a regular file is then refused.
  ScopedFd fd(OpenRetry(path.c_str(), flags | O_NONBLOCK, kBinaryCreateMode));
  if (!fd.valid()) return -1;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  int status = ::fcntl(fd.get(), F_GETFL);
  if (status == -1 || ::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) == -1) return -1;
  fd_ = std::move(fd);
  return fd_.get();
}

void CBinaryFile::Close() {
  fd_.Reset();
  path_.reset();
}

ssize_t CBinaryFile::Read(void* buffer, size_t count) {
  if (!fd_.valid()) {
    errno = EBADF;
    return -1;
  }
  return ReadSome(fd_.get(), buffer, count);
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
