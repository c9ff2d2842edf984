#include "ftp/ftp_url.h"

#include "platform/path.h"

namespace postrunner {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsAlnum(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsHostNameChar(char c) {
  return IsAlnum(c) || c == '-' || c == '.' || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Decimal 1..65535 with at most five digits.
bool ParsePort(std::string_view text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// An IPv6 address with an optional zone ("fe80::1%eth0"), turned into its
// bracketed URL form. Only the character set is checked; the resolver
// rejects an address that is not one.
bool BracketIpv6(std::string_view text, std::string* url_host) {
  std::string_view zone;
  size_t percent = text.find('%');
  if (percent != std::string_view::npos) {
    zone = text.substr(percent + 1);
    text = text.substr(0, percent);
    if (zone.empty()) return false;
    for (char c : zone) {
      if (!IsAlnum(c) && c != '-' && c != '.' && c != '_' && c != '~') return false;
    }
  }
  if (text.find(':') == std::string_view::npos) return false;
  for (char c : text) {
    if (!IsHexDigit(c) && c != ':' && c != '.') return false;
  }
  *url_host = "[";
  url_host->append(text);
  if (!zone.empty()) {
    url_host->append("%25");
    url_host->append(zone);
  }
  url_host->push_back(']');
  return true;
}

}  // namespace

bool ParseFtpServer(std::string_view server, uint16_t default_port, FtpServerAddress* out) {
  out->port = default_port;
  if (server.empty()) return false;
  if (server.front() == '[') {
    size_t close = server.find(']');
    if (close == std::string_view::npos) return false;
    std::string_view rest = server.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || !ParsePort(rest.substr(1), &out->port))) {
      return false;
    }
    return BracketIpv6(server.substr(1, close - 1), &out->url_host);
  }
  size_t colon = server.find(':');
  if (colon != std::string_view::npos && server.find(':', colon + 1) != std::string_view::npos) {
    return BracketIpv6(server, &out->url_host);
  }
  std::string_view host = server.substr(0, colon);
  if (host.empty()) return false;
  for (char c : host) {
    if (!IsHostNameChar(c)) return false;
  }
  if (colon != std::string_view::npos && !ParsePort(server.substr(colon + 1), &out->port)) {
    return false;
  }
  out->url_host.assign(host);
  return true;
}

std::string DefaultRemoteName(std::string_view local_path) {
  return std::string(BareNameView(local_path));
}

std::string PercentEncodePath(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (char c : text) {
    if (IsAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      encoded.push_back(c);
    } else {
      unsigned char byte = static_cast<unsigned char>(c);
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 0x0F]);
    }
  }
  return encoded;
}

std::string BuildFtpUrl(const FtpServerAddress& server, std::string_view remote_name) {
  std::string url = "ftp://";
  url += server.url_host;
  url += ':';
  url += std::to_string(server.port);
  url += '/';
  url += PercentEncodePath(remote_name);
  return url;
}

}  // namespace postrunner
