#include "platform/file_info.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

// Clears O_NONBLOCK on `fd`; on failure closes it and returns -1.
[[nodiscard]] int BackToBlocking(int fd) {
  if (fd < 0) return -1;
  ScopedFd owned(fd);
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return -1;
  return owned.Release();
}

// Fills `info` from what statx(2) gave.
void FillInfo(const struct statx& sx, FileInfo* info) {
  *info = FileInfo{};
  info->mode = sx.stx_mode;
  info->is_regular = S_ISREG(sx.stx_mode);
  info->is_folder = S_ISDIR(sx.stx_mode);
  info->is_fifo = S_ISFIFO(sx.stx_mode);
  info->is_char_device = S_ISCHR(sx.stx_mode);
  info->owner_read = (sx.stx_mode & S_IRUSR) != 0;
  info->owner_write = (sx.stx_mode & S_IWUSR) != 0;
  info->owner_execute = (sx.stx_mode & S_IXUSR) != 0;
  info->size = info->is_regular ? sx.stx_size : 0;
  info->access_time = sx.stx_atime.tv_sec;
  info->modify_time = sx.stx_mtime.tv_sec;
  info->create_time = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
  info->device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  info->inode = sx.stx_ino;
}

}  // namespace

bool FileInfoOf(int fd, FileInfo* info) {
  struct statx sx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    return false;
  }
  FillInfo(sx, info);
  return true;
}

bool FileInfoOfPath(const char* path, FileInfo* info) {
  struct statx sx {};
  if (::statx(AT_FDCWD, path, 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  FillInfo(sx, info);
  return true;
}

int OpenRegularFile(const char* path, int flags, mode_t mode) {
  ScopedFd fd(OpenRetry(path, flags | O_NONBLOCK | O_NOCTTY, mode));
  if (!fd.valid()) return -1;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  return BackToBlocking(fd.Release());
}

int CreateForWriting(const char* path) {
  return BackToBlocking(
      OpenRetry(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY, 0666));
}

int OpenStreamForWriting(const char* path) {
  ScopedFd fd(OpenRetry(path, O_WRONLY | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return -1;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  return BackToBlocking(fd.Release());
}

bool IsOpenDescriptor(int fd) { return fd >= 0 && ::fcntl(fd, F_GETFD) != -1; }

bool IsReadableDescriptor(int fd) {
  if (fd < 0) return false;
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  int access = flags & O_ACCMODE;
  return access == O_RDONLY || access == O_RDWR;
}

bool IsAppendOnly(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_APPEND) != 0;
}

int DuplicateDescriptor(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

bool CurrentPosition(int fd, uint64_t* position) {
  off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0) return false;
  *position = static_cast<uint64_t>(at);
  return true;
}

bool SeekToEnd(int fd, uint64_t* position) {
  off_t at = ::lseek(fd, 0, SEEK_END);
  if (at < 0) return false;
  *position = static_cast<uint64_t>(at);
  return true;
}

bool SeekTo(int fd, uint64_t position) {
  return ::lseek(fd, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

size_t WriteAllNoSigpipe(int fd, const void* buffer, size_t count) {
  sigset_t pipe_signal, old_mask;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  bool was_pending = false;
  sigset_t pending;
  if (sigpending(&pending) == 0) was_pending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask);
  size_t written = WriteAll(fd, buffer, count);
  if (written < count && errno == EPIPE && !was_pending) {
    // Take the signal this write raised before unblocking it.
    int saved = errno;
    struct timespec no_wait {};
    while (sigtimedwait(&pipe_signal, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
    errno = saved;
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return written;
}

}  // namespace postrunner
