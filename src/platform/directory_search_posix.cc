#include "platform/directory_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/ascii.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using ScopedDir = std::unique_ptr<DIR, DirCloser>;

}  // namespace

uint32_t AttributesFromMode(const std::string& name, mode_t mode) {
  uint32_t attributes = 0;
  if (S_ISDIR(mode)) {
    attributes |= kAttrFolder;
  } else if (S_ISREG(mode)) {
    attributes |= kAttrArchive;
  } else {
    attributes |= kAttrSystem;
  }
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") {
    attributes |= kAttrHidden;
  }
  if (!(mode & S_IWUSR)) attributes |= kAttrReadOnly;
  return attributes;
}

namespace {

// Examines each entry through `examine` (stat relative to the folder),
// then sorts.
template <typename Examine>
[[nodiscard]] bool ReadEntries(DIR* dir, Examine examine, std::vector<DirEntry>* entries) {
  errno = 0;
  while (struct dirent* d = ::readdir(dir)) {
    DirEntry entry;
    entry.name = d->d_name;
    struct stat st;
    if (examine(entry.name, &st)) {
      entry.attributes = AttributesFromMode(entry.name, st.st_mode);
      entry.device = st.st_dev;
      entry.inode = st.st_ino;
    } else {
      // A link whose target is gone, or an entry that vanished meanwhile.
      entry.attributes = kAttrSystem;
    }
    entries->push_back(std::move(entry));
    errno = 0;
  }
  if (errno != 0) {
    int error = errno;
    entries->clear();
    errno = error;
    return false;
  }
  std::sort(entries->begin(), entries->end(),
            [](const DirEntry& a, const DirEntry& b) {
              int c = CompareNoCase(a.name, b.name);
              return c != 0 ? c < 0 : a.name < b.name;
            });
  return true;
}

}  // namespace

int OpenFolder(const std::string& path) {
  return OpenFolderAt(AT_FDCWD, path.empty() ? std::string(".") : path);
}

namespace {

// The failure FailFolderOpensForTesting injects.
std::string g_failing_name;
int g_failing_error = 0;

}  // namespace

void FailFolderOpensForTesting(const std::string& name, int error) {
  g_failing_name = name;
  g_failing_error = error;
}

int OpenFolderAt(int folder, const std::string& name) {
  if (!g_failing_name.empty() && name == g_failing_name) {
    errno = g_failing_error;
    return -1;
  }
  for (;;) {
    int fd = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

bool ListFolderAt(int folder, std::vector<DirEntry>* entries) {
  entries->clear();
  // fdopendir takes over the descriptor it is given: hand it a duplicate,
  // rewound, so that `folder` stays the caller's.
  ScopedFd copy(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  if (!copy.valid()) return false;
  ScopedDir dir(::fdopendir(copy.get()));
  if (!dir) return false;
  (void)copy.Release();  // the folder stream owns the descriptor now
  ::rewinddir(dir.get());
  return ReadEntries(
      dir.get(),
      [folder](const std::string& name, struct stat* st) {
        return ::fstatat(folder, name.c_str(), st, 0) == 0;
      },
      entries);
}

bool DescriptorIdentity(int fd, dev_t* device, ino_t* inode) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  *device = st.st_dev;
  *inode = st.st_ino;
  return true;
}

void RaiseOpenFileLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    // Best effort: with the lower limit, fewer files wait open for their turn.
    (void)::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool FileIdentity(const std::string& path, dev_t* device, ino_t* inode) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  *device = st.st_dev;
  *inode = st.st_ino;
  return true;
}

}  // namespace postrunner
