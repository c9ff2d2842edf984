// The time-out of a delivery: the value of the /Timeout: option or of the
// Timeout preset, in seconds.
#ifndef POSTRUNNER_DRIVER_TIMEOUT_OPTION_H_
#define POSTRUNNER_DRIVER_TIMEOUT_OPTION_H_

#include <string_view>

namespace postrunner {

// Largest time-out accepted: one day.
inline constexpr int kMaxTimeoutSeconds = 86400;

// Reads `text`, decimal digits only, and stores the seconds when they are
// from 1 to kMaxTimeoutSeconds. False for anything else (empty, a sign,
// other characters, 0, too many seconds).
bool ParseTimeoutSeconds(std::string_view text, int* seconds);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_TIMEOUT_OPTION_H_
