#include "oauth/form_encoding.h"

#include "platform/ascii.h"

namespace postrunner {

std::string PercentEncode(std::string_view text) { return PercentEncode(text, IsUnreserved); }

std::string FormEncode(const FormFields& fields) {
  std::string body;
  for (const auto& [name, value] : fields) {
    if (!body.empty()) body += '&';
    body += PercentEncode(name) + "=" + PercentEncode(value);
  }
  return body;
}

bool QueryValue(std::string_view query, std::string_view name, std::string* value) {
  query = query.substr(0, query.find('#'));
  while (!query.empty()) {
    const size_t end = query.find('&');
    const std::string_view field = query.substr(0, end);
    const size_t equals = field.find('=');
    std::string field_name;
    if (PercentDecode(field.substr(0, equals), true, &field_name) && field_name == name) {
      return PercentDecode(equals == std::string_view::npos ? "" : field.substr(equals + 1), true,
                           value);
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace postrunner
