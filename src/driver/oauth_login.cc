#include "driver/oauth_login.h"

#include "driver/command_line.h"
#include "driver/main_flow.h"
#include "driver/oauth_options.h"
#include "driver/presets.h"
#include "driver/timeout_option.h"
#include "oauth/device_login.h"
#include "oauth/loopback_login.h"
#include "platform/console.h"
#include "platform/path.h"
#include "platform/private_file.h"
#include "platform/secret_memory.h"

namespace postrunner {
namespace {

// How long the loopback flow waits for the browser.
constexpr int kBrowserWaitSeconds = 600;

// The /Timeout: value, 0 when none (or a bad one, which mail runs report).
int TimeoutSeconds() {
  int seconds = 0;
  const std::string text = OptionOrPreset("/Timeout:", "Timeout");
  return !text.empty() && ParseTimeoutSeconds(text, &seconds) ? seconds : 0;
}

int Fail(int code, const std::string& reason) {
  PrintReason(reason);
  return code;
}

}  // namespace

int RunOAuthLogin() {
  OAuthSettings settings;
  std::string reason;
  const std::string ca_file = ExpandHome(OptionOrPreset("/CAFile:", "CAFile"));
  if (int code = ReadOAuthSettings(ca_file, TimeoutSeconds(), true, &settings, &reason)) {
    return Fail(code, reason);
  }
  if (!ProtectSecretMemory()) return Fail(kExitNotDelivered, "cannot keep the secrets out of core dumps");
  TokenResponse token;
  const bool signed_in =
      settings.device_url.empty()
          ? LoopbackLogin(settings.client, settings.auth_url, settings.extra_auth_fields,
                          kBrowserWaitSeconds, &token, &reason)
          : DeviceLogin(settings.client, settings.device_url, &token, &reason);
  if (!signed_in) return Fail(kExitNotDelivered, reason);
  if (token.refresh_token.empty()) {
    return Fail(kExitNotDelivered,
                "the token endpoint issued no refresh token; ask for one in /OAuthScope: "
                "(offline_access for the first provider)");
  }
  std::string content = token.refresh_token + "\n";
  const bool stored =
      ReplacePrivateFile(settings.refresh_token_file, "refresh token file", content, &reason);
  WipeSecret(&content);
  if (!stored) return Fail(kExitNotDelivered, reason);
  PrintLine("Signed in; the refresh token is stored in " + settings.refresh_token_file);
  return kExitOk;
}

}  // namespace postrunner
