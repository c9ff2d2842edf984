#include "driver/timeout_option.h"

namespace postrunner {

bool ParseTimeoutSeconds(std::string_view text, int* seconds) {
  if (text.empty()) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > kMaxTimeoutSeconds) return false;
  }
  if (value < 1) return false;
  *seconds = value;
  return true;
}

}  // namespace postrunner
