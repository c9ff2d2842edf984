#include "join/mailbox_files.h"

#include <cerrno>

#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/mailbox_lock.h"

namespace postrunner {
namespace {

std::string WaitText(int wait_ms) {
  return wait_ms % 1000 == 0 ? std::to_string(wait_ms / 1000) + " s"
                             : std::to_string(wait_ms) + " ms";
}

}  // namespace

bool MailboxFiles::LockOnlyFile(int wait_ms, std::string* reason) {
  const std::string& path = paths_[0];
  if (Get(0, reason) < 0) return false;
  switch (LockMailboxForReading(fd_.get(), path, wait_ms)) {
    case MailboxLock::kHeld:
      return true;
    case MailboxLock::kFileLock:
      *reason = "cannot read " + path + ": another program kept it locked for " +
                WaitText(wait_ms);
      break;
    case MailboxLock::kDotLock:
      *reason = "cannot read " + path + ": " + path + ".lock stayed in place for " +
                WaitText(wait_ms);
      break;
    case MailboxLock::kFailed:
      *reason = "cannot lock " + path + ": " + ErrnoText(errno);
      break;
  }
  (void)fd_.Reset();  // a mailbox is only read: its close loses nothing
  return false;
}

int MailboxFiles::Get(uint32_t index, std::string* reason) {
  if (index != index_ || !fd_.valid()) {
    (void)fd_.Reset(OpenRegularFile(paths_[index].c_str()));  // as above
    index_ = index;
    if (!fd_.valid()) *reason = "cannot read " + paths_[index] + ": " + ErrnoText(errno);
  }
  return fd_.get();
}

}  // namespace postrunner
