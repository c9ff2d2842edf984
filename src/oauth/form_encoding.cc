#include "oauth/form_encoding.h"

namespace postrunner {
namespace {

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX escapes and "+" (a space in a form). False on a bad escape.
bool PercentDecode(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      *out += ' ';
    } else if (text[i] != '%') {
      *out += text[i];
    } else {
      if (i + 2 >= text.size()) return false;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      *out += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return true;
}

}  // namespace

std::string PercentEncode(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : text) {
    if (Unreserved(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kDigits[c >> 4];
      encoded += kDigits[c & 15];
    }
  }
  return encoded;
}

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
    if (PercentDecode(field.substr(0, equals), &field_name) && field_name == name) {
      return PercentDecode(equals == std::string_view::npos ? "" : field.substr(equals + 1), value);
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace postrunner
