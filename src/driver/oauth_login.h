// "postrunner /OAuthLogin": the first, interactive sign-in that writes the
// refresh token file later runs use. With "/OAuthDeviceURL:" (or a provider
// that has one) the device flow, otherwise the authorization code flow with
// PKCE and a loopback redirect (oauth/device_login.h, oauth/loopback_login.h).
// Needs no receiver, sender or file.
#ifndef POSTRUNNER_DRIVER_OAUTH_LOGIN_H_
#define POSTRUNNER_DRIVER_OAUTH_LOGIN_H_

namespace postrunner {

// Runs the sign-in (SplitCommandLine must have run). Returns 0 when the
// refresh token is stored (mode 0600, atomically), 1 for a missing option
// (named on standard error), 5 with a reason otherwise.
[[nodiscard]] int RunOAuthLogin();

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_OAUTH_LOGIN_H_
