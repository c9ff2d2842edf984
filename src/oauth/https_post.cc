#include "oauth/https_post.h"

#include <string_view>

#include "net/curl_handle.h"
#include "net/curl_options.h"
#include "platform/ascii.h"
#include "platform/secret_memory.h"

namespace postrunner {
namespace {

constexpr size_t kMaxAnswerBytes = 1024 * 1024;

// The host part of `url` after its scheme (`rest`), without brackets.
std::string UrlHost(std::string_view rest) {
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.find('@') != std::string_view::npos) return "";
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    return close == std::string_view::npos ? "" : std::string(authority.substr(1, close - 1));
  }
  return std::string(authority.substr(0, authority.find(':')));
}

bool IsLoopbackHost(const std::string& host) {
  return host == "::1" || EqualNoCase(host, "localhost") || host.starts_with("127.");
}

struct Collected {
  std::string* body;
  bool too_long = false;
};

size_t Collect(char* data, size_t size, size_t count, void* self) {
  auto* collected = static_cast<Collected*>(self);
  const size_t bytes = size * count;
  if (collected->body->size() + bytes > kMaxAnswerBytes) {
    collected->too_long = true;
    return 0;
  }
  collected->body->append(data, bytes);
  return bytes;
}

// Sets the request's options. False with `*reason` when libcurl refused one.
bool SetRequest(CURL* curl, const std::string& url, const std::string& form,
                const HttpsTrust& trust, const std::string& system_ca, Collected* collected,
                char* error_buffer, std::string* reason) {
  CurlOptions options(curl);
  options.Set(CURLOPT_URL, url.c_str())
      .Set(CURLOPT_PROTOCOLS_STR, url.starts_with("https://") ? "https" : "http")
      .Set(CURLOPT_FOLLOWLOCATION, 0L)
      .Set(CURLOPT_NOSIGNAL, 1L)
      .Set(CURLOPT_NOPROGRESS, 1L)
      .Set(CURLOPT_POSTFIELDS, form.c_str())
      .Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form.size()))
      .Set(CURLOPT_USERAGENT, "postrunner")
      .Set(CURLOPT_SSL_VERIFYPEER, 1L)
      .Set(CURLOPT_SSL_VERIFYHOST, 2L)
      .Set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2))
      .Set(CURLOPT_CONNECTTIMEOUT, trust.timeout_seconds)
      .Set(CURLOPT_TIMEOUT, trust.timeout_seconds)
      .Set(CURLOPT_WRITEFUNCTION, &Collect)
      .Set(CURLOPT_WRITEDATA, static_cast<void*>(collected))
      .Set(CURLOPT_ERRORBUFFER, error_buffer);
  if (!trust.ca_file.empty()) {
    options.Set(CURLOPT_CAINFO, trust.ca_file.c_str()).Set(CURLOPT_CAPATH, system_ca.c_str());
  }
  if (options.ok()) return true;
  *reason = options.FailureText();
  return false;
}

}  // namespace

HttpAnswer::~HttpAnswer() { WipeSecret(&body); }

bool CheckEndpointUrl(const std::string& url, const std::string& what, std::string* reason) {
  std::string host;
  if (url.starts_with("https://")) {
    host = UrlHost(std::string_view(url).substr(8));
    if (!host.empty()) return true;
  } else if (url.starts_with("http://")) {
    host = UrlHost(std::string_view(url).substr(7));
    if (IsLoopbackHost(host)) return true;
    if (!host.empty()) {
      *reason = what + " must be an https:// URL (plain http:// only to this machine): " + url;
      return false;
    }
  }
  *reason = what + " is no https:// URL: \"" + url + "\"";
  return false;
}

bool PostForm(const std::string& url, const std::string& form, const HttpsTrust& trust,
              HttpAnswer* answer, std::string* reason) {
  if (!CheckEndpointUrl(url, "the endpoint", reason)) return false;
  if (!CurlLibraryReady()) {
    *reason = std::string("cannot reach ") + url + ": " + kCurlLibraryName + " cannot be loaded";
    return false;
  }
  CurlEasy curl;
  if (!curl) {
    *reason = "cannot reach " + url + ": libcurl could not make a handle";
    return false;
  }
  char error_buffer[CURL_ERROR_SIZE] = "";
  Collected collected{&answer->body};
  const std::string system_ca = trust.ca_file.empty() ? "" : CurlSystemCaPath(curl.get());
  if (!SetRequest(curl.get(), url, form, trust, system_ca, &collected, error_buffer, reason)) {
    *reason = "cannot reach " + url + ": " + *reason;
    return false;
  }
  const CURLcode code = Curl().easy_perform(curl.get());
  if (code != CURLE_OK) {
    std::string text = collected.too_long ? std::string("its answer is over 1 MiB")
                       : *error_buffer    ? std::string(error_buffer)
                                          : std::string(Curl().easy_strerror(code));
    if (code == CURLE_PEER_FAILED_VERIFICATION && trust.ca_file.empty()) {
      text += "; if a private CA signed its certificate, give it with /CAFile:PATH";
    }
    *reason = "cannot reach " + url + ": " + text;
    return false;
  }
  if (Curl().easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &answer->status) != CURLE_OK) {
    answer->status = 0;
  }
  return true;
}

}  // namespace postrunner
