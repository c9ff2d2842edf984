#include "platform/secret_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/file_io.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

constexpr size_t kMaxSecretLine = 64 * 1024;

// Reads up to `limit` + 1 bytes or to the first LF, whichever comes first.
bool ReadFirstLine(int fd, size_t limit, std::string* line) {
  char buffer[4096];
  for (;;) {
    ssize_t got = ReadSome(fd, buffer, sizeof buffer);
    if (got < 0) return false;
    std::string_view chunk(buffer, static_cast<size_t>(got));
    size_t end = chunk.find('\n');
    line->append(chunk.substr(0, end));
    if (got == 0 || end != std::string_view::npos || line->size() > limit) return true;
  }
}

}  // namespace

bool ReadSecretFile(const std::string& path, std::string* secret, std::string* error) {
  secret->clear();
  // O_NONBLOCK: a FIFO in the file's place must not hang the run.
  ScopedFd fd(OpenRetry(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
  struct stat info;
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
    *error = "Cannot read secret file " + path + ": " + ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "Secret file " + path + " is not a regular file";
    return false;
  }
  if ((info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    *error = "Secret file " + path +
             " is readable by group or others; refused (make it private: chmod 600 " + path + ")";
    return false;
  }
  if (!ReadFirstLine(fd.get(), kMaxSecretLine, secret)) {
    *error = "Cannot read secret file " + path + ": " + ErrnoText(errno);
    secret->clear();
    return false;
  }
  if (secret->size() > kMaxSecretLine) {
    *error = "Secret file " + path + " has a first line longer than 64 KiB";
    secret->clear();
    return false;
  }
  if (!secret->empty() && secret->back() == '\r') secret->pop_back();
  return true;
}

}  // namespace postrunner
