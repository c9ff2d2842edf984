#include "driver/thread_count.h"

#include <algorithm>
#include <thread>

#include "platform/ascii.h"

namespace postrunner {

bool ParseThreadCount(std::string_view text, unsigned* threads) {
  if (text.empty()) return false;
  unsigned count = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    count = count * 10 + static_cast<unsigned>(c - '0');
    // Stops before the count could overflow, however many digits follow.
    if (count > kMaxThreads) return false;
  }
  if (count == 0) return false;
  *threads = count;
  return true;
}

unsigned CompressingThreads(unsigned requested) {
  const unsigned online = std::max(1u, std::thread::hardware_concurrency());
  return requested == 0 ? online : std::min(requested, online);
}

}  // namespace postrunner
