#include "ftp/upload_source.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/progress.h"

namespace postrunner {

bool UploadSource::Open(const std::string& path, std::string* error) {
  (void)fd_.Reset(OpenRegularFile(path.c_str()));  // a file only read: its close loses nothing
  if (!fd_.valid()) {
    bool not_regular = errno == EISDIR || errno == EINVAL;
    *error = not_regular ? "Local file " + path + " is not a regular file"
                         : "Cannot open local file " + path + ": " + ErrnoText(errno);
    return false;
  }
  struct stat info;
  if (::fstat(fd_.get(), &info) != 0) {
    *error = "Cannot open local file " + path + ": " + ErrnoText(errno);
    return false;
  }
  size_ = info.st_size;
  return true;
}

size_t UploadSource::Read(char* buffer, size_t size, size_t count, void* user) {
  auto* self = static_cast<UploadSource*>(user);
  size_t want = size * count;
  curl_off_t left = self->size_ - self->sent_;
  if (left <= 0) return 0;
  if (static_cast<curl_off_t>(want) > left) want = static_cast<size_t>(left);
  ssize_t got = ReadSome(self->fd_.get(), buffer, want);
  if (got < 0) return CURL_READFUNC_ABORT;
  self->sent_ += got;
  ProgressAdvance(static_cast<uint64_t>(got));
  return static_cast<size_t>(got);
}

}  // namespace postrunner
