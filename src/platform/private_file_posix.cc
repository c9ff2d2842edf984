#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_io.h"
#include "platform/pending_file.h"
#include "platform/scoped_fd.h"
#include "platform/secret_memory.h"

namespace postrunner {
namespace {

constexpr size_t kMaxPrivateBytes = 64 * 1024;

std::string ModeText(mode_t mode) {
  char text[8];
  (void)std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Why the entry `st` describes may not hold a secret as a `folder` or a
// file; "" when it may.
std::string EntryProblem(const struct stat& st, bool folder) {
  if (S_ISLNK(st.st_mode)) return "is a symbolic link";
  if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    return folder ? "is not a folder" : "is not a regular file";
  }
  if ((st.st_mode & 077) != 0) {
    return "is accessible by other users (mode " + ModeText(st.st_mode) +
           "); allow only its owner (chmod " + (folder ? "700" : "600") + ")";
  }
  return "";
}

// Reads all of `fd` into `*content`. False on a read error or too much.
bool ReadAll(int fd, std::string* content) {
  char buffer[4096];
  content->reserve(kMaxPrivateBytes + sizeof buffer);
  bool ok = true;
  for (;;) {
    const ssize_t n = ReadSome(fd, buffer, sizeof buffer);
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    content->append(buffer, static_cast<size_t>(n));
    if (content->size() > kMaxPrivateBytes) {
      ok = false;
      errno = EFBIG;
      break;
    }
  }
  WipeBytes(buffer, sizeof buffer);
  return ok;
}

}  // namespace

bool ReadPrivateFile(const std::string& path, const std::string& what, std::string* content,
                     bool* missing, std::string* reason) {
  *missing = false;
  const std::string shown = "the " + what + " " + path;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    *missing = errno == ENOENT;
    *reason = "cannot open " + shown + ": " + ErrnoText(errno);
    return false;
  }
  if (std::string problem = EntryProblem(st, false); !problem.empty()) {
    *reason = shown + " " + problem;
    return false;
  }
  // Never follows a link nor blocks on a FIFO put there since the check.
  ScopedFd fd(OpenRetry(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  struct stat opened;
  if (!fd.valid() || ::fstat(fd.get(), &opened) != 0) {
    *reason = "cannot open " + shown + ": " + ErrnoText(errno);
    return false;
  }
  if (std::string problem = EntryProblem(opened, false); !problem.empty()) {
    *reason = shown + " " + problem;
    return false;
  }
  if (!ProtectSecretMemory()) {
    *reason = "cannot keep the secrets out of core dumps: " + ErrnoText(errno);
    return false;
  }
  if (!ReadAll(fd.get(), content)) {
    *reason = "cannot read " + shown + ": " + ErrnoText(errno);
    WipeSecret(content);
    return false;
  }
  return true;
}

bool ReplacePrivateFile(const std::string& path, const std::string& what,
                        const std::string& content, std::string* reason) {
  const std::string shown = "the " + what + " " + path;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode) || !S_ISREG(st.st_mode)) {
      *reason = "cannot replace " + shown + ": it " + EntryProblem(st, false);
      return false;
    }
  }
  PendingFile file;
  // Created 0600: a file made with the usual mode and narrowed afterwards
  // could be opened by another user in between and read once written.
  if (!file.Create(path, 0600) || ::fchmod(file.descriptor(), 0600) != 0 ||
      WriteAll(file.descriptor(), content.data(), content.size()) != content.size() ||
      ::fsync(file.descriptor()) != 0 || !file.Close()) {
    *reason = "cannot write " + shown + ": " + ErrnoText(errno);
    return false;
  }
  if (const int error = file.Publish(path, PendingFile::Existing::kReplace); error != 0) {
    *reason = "cannot write " + shown + ": " + ErrnoText(error);
    return false;
  }
  return true;
}

bool MakePrivateFolder(const std::string& path, const std::string& what, std::string* reason) {
  const std::string shown = "the " + what + " " + path;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    const size_t slash = path.find_last_of('/');
    if (errno == ENOENT && slash != std::string::npos && slash > 0) {
      const std::string parent = path.substr(0, slash);
      // Parents are only made, never judged: a home folder may be 0755.
      if (::lstat(parent.c_str(), &st) != 0 && !MakePrivateFolder(parent, what, reason)) {
        return false;
      }
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      *reason = "cannot make " + shown + ": " + ErrnoText(errno);
      return false;
    }
    if (::lstat(path.c_str(), &st) != 0) {
      *reason = "cannot examine " + shown + ": " + ErrnoText(errno);
      return false;
    }
  }
  if (std::string problem = EntryProblem(st, true); !problem.empty()) {
    *reason = shown + " " + problem;
    return false;
  }
  return true;
}

}  // namespace postrunner
