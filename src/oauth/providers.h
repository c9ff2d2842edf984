// Shortcuts for the two large hosted mail services: their authorization,
// token and device endpoints and the scopes that allow SMTP submission and
// IMAP access, so
// that a client id (and for the second its desktop client secret) is all a
// user must give. Explicit options win over a shortcut.
#ifndef POSTRUNNER_OAUTH_PROVIDERS_H_
#define POSTRUNNER_OAUTH_PROVIDERS_H_

#include <string>

namespace postrunner {

struct ProviderEndpoints {
  std::string auth_url;
  std::string token_url;
  std::string device_url;  // empty: the provider allows no mail scope there
  std::string scope;       // SMTP submission
  std::string imap_scope;  // reading a mailbox over IMAP
  // Fields the authorization URL needs beyond the standard ones for a
  // refresh token to be issued ("&access_type=offline&prompt=consent").
  std::string extra_auth_fields;
};

// The tenant of the first provider when none is given.
inline constexpr const char* kDefaultTenant = "organizations";

// Fills `*out` for `provider` ("microsoft" or "google", any case);
// `tenant` (only the first uses it; empty: kDefaultTenant). False for an
// unknown provider or a tenant that cannot be part of a URL path.
[[nodiscard]] bool LookUpProvider(const std::string& provider, const std::string& tenant,
                                  ProviderEndpoints* out);

}  // namespace postrunner

#endif  // POSTRUNNER_OAUTH_PROVIDERS_H_
