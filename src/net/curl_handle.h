// libcurl for the transfers that use it (uploads, and any other URL-based
// exchange): the library itself, loaded from its shared object the first time
// a transfer needs it, its once-per-process set-up, and an RAII owner for one
// easy handle. Runs that never need it (plain mail, archives) never map it or
// the TLS stack it pulls in (most of a run's memory otherwise).
#ifndef POSTRUNNER_NET_CURL_HANDLE_H_
#define POSTRUNNER_NET_CURL_HANDLE_H_

#include <curl/curl.h>

namespace postrunner {

// The libcurl entry points the program calls.
struct CurlApi {
  CURLcode (*global_init)(long flags);
  void (*global_cleanup)();
  CURL* (*easy_init)();
  void (*easy_cleanup)(CURL* handle);
  void (*easy_reset)(CURL* handle);
  CURLcode (*easy_setopt)(CURL* handle, CURLoption option, ...);
  CURLcode (*easy_perform)(CURL* handle);
  const char* (*easy_strerror)(CURLcode code);
  CURLcode (*easy_getinfo)(CURL* handle, CURLINFO info, ...);
  curl_version_info_data* (*version_info)(CURLversion stamp);
  // Optional (libcurl 7.73 and later): nullptr when the library lacks it.
  const curl_easyoption* (*easy_option_by_id)(CURLoption id);
};

// The shared object that is loaded.
inline constexpr const char* kCurlLibraryName = "libcurl.so.4";

// Loads libcurl and runs curl_global_init the first time it is called in
// the process (the matching cleanup runs at process exit). Returns whether
// the library is ready; a failed load or set-up is not tried again.
[[nodiscard]] bool CurlLibraryReady();

// The entry points. The caller must have seen CurlLibraryReady() return true.
const CurlApi& Curl();

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

#endif  // POSTRUNNER_NET_CURL_HANDLE_H_
