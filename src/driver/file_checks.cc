#include "driver/file_checks.h"

#include <sys/stat.h>

#include "platform/directory_search.h"
#include "platform/path.h"
#include "platform/system_api.h"

namespace postrunner {

bool FileExists(const std::string& name) {
  static constexpr const char* kBlank = " \t\r\n";
  size_t first = name.find_first_not_of(kBlank);
  if (first == std::string::npos) return false;
  size_t last = name.find_last_not_of(kBlank);
  return PathExists(name.substr(first, last - first + 1));
}

bool DeleteArchiveFile(const std::string& name) {
  if (!FileExists(name)) return true;
  // Only files and links are archives that can be replaced. A device, FIFO
  // or socket named by mistake (say /dev/null, run as root) is never removed.
  mode_t mode;
  if (System().LinkMode(name, &mode) != 0) return true;
  if (!S_ISREG(mode) && !S_ISLNK(mode)) return false;
  for (int attempt = 0; attempt <= kDeleteRetries; ++attempt) {
    if (System().RemoveFile(name) == 0) return true;
  }
  return false;
}

bool SameExistingFile(const std::string& a, const std::string& b) {
  dev_t dev_a, dev_b;
  ino_t ino_a, ino_b;
  return FileIdentity(a, &dev_a, &ino_a) && FileIdentity(b, &dev_b, &ino_b) &&
         dev_a == dev_b && ino_a == ino_b;
}

std::string BareName(const std::string& path) { return std::string(BareNameView(path)); }

}  // namespace postrunner
