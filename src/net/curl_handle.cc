#include "net/curl_handle.h"

#include <memory>

#include "platform/shared_library.h"

namespace postrunner {
namespace {

bool ResolveCurl(void* lib, CurlApi* api) {
  // Optional: older libraries lack it, and failures then name no option.
  (void)Resolve(lib, "curl_easy_option_by_id", &api->easy_option_by_id);
  return Resolve(lib, "curl_global_init", &api->global_init) &&
         Resolve(lib, "curl_global_cleanup", &api->global_cleanup) &&
         Resolve(lib, "curl_easy_init", &api->easy_init) &&
         Resolve(lib, "curl_easy_cleanup", &api->easy_cleanup) &&
         Resolve(lib, "curl_easy_reset", &api->easy_reset) &&
         Resolve(lib, "curl_easy_setopt", &api->easy_setopt) &&
         Resolve(lib, "curl_easy_perform", &api->easy_perform) &&
         Resolve(lib, "curl_easy_strerror", &api->easy_strerror) &&
         Resolve(lib, "curl_easy_getinfo", &api->easy_getinfo) &&
         Resolve(lib, "curl_version_info", &api->version_info);
}

// The loaded library. curl_global_init is not thread-safe and must run
// once; a function-local static gives exactly that, and its destructor
// releases the library when the process ends, after every handle on the
// stack is gone.
class CurlLibrary {
 public:
  CurlLibrary() : library_(kCurlLibraryName, ResolveCurl) {
    ready_ = library_.ready() && library_.api().global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  }
  ~CurlLibrary() {
    if (ready_) library_.api().global_cleanup();
  }
  CurlLibrary(const CurlLibrary&) = delete;
  CurlLibrary& operator=(const CurlLibrary&) = delete;

  [[nodiscard]] bool ready() const { return ready_; }
  const CurlApi& api() const { return library_.api(); }

 private:
  LibraryApi<CurlApi> library_;
  bool ready_ = false;
};

CurlLibrary& Library() {
  static CurlLibrary library;
  return library;
}

}  // namespace

bool CurlLibraryReady() { return Library().ready(); }

const CurlApi& Curl() { return Library().api(); }

CurlEasy::CurlEasy() {
  if (CurlLibraryReady()) handle_ = Curl().easy_init();
}

CurlEasy::~CurlEasy() {
  if (handle_ != nullptr) Curl().easy_cleanup(handle_);
}

}  // namespace postrunner
