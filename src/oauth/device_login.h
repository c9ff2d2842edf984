// Sign-in with the device authorization grant (RFC 8628): the program asks
// the device endpoint for a user code, prints where to enter it, and polls
// the token endpoint at the interval the server gives until the user has
// signed in on any device, waiting 5 seconds longer after each "slow_down",
// giving up at "expired_token", "access_denied" or the code's expiry.
#ifndef POSTRUNNER_OAUTH_DEVICE_LOGIN_H_
#define POSTRUNNER_OAUTH_DEVICE_LOGIN_H_

#include <string>

#include "oauth/token_endpoint.h"

namespace postrunner {

// Runs the sign-in for `client` at `device_url`; the lines for the user go
// to standard output. True with the tokens in `*token`; false with
// `*reason` (never holding a secret).
[[nodiscard]] bool DeviceLogin(const OAuthClient& client, const std::string& device_url,
                               TokenResponse* token, std::string* reason);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_DEVICE_LOGIN_H_
