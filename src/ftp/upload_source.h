// The local file an upload sends: a regular file opened for reading and
// handed to libcurl through its read callback. Never reads past the size
// measured at opening, so a file that grows meanwhile is sent as it was; one
// that shrinks makes libcurl report a short upload.
#ifndef POSTRUNNER_FTP_UPLOAD_SOURCE_H_
#define POSTRUNNER_FTP_UPLOAD_SOURCE_H_

#include <curl/curl.h>

#include <cstddef>
#include <string>

#include "platform/scoped_fd.h"

namespace postrunner {

class UploadSource {
 public:
  UploadSource() = default;
  UploadSource(const UploadSource&) = delete;
  UploadSource& operator=(const UploadSource&) = delete;

  // Opens `path` without blocking (a FIFO must not hang the run) and checks
  // that it is a regular file. Returns false with a message in `error`.
  [[nodiscard]] bool Open(const std::string& path, std::string* error);

  // The size measured at opening, and the bytes handed out so far.
  [[nodiscard]] curl_off_t size() const { return size_; }
  [[nodiscard]] curl_off_t sent() const { return sent_; }

  // libcurl's read callback (`user` is the source): fills `buffer`, returns
  // 0 at the end, or aborts the transfer on a read error.
  [[nodiscard]] static size_t Read(char* buffer, size_t size, size_t count, void* user);

 private:
  ScopedFd fd_;
  curl_off_t size_ = 0;
  curl_off_t sent_ = 0;
};

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_UPLOAD_SOURCE_H_
