// Reading the JSON answers of an OAuth 2.0 authorization server: the token
// response (RFC 6749 section 5.1) or error response (section 5.2), and the
// device authorization response (RFC 8628 section 3.2). The texts come from
// the network and are judged strictly: anything but a JSON object with the
// members of the right types is an answer that cannot be used.
#ifndef POSTRUNNER_OAUTH_TOKEN_RESPONSE_H_
#define POSTRUNNER_OAUTH_TOKEN_RESPONSE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace postrunner {

struct TokenResponse {
  std::string access_token;
  std::string refresh_token;  // empty: the endpoint issued none
  int64_t expires_in = -1;    // seconds; -1 when the endpoint did not say
  // Set for an error response: the error code and its description (either
  // may be empty when the endpoint sent only the other).
  std::string error;
  std::string error_description;

  TokenResponse() = default;
  TokenResponse(const TokenResponse&) = default;
  TokenResponse& operator=(const TokenResponse&) = default;
  // Wipes the tokens.
  ~TokenResponse();
};

// How a token endpoint answer reads.
enum class TokenAnswer {
  kToken,      // an access token (and maybe a refresh token and lifetime)
  kError,      // an error response: `error` and `error_description` set
  kUnusable,   // neither: `*problem` says why, never quoting a token
};

// Reads `body`, the answer to a token request, which came with HTTP status
// `status`. A 2xx answer must hold a non-empty string "access_token"; an
// "expires_in" must be a non-negative whole number (or a text of digits);
// any answer with an "error" string is an error response whatever its
// status. Never throws.
[[nodiscard]] TokenAnswer ParseTokenResponse(std::string_view body, long status,
                                             TokenResponse* out, std::string* problem);

struct DeviceAuthorization {
  std::string device_code;
  std::string user_code;
  std::string verification_uri;           // "verification_url" is taken too
  std::string verification_uri_complete;  // may be empty
  int64_t expires_in = 0;
  int64_t interval = 5;                   // seconds between polls
  DeviceAuthorization() = default;
  DeviceAuthorization(const DeviceAuthorization&) = delete;
  DeviceAuthorization& operator=(const DeviceAuthorization&) = delete;
  // Wipes the device code.
  ~DeviceAuthorization();
};

// Reads a device authorization response. kError as for tokens; kToken here
// means the device code, user code and verification URI are all there.
[[nodiscard]] TokenAnswer ParseDeviceAuthorization(std::string_view body, long status,
                                                   DeviceAuthorization* out,
                                                   TokenResponse* error, std::string* problem);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_TOKEN_RESPONSE_H_
