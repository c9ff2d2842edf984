#include "mail/address_check.h"

#include <cstdio>

namespace postrunner {

std::string AddressProblem(std::string_view address) {
  for (size_t i = 0; i < address.size(); ++i) {
    const auto c = static_cast<unsigned char>(address[i]);
    if (c < 0x20 || c == 0x7F) {
      char text[64];
      std::snprintf(text, sizeof text, "holds the control character 0x%02X at byte %zu", c, i + 1);
      return text;
    }
  }
  return std::string();
}

}  // namespace postrunner
