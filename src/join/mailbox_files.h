// MailboxFiles opens the files of a mailbox for a join, one at a time, and
// keeps the last one open. A mailbox that is one mbox file is opened once
// and held under a shared lock for the whole run, after waiting for a mail
// delivery in progress to finish, so that no delivery changes it while it is
// scanned and its pieces are read.
#ifndef POSTRUNNER_JOIN_MAILBOX_FILES_H_
#define POSTRUNNER_JOIN_MAILBOX_FILES_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/scoped_fd.h"

namespace postrunner {

class MailboxFiles {
 public:
  explicit MailboxFiles(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  MailboxFiles(const MailboxFiles&) = delete;
  MailboxFiles& operator=(const MailboxFiles&) = delete;

  // Opens the only file and takes the shared lock, waiting up to `wait_ms`
  // for the locks of a delivery to go. Returns false, with `*reason`, when
  // it cannot be opened or stays locked.
  [[nodiscard]] bool LockOnlyFile(int wait_ms, std::string* reason);

  // The descriptor of file `index`; -1, with `*reason`, when it cannot be
  // opened. It stays valid until another file is asked for.
  [[nodiscard]] int Get(uint32_t index, std::string* reason);

  const std::string& path(uint32_t index) const { return paths_[index]; }
  [[nodiscard]] uint32_t count() const { return static_cast<uint32_t>(paths_.size()); }

 private:
  std::vector<std::string> paths_;
  ScopedFd fd_;
  uint32_t index_ = 0;
};

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_MAILBOX_FILES_H_
