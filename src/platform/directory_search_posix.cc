#include "platform/directory_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "platform/ascii.h"

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

bool ListFolder(const std::string& folder, std::vector<DirEntry>* entries) {
  entries->clear();
  std::string base = folder.empty() ? std::string("./") : folder;
  if (base.back() != '/' && base.back() != '\\') base += '/';
  ScopedDir dir(::opendir(base.c_str()));
  if (!dir) return false;
  while (struct dirent* d = ::readdir(dir.get())) {
    DirEntry entry;
    entry.name = d->d_name;
    struct stat st;
    if (::stat((base + entry.name).c_str(), &st) == 0) {
      entry.attributes = AttributesFromMode(entry.name, st.st_mode);
      entry.device = st.st_dev;
      entry.inode = st.st_ino;
    } else {
      // A link whose target is gone, or an entry that vanished meanwhile.
      entry.attributes = kAttrSystem;
    }
    entries->push_back(std::move(entry));
  }
  std::sort(entries->begin(), entries->end(),
            [](const DirEntry& a, const DirEntry& b) {
              int c = CompareNoCase(a.name, b.name);
              return c != 0 ? c < 0 : a.name < b.name;
            });
  return true;
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
