// SHA-256 (FIPS 180-4) of a byte string: what PKCE's S256 challenge is made
// of, and the name of a token cache file. Small inputs only, held whole.
#ifndef POSTRUNNER_OAUTH_SHA256_H_
#define POSTRUNNER_OAUTH_SHA256_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace postrunner {

// The 32-byte digest of `bytes`.
[[nodiscard]] std::array<uint8_t, 32> Sha256(std::string_view bytes);

// The digest of `bytes` as 64 lower-case hexadecimal digits.
[[nodiscard]] std::string Sha256Hex(std::string_view bytes);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_SHA256_H_
