#include "platform/secret_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_io.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

// A first line longer than this is no password or token.
constexpr size_t kMaxSecretBytes = 64 * 1024;

}  // namespace

bool ReadSecretFile(const std::string& path, std::string* secret, std::string* reason) {
  secret->clear();
  const std::string what = "password file " + path;
  // O_NONBLOCK: a FIFO in the file's place must not hang the run.
  ScopedFd file(OpenRetry(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
  if (!file.valid()) {
    *reason = "cannot open the " + what + ": " + ErrnoText(errno);
    return false;
  }
  struct stat info;
  if (::fstat(file.get(), &info) != 0) {
    *reason = "cannot examine the " + what + ": " + ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *reason = "the " + what + " is not a regular file";
    return false;
  }
  if ((info.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    *reason = "the " + what + " is accessible by other users (mode " + mode +
              "); allow only its owner (chmod 600)";
    return false;
  }
  std::string text;
  char buffer[4096];
  while (text.find('\n') == std::string::npos && text.size() < kMaxSecretBytes) {
    ssize_t n = ReadSome(file.get(), buffer, sizeof buffer);
    if (n < 0) {
      *reason = "cannot read the " + what + ": " + ErrnoText(errno);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  size_t end = text.find('\n');
  if (end == std::string::npos) end = text.size();
  if (end > 0 && text[end - 1] == '\r') --end;
  if (end == 0) {
    *reason = "the " + what + " has nothing on its first line";
    return false;
  }
  secret->assign(text, 0, end);
  return true;
}

}  // namespace postrunner
