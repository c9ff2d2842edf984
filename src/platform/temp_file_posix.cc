#include "platform/temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_io.h"

namespace postrunner {
namespace {

std::string TempFolder() {
  const char* env = std::getenv("TMPDIR");
  return env != nullptr && *env != '\0' ? env : "/tmp";
}

}  // namespace

int CreateUnnamedTempFile() {
  const std::string folder = TempFolder();
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

namespace postrunner {

bool CreatePrivateFolder(std::string* path) {
  std::string name = TempFolder() + "/postrunner-XXXXXX";
  if (mkdtemp(name.data()) == nullptr) return false;  // mode 0700
  *path = std::move(name);
  return true;
}

bool RemoveFlatFolder(const std::string& path) {
  {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), &closedir);
    if (dir == nullptr) return errno == ENOENT;
    while (const dirent* entry = readdir(dir.get())) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string file = path;
      file += '/';
      file += name;
      (void)unlink(file.c_str());  // rmdir tells
    }
  }
  return rmdir(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace postrunner
