// libcurl ownership for the FTP client: the library's once-per-process
// set-up and an RAII owner for one easy handle. Only the FTP code uses
// libcurl, so only the FTP code initialises it.
#ifndef POSTRUNNER_FTP_CURL_HANDLE_H_
#define POSTRUNNER_FTP_CURL_HANDLE_H_

#include <curl/curl.h>

namespace postrunner {

// Runs curl_global_init the first time it is called in the process (the
// matching cleanup runs at process exit). Returns whether the library is
// ready; a failed set-up is not tried again.
bool CurlLibraryReady();

// Owns one libcurl easy handle, created by the constructor when the library
// is ready and cleaned up (closing any connection it keeps) by the
// destructor. Not copyable.
class CurlEasy {
 public:
  CurlEasy();
  ~CurlEasy();

  CurlEasy(const CurlEasy&) = delete;
  CurlEasy& operator=(const CurlEasy&) = delete;

  // The handle, or nullptr when it could not be created.
  CURL* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  CURL* handle_ = nullptr;
};

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_CURL_HANDLE_H_
