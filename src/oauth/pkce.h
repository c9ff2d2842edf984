// Proof Key for Code Exchange (RFC 7636) with the S256 method, and the
// random texts an authorization request carries: the code verifier (kept by
// the program, sent only with the code to the token endpoint), its
// challenge (sent in the authorization URL) and the state value that ties
// the redirect to this request.
#ifndef POSTRUNNER_OAUTH_PKCE_H_
#define POSTRUNNER_OAUTH_PKCE_H_

#include <string>
#include <string_view>

namespace postrunner {

// The unpadded base64url text (RFC 4648 section 5) of `bytes`.
[[nodiscard]] std::string Base64Url(std::string_view bytes);

// `bytes` random bytes from the kernel as base64url text. False when the
// kernel's generator is not available.
[[nodiscard]] bool RandomToken(size_t bytes, std::string* token);

// A code verifier: 43 characters of base64url from 32 random bytes.
[[nodiscard]] bool MakeCodeVerifier(std::string* verifier);

// The S256 challenge of `verifier`: base64url of its SHA-256.
[[nodiscard]] std::string CodeChallenge(std::string_view verifier);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_PKCE_H_
