// The HTTPS requests an OAuth 2.0 client makes: a form POSTed to an
// endpoint of the authorization server, through libcurl (loaded at run time,
// net/curl_handle.h). The certificate rules are those of mail: the system
// store plus an optional CA file, the host name checked, nothing turns
// verification off. Only https:// URLs are used, except http:// to a
// loopback address (a test server on this machine). Redirects are not
// followed: a form holding a secret goes only where the URL says.
#ifndef POSTRUNNER_OAUTH_HTTPS_POST_H_
#define POSTRUNNER_OAUTH_HTTPS_POST_H_

#include <string>

namespace postrunner {

struct HttpsTrust {
  std::string ca_file;      // PEM file trusted beside the system store; may be empty
  long timeout_seconds = 120;  // bound on the connect and on the whole exchange
};

struct HttpAnswer {
  long status = 0;   // the HTTP status code
  std::string body;  // at most 1 MiB; may hold tokens
  HttpAnswer() = default;
  HttpAnswer(const HttpAnswer&) = delete;
  HttpAnswer& operator=(const HttpAnswer&) = delete;
  // Wipes the body.
  ~HttpAnswer();
};

// Checks that `url` may be used for `what` ("/OAuthTokenURL:"): an
// https:// URL with a host, or http:// to 127.0.0.0/8, ::1 or localhost.
// False with `*reason` otherwise.
[[nodiscard]] bool CheckEndpointUrl(const std::string& url, const std::string& what,
                                    std::string* reason);

// POSTs `form` (application/x-www-form-urlencoded) to `url` (checked with
// CheckEndpointUrl) and reads the answer, whatever its status. False, with
// `*reason` naming the URL and what failed (never the form), when no HTTP
// answer came: libcurl missing, no connection, TLS refused, time-out, an
// answer over 1 MiB.
[[nodiscard]] bool PostForm(const std::string& url, const std::string& form,
                            const HttpsTrust& trust, HttpAnswer* answer, std::string* reason);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_HTTPS_POST_H_
