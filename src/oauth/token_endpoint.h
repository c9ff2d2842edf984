// The token endpoint of an OAuth 2.0 authorization server (RFC 6749
// section 3.2): one POST per grant, the client authenticated by its id and,
// when it has one, its secret in the form (client_secret_post), the answer
// read as token_response.h reads it. Grants: refresh_token (section 6),
// client_credentials (4.4), authorization_code with the PKCE verifier
// (4.1.3, RFC 7636) and device_code (RFC 8628 section 3.4).
#ifndef POSTRUNNER_OAUTH_TOKEN_ENDPOINT_H_
#define POSTRUNNER_OAUTH_TOKEN_ENDPOINT_H_

#include <string>

#include "oauth/form_encoding.h"
#include "oauth/https_post.h"
#include "oauth/token_response.h"

namespace postrunner {

// The client as the authorization server knows it.
struct OAuthClient {
  std::string token_url;
  std::string client_id;
  std::string client_secret;  // empty: a public client
  std::string scope;          // empty: none sent
  HttpsTrust trust;
  OAuthClient() = default;
  OAuthClient(const OAuthClient&) = default;
  OAuthClient& operator=(const OAuthClient&) = default;
  // Wipes the client secret.
  ~OAuthClient();
};

// Sends the grant `grant` (grant_type and its own fields) with the client's
// fields to the token endpoint. Returns kToken with `*token` filled, kError
// with the endpoint's error code and description in `*token` and a reason
// naming them, or kUnusable with a reason (no answer, no JSON, no
// access_token, a bad expires_in). A reason never holds a secret.
[[nodiscard]] TokenAnswer RequestToken(const OAuthClient& client, const FormFields& grant,
                                       TokenResponse* token, std::string* reason);

// The reason for an error response `token` of the endpoint at `url`:
// "the token endpoint URL refused the request: ERROR: DESCRIPTION".
[[nodiscard]] std::string EndpointErrorReason(const std::string& url, const TokenResponse& token);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_TOKEN_ENDPOINT_H_
