#include "net/curl_options.h"

namespace postrunner {

std::string CurlOptions::FailureText() const {
  std::string name;
  // libcurl 7.73 and later can name its options; older ones get the number.
  if (Curl().easy_option_by_id != nullptr) {
    const curl_easyoption* known = Curl().easy_option_by_id(failed_);
    if (known != nullptr && known->name != nullptr) name = known->name;
  }
  if (name.empty()) name = std::to_string(static_cast<int>(failed_));
  return "libcurl refused option " + name + ": " + Curl().easy_strerror(code_);
}

std::string CurlSystemCaPath(CURL* curl) {
  char* path = nullptr;
  if (Curl().easy_getinfo(curl, CURLINFO_CAPATH, &path) == CURLE_OK && path != nullptr &&
      *path != '\0') {
    return path;
  }
  return "/etc/ssl/certs";
}

}  // namespace postrunner
