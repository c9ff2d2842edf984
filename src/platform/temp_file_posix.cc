#include "platform/temp_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_io.h"

namespace postrunner {

int CreateUnnamedTempFile() {
  const char* env = std::getenv("TMPDIR");
  std::string folder = env != nullptr && *env != '\0' ? env : "/tmp";
  int fd = OpenRetry(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without unnamed files: create one with a unique name and
  // remove the name at once.
  std::string path = folder + "/.postrunner-XXXXXX";
  fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  if (unlink(path.c_str()) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace postrunner
