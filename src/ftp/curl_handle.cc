#include "ftp/curl_handle.h"

#include <memory>

#include "platform/shared_library.h"

namespace postrunner {
namespace {

// The loaded library. curl_global_init is not thread-safe and must run
// once; a function-local static gives exactly that, and its destructor
// releases the library when the process ends, after every handle on the
// stack is gone.
class CurlLibrary {
 public:
  CurlLibrary() : library_(LoadSharedLibrary(kCurlLibraryName)) {
    if (!library_) return;
    void* lib = library_.get();
    bool resolved = Resolve(lib, "curl_global_init", &api_.global_init) &&
                    Resolve(lib, "curl_global_cleanup", &api_.global_cleanup) &&
                    Resolve(lib, "curl_easy_init", &api_.easy_init) &&
                    Resolve(lib, "curl_easy_cleanup", &api_.easy_cleanup) &&
                    Resolve(lib, "curl_easy_reset", &api_.easy_reset) &&
                    Resolve(lib, "curl_easy_setopt", &api_.easy_setopt) &&
                    Resolve(lib, "curl_easy_perform", &api_.easy_perform) &&
                    Resolve(lib, "curl_easy_strerror", &api_.easy_strerror) &&
                    Resolve(lib, "curl_easy_getinfo", &api_.easy_getinfo) &&
                    Resolve(lib, "curl_version_info", &api_.version_info);
    // Optional: older libraries lack it, and failures then name no option.
    (void)Resolve(lib, "curl_easy_option_by_id", &api_.easy_option_by_id);
    ready_ = resolved && api_.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  }
  ~CurlLibrary() {
    if (ready_) api_.global_cleanup();
  }
  CurlLibrary(const CurlLibrary&) = delete;
  CurlLibrary& operator=(const CurlLibrary&) = delete;

  [[nodiscard]] bool ready() const { return ready_; }
  const CurlApi& api() const { return api_; }

 private:
  SharedLibrary library_;
  CurlApi api_{};
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
