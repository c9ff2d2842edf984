#include "ftp/ftp_url.h"

#include "platform/host_port.h"
#include "platform/ascii.h"
#include "platform/path.h"

namespace postrunner {
namespace {

[[nodiscard]] bool IsHostNameChar(char c) {
  return IsAlnum(c) || c == '-' || c == '.' || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

struct SchemePrefix {
  std::string_view prefix;
  FtpScheme scheme;
  std::string_view url_prefix;
};

constexpr SchemePrefix kSchemes[] = {
    {"ftp://", FtpScheme::kFtp, "ftp://"},
    {"ftps://", FtpScheme::kFtps, "ftps://"},
    {"sftp://", FtpScheme::kSftp, "sftp://"},
};

// The entry whose prefix `text` starts with (any case), or nullptr.
const SchemePrefix* FindScheme(std::string_view text) {
  for (const SchemePrefix& s : kSchemes) {
    if (StartsWithNoCase(text, s.prefix)) return &s;
  }
  return nullptr;
}

// An IPv6 address with an optional zone ("fe80::1%eth0"), turned into its
// bracketed URL form. Only the character set is checked; the resolver
// rejects an address that is not one.
[[nodiscard]] bool BracketIpv6(std::string_view text, std::string* url_host) {
  std::string_view zone;
  size_t percent = text.find('%');
  if (percent != std::string_view::npos) {
    zone = text.substr(percent + 1);
    text = text.substr(0, percent);
    if (zone.empty()) return false;
    for (char c : zone) {
      if (!IsUnreserved(c)) return false;
    }
  }
  for (char c : text) {
    if (HexDigitValue(c) < 0 && c != ':' && c != '.') return false;
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

[[nodiscard]] uint16_t DefaultPort(FtpScheme scheme, uint16_t ftp_port) {
  switch (scheme) {
    case FtpScheme::kFtps: return kFtpsDefaultPort;
    case FtpScheme::kSftp: return kSftpDefaultPort;
    case FtpScheme::kFtp: break;
  }
  return ftp_port;
}

}  // namespace

FtpScheme SchemeOf(std::string_view server) {
  const SchemePrefix* scheme = FindScheme(server);
  return scheme ? scheme->scheme : FtpScheme::kFtp;
}

bool ParseFtpServer(std::string_view server, uint16_t ftp_port, FtpServerAddress* out) {
  if (const SchemePrefix* scheme = FindScheme(server)) {
    server.remove_prefix(scheme->prefix.size());
    out->scheme = scheme->scheme;
    if (!server.empty() && server.back() == '/') server.remove_suffix(1);
  } else {
    out->scheme = FtpScheme::kFtp;
  }
  HostPort parsed;
  if (!ParseHostPort(server, DefaultPort(out->scheme, ftp_port), &parsed)) return false;
  out->port = parsed.port;
  // A ':' in the host means an IPv6 address, bracketed or bare.
  if (parsed.host.find(':') != std::string::npos) return BracketIpv6(parsed.host, &out->url_host);
  for (char c : parsed.host) {
    if (!IsHostNameChar(c)) return false;
  }
  out->url_host = parsed.host;
  return true;
}

std::string DefaultRemoteName(std::string_view local_path) {
  return std::string(BareNameView(local_path));
}

std::string PercentEncodePath(std::string_view text) {
  return PercentEncode(text, [](char c) { return IsUnreserved(c) || c == '/'; });
}

std::string BuildFtpUrl(const FtpServerAddress& server, std::string_view remote_name) {
  std::string url;
  for (const SchemePrefix& s : kSchemes) {
    if (s.scheme == server.scheme) url = s.url_prefix;
  }
  url += server.url_host;
  url += ':';
  url += std::to_string(server.port);
  url += '/';
  if (server.scheme == FtpScheme::kSftp) {
    if (!remote_name.empty() && remote_name.front() == '/') {
      remote_name.remove_prefix(1);
    } else {
      url += "~/";
    }
  }
  url += PercentEncodePath(remote_name);
  return url;
}

}  // namespace postrunner
