// Setting libcurl options with every result checked. libcurl is loaded at
// run time, so the library found may be older than the headers the program
// was built with and refuse an option it does not know (CURLOPT_PROTOCOLS_STR
// needs 7.85, for example). An option that guards the transfer (verification,
// protocols, time-outs) must never be dropped silently: the first refusal
// stops the set-up and its text fails the transfer.
#ifndef POSTRUNNER_NET_CURL_OPTIONS_H_
#define POSTRUNNER_NET_CURL_OPTIONS_H_

#include <curl/curl.h>

#include <string>
#include <type_traits>

#include "net/curl_handle.h"

namespace postrunner {

// The hashed certificate folder of the system store as libcurl was built to
// use it, else /etc/ssl/certs. Naming a CA file replaces libcurl's bundle;
// this folder keeps the system's certificates trusted beside it.
[[nodiscard]] std::string CurlSystemCaPath(CURL* curl);

class CurlOptions {
 public:
  // Sets options on `curl`, which must stay valid while this object is used.
  explicit CurlOptions(CURL* curl) : curl_(curl) {}

  CurlOptions(const CurlOptions&) = delete;
  CurlOptions& operator=(const CurlOptions&) = delete;

  // Sets `option` to `value` unless an earlier option failed; remembers the
  // first failure. `value` must have the type libcurl documents for the
  // option (long, curl_off_t, a pointer or a function pointer): a plain int
  // or bool passed through libcurl's variadic setter would be read wrongly.
  template <typename T>
  CurlOptions& Set(CURLoption option, T value) {
    static_assert(!std::is_same_v<T, int> && !std::is_same_v<T, bool> &&
                      !std::is_same_v<T, unsigned>,
                  "libcurl takes long, curl_off_t or pointers");
    if (code_ == CURLE_OK) {
      code_ = Curl().easy_setopt(curl_, option, value);
      if (code_ != CURLE_OK) failed_ = option;
    }
    return *this;
  }

  // Whether every option so far was accepted.
  [[nodiscard]] bool ok() const { return code_ == CURLE_OK; }

  // Why the first refused option was refused, naming it, e.g. "libcurl
  // refused option PROTOCOLS_STR: An unknown option was passed in to
  // libcurl". Only meaningful when !ok().
  std::string FailureText() const;

 private:
  CURL* curl_;
  CURLcode code_ = CURLE_OK;
  CURLoption failed_ = CURLOPT_LASTENTRY;
};

}  // namespace postrunner

#endif  // POSTRUNNER_NET_CURL_OPTIONS_H_
