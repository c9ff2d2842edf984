#include "platform/mailbox_lock.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace postrunner {
namespace {

constexpr int kPollMs = 20;

// Sets (F_RDLCK) or drops (F_UNLCK) this process's lock on all of `fd`
// without waiting. Returns 0, or the errno value.
[[nodiscard]] int SetLock(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end of the file, however far it grows
  for (;;) {
    if (::fcntl(fd, F_SETLK, &lock) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

[[nodiscard]] bool DotLockExists(const std::string& dot_lock) {
  struct stat st;
  return ::lstat(dot_lock.c_str(), &st) == 0;
}

// What stands in the way now: kHeld when nothing does and the lock is taken.
[[nodiscard]] MailboxLock TryOnce(int fd, const std::string& dot_lock) {
  if (DotLockExists(dot_lock)) return MailboxLock::kDotLock;
  const int error = SetLock(fd, F_RDLCK);
  if (error == EAGAIN || error == EACCES) return MailboxLock::kFileLock;
  // A file system that keeps no locks is read without one.
  if (error != 0 && error != ENOLCK && error != EOPNOTSUPP) {
    errno = error;
    return MailboxLock::kFailed;
  }
  // A dot-lock made while the lock was being taken: the delivery goes first.
  if (DotLockExists(dot_lock)) {
    // Best effort: the lock is taken afresh on the next try, and a lock that
    // stays only delays the delivery until this run ends.
    if (error == 0) (void)SetLock(fd, F_UNLCK);
    return MailboxLock::kDotLock;
  }
  return MailboxLock::kHeld;
}

}  // namespace

MailboxLock LockMailboxForReading(int fd, const std::string& path, int wait_ms) {
  using Clock = std::chrono::steady_clock;
  const std::string dot_lock = path + ".lock";
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    const MailboxLock state = TryOnce(fd, dot_lock);
    if (state == MailboxLock::kHeld || state == MailboxLock::kFailed) return state;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return state;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(kPollMs)));
  }
}

}  // namespace postrunner
