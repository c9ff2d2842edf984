#include "platform/publish_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_io.h"

namespace postrunner {

int CreateTempFileIn(const std::string& folder, std::string* path) {
  static unsigned counter = 0;
  const std::string prefix =
      (folder.empty() ? std::string(".") : folder) + "/.postrunner-" + std::to_string(::getpid());
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = prefix + "-" + std::to_string(counter++) + ".part";
    int fd = OpenRetry(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      *path = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename: a hard link cannot replace
  // an existing name either.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace postrunner
