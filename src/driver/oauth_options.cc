#include "driver/oauth_options.h"

#include <cstdlib>

#include "driver/command_line.h"
#include "driver/main_flow.h"
#include "driver/presets.h"
#include "oauth/providers.h"
#include "platform/ascii.h"
#include "platform/path.h"
#include "platform/secret_file.h"

namespace postrunner {
namespace {

constexpr int kDefaultTimeoutSeconds = 120;

// The option's value, else its preset, else `fallback` (the provider's).
std::string Setting(const char* option, const char* preset, const std::string& fallback = "") {
  std::string value = OptionOrPreset(option, preset);
  return value.empty() ? fallback : value;
}

int Missing(const std::string& what, std::string* reason) {
  *reason = "no " + what;
  return kExitUsage;
}

// Fills in the provider's endpoints and scope. Returns 0 or the exit code.
int ReadProvider(ProviderEndpoints* provider, std::string* reason) {
  const std::string name = Setting("/OAuthProvider:", "OAuthProvider");
  if (name.empty()) return 0;
  const std::string tenant = Setting("/OAuthTenant:", "OAuthTenant");
  if (LookUpProvider(name, tenant, provider)) return 0;
  *reason = EqualNoCase(name, "microsoft")
                ? "/OAuthTenant: \"" + tenant + "\" is no tenant name or id"
                : "unknown /OAuthProvider: \"" + name + "\" (microsoft or google)";
  return kExitUsage;
}

// The client secret: the environment, else the secret file. Returns 0 or
// the exit code.
int ReadClientSecret(OAuthClient* client, std::string* reason) {
  if (const char* value = std::getenv(kOAuthClientSecretVariable); value && *value) {
    client->client_secret = value;
    return 0;
  }
  const std::string file =
      ExpandHome(Setting("/OAuthClientSecretFile:", "OAuthClientSecretFile"));
  if (file.empty()) return 0;
  if (ReadSecretFile(file, &client->client_secret, reason)) return 0;
  return kExitNotDelivered;
}

// The grant of a mail run. Returns 0 or the exit code.
int ReadGrant(OAuthSettings* out, std::string* reason) {
  const std::string grant = Setting("/OAuthGrant:", "OAuthGrant");
  if (EqualNoCase(grant, "client_credentials")) {
    out->grant = OAuthGrant::kClientCredentials;
    return 0;
  }
  if (!grant.empty() && !EqualNoCase(grant, "refresh_token")) {
    *reason = "unknown /OAuthGrant: \"" + grant + "\" (refresh_token or client_credentials)";
    return kExitUsage;
  }
  out->grant = OAuthGrant::kRefreshToken;
  if (!out->refresh_token_file.empty()) return 0;
  return Missing("refresh token file: give /OAuthRefreshTokenFile:PATH (written by postrunner "
                 "/OAuthLogin) or /OAuthGrant:client_credentials",
                 reason);
}

}  // namespace

bool OAuthConfigured() {
  return !Setting("/OAuthTokenURL:", "OAuthTokenURL").empty() ||
         !Setting("/OAuthProvider:", "OAuthProvider").empty();
}

bool OAuthSecretGiven() {
  const char* value = std::getenv(kOAuthClientSecretVariable);
  return value != nullptr && *value != '\0';
}

int ReadOAuthSettings(const std::string& ca_file, int timeout_seconds, bool for_login,
                      OAuthSettings* out, std::string* reason) {
  ProviderEndpoints provider;
  if (int code = ReadProvider(&provider, reason)) return code;
  OAuthClient& client = out->client;
  client.token_url = Setting("/OAuthTokenURL:", "OAuthTokenURL", provider.token_url);
  out->auth_url = Setting("/OAuthAuthURL:", "OAuthAuthURL", provider.auth_url);
  out->device_url = Setting("/OAuthDeviceURL:", "OAuthDeviceURL", provider.device_url);
  out->extra_auth_fields = provider.extra_auth_fields;
  client.client_id = Setting("/OAuthClientID:", "OAuthClientID");
  // A join run (and a sign-in for one) reads a mailbox: the provider's IMAP
  // scope rather than its submission scope.
  client.scope = Setting("/OAuthScope:", "OAuthScope",
                         HasOption("/Join:") ? provider.imap_scope : provider.scope);
  out->refresh_token_file =
      ExpandHome(Setting("/OAuthRefreshTokenFile:", "OAuthRefreshTokenFile"));
  client.trust.ca_file = ca_file;
  client.trust.timeout_seconds = timeout_seconds > 0 ? timeout_seconds : kDefaultTimeoutSeconds;
  if (client.token_url.empty()) {
    return Missing("token endpoint: give /OAuthTokenURL:URL or /OAuthProvider:", reason);
  }
  if (client.client_id.empty()) return Missing("client id: give /OAuthClientID:ID", reason);
  for (const auto& [url, what] : {std::pair{&client.token_url, "/OAuthTokenURL:"},
                                  std::pair{&out->auth_url, "/OAuthAuthURL:"},
                                  std::pair{&out->device_url, "/OAuthDeviceURL:"}}) {
    if (!url->empty() && !CheckEndpointUrl(*url, what, reason)) return kExitUsage;
  }
  if (for_login) {
    if (out->refresh_token_file.empty()) {
      return Missing("refresh token file to write: give /OAuthRefreshTokenFile:PATH", reason);
    }
    if (out->auth_url.empty() && out->device_url.empty()) {
      return Missing("sign-in endpoint: give /OAuthAuthURL:URL or /OAuthDeviceURL:URL", reason);
    }
  } else if (int code = ReadGrant(out, reason)) {
    return code;
  }
  return ReadClientSecret(&client, reason);
}

}  // namespace postrunner
