// Reading an mbox file that a mail delivery may be appending to. A delivery
// announces itself by a write lock of fcntl(2) on the file, by a dot-lock
// file "NAME.lock" beside it, or by both; a reader waits until neither is
// there and holds a shared fcntl lock while it reads, so that no delivery
// starts meanwhile. An fcntl lock belongs to the process and the file:
// closing any descriptor of that file in this process drops it, so the
// reader keeps exactly one descriptor of the file open while it holds one.
#ifndef POSTRUNNER_PLATFORM_MAILBOX_LOCK_H_
#define POSTRUNNER_PLATFORM_MAILBOX_LOCK_H_

#include <string>

namespace postrunner {

enum class MailboxLock {
  kHeld,      // the shared lock is held (or the file system keeps no locks)
  kFileLock,  // another program's fcntl lock stayed for the whole wait
  kDotLock,   // the dot-lock "NAME.lock" stayed for the whole wait
  kFailed,    // locking failed otherwise (errno set)
};

// Takes a shared fcntl lock on all of the mbox `path`, open for reading as
// `fd`, once no "`path`.lock" exists and no other program holds a write
// lock on it; looks again every few milliseconds for up to `wait_ms`. The
// lock lasts until the descriptor closes.
[[nodiscard]] MailboxLock LockMailboxForReading(int fd, const std::string& path, int wait_ms);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_MAILBOX_LOCK_H_
