// The OAuth 2.0 options and their presets of the same names:
// "/OAuthProvider:" (microsoft or google, with "/OAuthTenant:"),
// "/OAuthTokenURL:", "/OAuthAuthURL:", "/OAuthDeviceURL:",
// "/OAuthClientID:", "/OAuthClientSecretFile:" (or the environment variable
// POSTRUNNER_OAUTH_CLIENT_SECRET), "/OAuthScope:", "/OAuthRefreshTokenFile:"
// and "/OAuthGrant:" (refresh_token or client_credentials). An explicit
// option or preset wins over the provider's shortcut; the shortcut's scope is
// its IMAP scope when "/Join:" is given, else its submission scope.
#ifndef POSTRUNNER_DRIVER_OAUTH_OPTIONS_H_
#define POSTRUNNER_DRIVER_OAUTH_OPTIONS_H_

#include <string>

#include "oauth/token_endpoint.h"

namespace postrunner {

// The environment variable that may hold the client secret.
inline constexpr const char* kOAuthClientSecretVariable = "POSTRUNNER_OAUTH_CLIENT_SECRET";

enum class OAuthGrant { kRefreshToken, kClientCredentials };

struct OAuthSettings {
  OAuthClient client;  // token URL, id, secret, scope, trust
  std::string auth_url;
  std::string device_url;
  std::string extra_auth_fields;  // the provider's additions to the authorization URL
  std::string refresh_token_file;
  OAuthGrant grant = OAuthGrant::kRefreshToken;
};

// Whether a token endpoint is set up: "/OAuthTokenURL:", "/OAuthProvider:"
// or their presets (SplitCommandLine must have run).
[[nodiscard]] bool OAuthConfigured();

// Whether POSTRUNNER_OAUTH_CLIENT_SECRET is set and not empty.
[[nodiscard]] bool OAuthSecretGiven();

// Reads the settings; `ca_file` and `timeout_seconds` (0: 120) become the
// trust of every request. `for_login` asks for what /OAuthLogin needs (a
// refresh token file and an authorization or device URL) rather than a
// grant. Returns 0, or the exit code with `*reason` (never holding a
// secret): 1 when an option is missing (naming it) or has an unknown value,
// 5 when the client secret file is refused.
[[nodiscard]] int ReadOAuthSettings(const std::string& ca_file, int timeout_seconds,
                                    bool for_login, OAuthSettings* out, std::string* reason);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_OAUTH_OPTIONS_H_
