// Sign-in with the authorization code grant and PKCE S256 (RFC 6749 section
// 4.1, RFC 7636) and a loopback redirect (RFC 8252): the program prints the
// authorization URL for the user to open, then takes the redirect either on
// its listener at http://127.0.0.1:PORT/ (a browser on this machine) or as
// the redirected address, or the bare code, pasted on standard input (a
// browser on another machine). The state of a redirect must be the one this
// sign-in sent; the code is then exchanged with the code verifier.
#ifndef POSTRUNNER_OAUTH_LOOPBACK_LOGIN_H_
#define POSTRUNNER_OAUTH_LOOPBACK_LOGIN_H_

#include <string>

#include "oauth/token_endpoint.h"

namespace postrunner {

// Runs the sign-in for `client` at `auth_url`; `extra_fields` ("&name=value"
// pairs, may be empty) are appended to the authorization URL. Waits at most
// `wait_seconds` for the redirect. True with the tokens in `*token`; false
// with `*reason` (never holding the code or the verifier).
[[nodiscard]] bool LoopbackLogin(const OAuthClient& client, const std::string& auth_url,
                                 const std::string& extra_fields, int wait_seconds,
                                 TokenResponse* token, std::string* reason);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_LOOPBACK_LOGIN_H_
