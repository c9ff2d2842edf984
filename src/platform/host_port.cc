#include "platform/host_port.h"

namespace postrunner {
namespace {

// Decimal 1..65535 with no sign, blank or other character.
[[nodiscard]] bool ParsePort(std::string_view text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool ParseHostPort(std::string_view text, uint16_t default_port,
                   HostPort* out) {
  out->port = default_port;
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    out->host.assign(text.substr(1, close - 1));
    if (out->host.find('[') != std::string::npos) return false;
    std::string_view rest = text.substr(close + 1);
    if (rest.empty()) return true;
    return rest.front() == ':' && ParsePort(rest.substr(1), &out->port);
  }
  size_t colon = text.find(':');
  if (colon != std::string_view::npos &&
      text.find(':', colon + 1) == std::string_view::npos) {
    out->host.assign(text.substr(0, colon));
    if (!ParsePort(text.substr(colon + 1), &out->port)) return false;
  } else {
    out->host.assign(text);
  }
  return !out->host.empty() &&
         out->host.find_first_of("[]") == std::string::npos;
}

}  // namespace postrunner
