#include "platform/secret_file.h"

#include <cerrno>
#include <cstdio>

#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/scoped_fd.h"
#include "platform/secret_memory.h"

namespace postrunner {
namespace {

// A first line longer than this is no password or token.
constexpr size_t kMaxSecretBytes = 16 * 1024;

// Reads the first line of `fd` into `*text` (whole, with its line end, or
// cut off past kMaxSecretBytes). Returns false on a read error.
[[nodiscard]] bool ReadFirstLine(int fd, std::string* text) {
  char buffer[4096];
  bool ok = true;
  // Room for the longest line accepted, its CR and one more block: the text
  // is never moved to a larger buffer and so leaves no copy behind.
  text->reserve(kMaxSecretBytes + 2 + sizeof buffer);
  while (text->find('\n') == std::string::npos && text->size() <= kMaxSecretBytes + 1) {
    ssize_t n = ReadSome(fd, buffer, sizeof buffer);
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    text->append(buffer, static_cast<size_t>(n));
  }
  WipeBytes(buffer, sizeof buffer);
  return ok;
}

// Opens `path` for reading and checks that only its owner may use it.
// Returns the descriptor, or -1 with `*reason` naming the file as `what`.
[[nodiscard]]
int OpenPrivateFile(const std::string& path, const std::string& what, std::string* reason) {
  const std::string shown = what + " " + path;
  // Never blocks: a FIFO in the file's place must not hang the run.
  ScopedFd file(OpenRegularFile(path.c_str()));
  if (!file.valid()) {
    bool not_regular = errno == EISDIR || errno == EINVAL;
    *reason = not_regular ? "the " + shown + " is not a regular file"
                          : "cannot open the " + shown + ": " + ErrnoText(errno);
    return -1;
  }
  FileInfo info;
  if (!FileInfoOf(file.get(), &info)) {
    *reason = "cannot examine the " + shown + ": " + ErrnoText(errno);
    return -1;
  }
  if ((info.mode & 077) != 0) {
    char mode[8];  // four octal digits
    (void)std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.mode & 07777));
    *reason = "the " + shown + " is accessible by other users (mode " + mode +
              "); allow only its owner (chmod 600)";
    return -1;
  }
  return file.Release();
}

}  // namespace

bool CheckPrivateFile(const std::string& path, const std::string& what, std::string* reason) {
  ScopedFd file(OpenPrivateFile(path, what, reason));
  return file.valid();
}

bool ReadSecretFile(const std::string& path, std::string* secret, std::string* reason) {
  WipeSecret(secret);
  const std::string what = "password file " + path;
  if (!ProtectSecretMemory()) {
    *reason = "cannot keep the " + what + " out of core dumps: " + ErrnoText(errno);
    return false;
  }
  ScopedFd file(OpenPrivateFile(path, "password file", reason));
  if (!file.valid()) return false;
  std::string text;
  if (!ReadFirstLine(file.get(), &text)) {
    *reason = "cannot read the " + what + ": " + ErrnoText(errno);
    WipeSecret(&text);
    return false;
  }
  size_t end = text.find('\n');
  if (end == std::string::npos) end = text.size();
  if (end > 0 && text[end - 1] == '\r') --end;
  if (end == 0 || end > kMaxSecretBytes) {
    *reason = "the " + what + (end == 0 ? " has nothing on its first line"
                                        : " has a first line over 16 KiB: no password or token");
    WipeSecret(&text);
    return false;
  }
  secret->reserve(end);
  secret->assign(text, 0, end);
  WipeSecret(&text);
  return true;
}

}  // namespace postrunner
