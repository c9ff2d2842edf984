#include "oauth/device_login.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/console.h"

namespace postrunner {
namespace {

constexpr const char* kDeviceGrant = "urn:ietf:params:oauth:grant-type:device_code";
constexpr int64_t kSlowDownSeconds = 5;
// Bounds on a server's interval and lifetime: no poll storm, no endless wait.
constexpr int64_t kMinInterval = 1;
constexpr int64_t kMaxInterval = 60;
constexpr int64_t kDefaultLifetime = 900;
constexpr int64_t kMaxLifetime = 3600;

// Asks the device endpoint for a user code. False with `*reason`.
bool Authorize(const OAuthClient& client, const std::string& device_url,
               DeviceAuthorization* device, std::string* reason) {
  FormFields fields{{"client_id", client.client_id}};
  if (!client.scope.empty()) fields.emplace_back("scope", client.scope);
  HttpAnswer answer;
  if (!PostForm(device_url, FormEncode(fields), client.trust, &answer, reason)) return false;
  TokenResponse error;
  std::string problem;
  switch (ParseDeviceAuthorization(answer.body, answer.status, device, &error, &problem)) {
    case TokenAnswer::kToken:
      return true;
    case TokenAnswer::kError:
      *reason = "the device endpoint " + device_url + " refused the request: " + error.error +
                (error.error_description.empty() ? "" : ": " + error.error_description);
      return false;
    case TokenAnswer::kUnusable:
      break;
  }
  *reason = "the device endpoint " + device_url + " gave no user code: " + problem;
  return false;
}

void ShowCode(const DeviceAuthorization& device) {
  PrintLine("To sign in, open " + device.verification_uri + " and enter the code " +
            device.user_code);
  if (!device.verification_uri_complete.empty()) {
    PrintLine("Or open " + device.verification_uri_complete);
  }
  PrintLine("Waiting for the sign-in...");
}

}  // namespace

bool DeviceLogin(const OAuthClient& client, const std::string& device_url,
                 TokenResponse* token, std::string* reason) {
  DeviceAuthorization device;
  if (!Authorize(client, device_url, &device, reason)) return false;
  ShowCode(device);
  int64_t interval = std::clamp(device.interval, kMinInterval, kMaxInterval);
  const int64_t lifetime =
      device.expires_in > 0 ? std::min(device.expires_in, kMaxLifetime) : kDefaultLifetime;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
  const FormFields grant{{"grant_type", kDeviceGrant}, {"device_code", device.device_code}};
  while (std::chrono::steady_clock::now() + std::chrono::seconds(interval) <= end) {
    std::this_thread::sleep_for(std::chrono::seconds(interval));
    *token = TokenResponse();
    const TokenAnswer answer = RequestToken(client, grant, token, reason);
    if (answer == TokenAnswer::kToken) return true;
    if (answer == TokenAnswer::kUnusable) return false;
    if (token->error == "authorization_pending") continue;
    if (token->error == "slow_down") {
      interval = std::min(interval + kSlowDownSeconds, kMaxInterval);
      continue;
    }
    if (token->error == "expired_token") {
      *reason = "the code " + device.user_code +
                " expired before the sign-in was completed; run postrunner /OAuthLogin again";
    } else if (token->error == "access_denied") {
      *reason = "the sign-in was denied: " + *reason;
    }
    return false;
  }
  *reason = "the code " + device.user_code +
            " expired before the sign-in was completed; run postrunner /OAuthLogin again";
  return false;
}

}  // namespace postrunner
