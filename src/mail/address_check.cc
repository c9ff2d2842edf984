#include "mail/address_check.h"

#include <cstdio>

namespace postrunner {

std::string AddressProblem(std::string_view address) {
  for (size_t i = 0; i < address.size(); ++i) {
    const auto c = static_cast<unsigned char>(address[i]);
    if (c < 0x20 || c == 0x7F) {
      char text[64];
      // 61 characters at most (a 20-digit byte count): the text always fits.
      (void)std::snprintf(text, sizeof text, "holds the control character 0x%02X at byte %zu", c,
                          i + 1);
      return text;
    }
  }
  return std::string();
}

std::vector<std::string> SplitAddressList(std::string_view text) {
  if (text.find(',') == std::string_view::npos) return {std::string(text)};
  std::vector<std::string> addresses;
  for (;;) {
    const size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    const size_t first = item.find_first_not_of(" \t");
    item = first == std::string_view::npos ? std::string_view()
                                           : item.substr(first, item.find_last_not_of(" \t") -
                                                                    first + 1);
    addresses.emplace_back(item);
    if (comma == std::string_view::npos) return addresses;
    text.remove_prefix(comma + 1);
  }
}

std::string JoinedAddressList(std::string_view text) {
  std::string joined;
  for (const std::string& address : SplitAddressList(text)) {
    joined += (joined.empty() ? "" : ", ") + address;
  }
  return joined;
}

}  // namespace postrunner
