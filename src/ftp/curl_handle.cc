#include "ftp/curl_handle.h"

namespace postrunner {
namespace {

// curl_global_init is not thread-safe and must run once; a function-local
// static gives exactly that, and its destructor releases the library when
// the process ends, after every handle on the stack is gone.
class CurlLibrary {
 public:
  CurlLibrary() : ready_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
  ~CurlLibrary() {
    if (ready_) curl_global_cleanup();
  }
  CurlLibrary(const CurlLibrary&) = delete;
  CurlLibrary& operator=(const CurlLibrary&) = delete;

  bool ready() const { return ready_; }

 private:
  bool ready_;
};

}  // namespace

bool CurlLibraryReady() {
  static CurlLibrary library;
  return library.ready();
}

CurlEasy::CurlEasy() {
  if (CurlLibraryReady()) handle_ = curl_easy_init();
}

CurlEasy::~CurlEasy() {
  if (handle_ != nullptr) curl_easy_cleanup(handle_);
}

}  // namespace postrunner
