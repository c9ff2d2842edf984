#include "platform/file_names.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/file_io.h"
#include "platform/path.h"

namespace postrunner {
namespace {

constexpr int kCreateAttempts = 100;

// Twelve random letters and digits.
std::string RandomPart() {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  unsigned char bytes[12] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // No randomness: the process id and the time still differ between runs,
    // and O_EXCL settles any clash.
    uint64_t v = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                 static_cast<uint64_t>(::time(nullptr));
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(v);
      v = v * 6364136223846793005ull + 1442695040888963407ull;
    }
  }
  std::string out;
  for (unsigned char b : bytes) out += kDigits[b % 36];
  return out;
}

}  // namespace

int CreateFileBeside(const std::string& real_name, std::string* temp_name, unsigned mode) {
  std::string_view bare = BareNameView(real_name);
  std::string folder = real_name.substr(0, real_name.size() - bare.size());
  size_t room = LongestNameIn(folder.empty() ? "." : folder);
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    std::string tail = "." + RandomPart() + ".tmp";
    // "." + bare + tail, with the bare name cut so that the whole fits.
    size_t keep = room > tail.size() + 1 ? room - tail.size() - 1 : 0;
    std::string name = folder;
    name += '.';
    name += bare.substr(0, keep);
    name += tail;
    int fd = OpenRetry(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW,
                       static_cast<mode_t>(mode));
    if (fd >= 0) {
      *temp_name = std::move(name);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename: a hard link also refuses an
  // existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  // The file is in place under `to`; an old name that stays is only a
  // second name of the same file.
  (void)::unlink(from.c_str());
  return 0;
}

std::string DescriptorPath(int fd, std::string_view name) {
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (!name.empty()) {
    path += '/';
    path += name;
  }
  return path;
}

size_t LongestNameIn(const std::string& folder) {
  long n = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return n > 0 ? static_cast<size_t>(n) : 255;
}

}  // namespace postrunner
