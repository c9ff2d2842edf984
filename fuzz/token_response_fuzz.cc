// The token endpoint's and the device endpoint's answers: the input's first
// byte picks the HTTP status, the rest is the body.
//
// Holds: reading is deterministic; a token answer holds a non-empty access
// token and an expiry that is unknown (-1) or not negative; an error answer
// holds an error code and one-line texts; an unusable answer has a one-line
// reason; the device answer, read from the same body, is deterministic too.
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "oauth/token_response.h"

namespace postrunner {
namespace {

const long kStatuses[] = {200, 201, 400, 401, 500, 503, 302, 0};

bool OneLine(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  std::string_view input = fuzz::Input(data, size);
  if (input.empty()) return 0;
  const long status = kStatuses[static_cast<unsigned char>(input[0]) % 8];
  input.remove_prefix(1);

  TokenResponse first;
  TokenResponse second;
  std::string problem;
  std::string problem_again;
  const TokenAnswer answer = ParseTokenResponse(input, status, &first, &problem);
  FUZZ_CHECK(answer == ParseTokenResponse(input, status, &second, &problem_again),
             "two readings differ");
  FUZZ_CHECK(first.access_token == second.access_token && first.expires_in == second.expires_in &&
                 first.refresh_token == second.refresh_token && first.error == second.error &&
                 problem == problem_again,
             "two readings differ");
  switch (answer) {
    case TokenAnswer::kToken:
      FUZZ_CHECK(!first.access_token.empty(), "a token answer without a token");
      FUZZ_CHECK(first.expires_in >= -1, std::to_string(first.expires_in));
      FUZZ_CHECK(status >= 200 && status <= 299, "a token taken from a failure");
      break;
    case TokenAnswer::kError:
      FUZZ_CHECK(!first.error.empty(), "an error answer without an error code");
      FUZZ_CHECK(OneLine(first.error) && OneLine(first.error_description),
                 fuzz::Shown(first.error + first.error_description));
      break;
    case TokenAnswer::kUnusable:
      FUZZ_CHECK(!problem.empty(), "an unusable answer without a reason");
      FUZZ_CHECK(OneLine(problem), fuzz::Shown(problem));
      break;
  }

  DeviceAuthorization device;
  DeviceAuthorization device_again;
  TokenResponse error;
  const TokenAnswer device_answer = ParseDeviceAuthorization(input, status, &device, &error,
                                                             &problem);
  FUZZ_CHECK(device_answer == ParseDeviceAuthorization(input, status, &device_again, &error,
                                                       &problem_again),
             "two device readings differ");
  if (device_answer == TokenAnswer::kToken) {
    FUZZ_CHECK(!device.device_code.empty() && !device.user_code.empty() &&
                   !device.verification_uri.empty() && device.interval >= 0,
               "a device answer without its codes");
  }
  return 0;
}
