// The FTP server text and the remote name: the input is "/FTPServer:"'s
// value, a NUL byte, and a local path whose last part names the remote
// file. The server is parsed, the URL built, and the URL read back by
// libcurl's own URL parser, which is what the upload hands it to.
//
// Holds: parsing is deterministic and agrees with SchemeOf; a URL that
// libcurl reads means exactly what was parsed (scheme, host, port, no user,
// query or fragment, and the path the name gives); a plain host name is
// one libcurl reads; the encoded name holds only unreserved characters,
// '/' and %XX escapes, and decodes back to the name.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <strings.h>

#include <cstring>
#include <memory>
#include <string>

#include "ftp/ftp_url.h"
#include "fuzz_support.h"

namespace postrunner {
namespace {

using fuzz::Shown;

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// The URL part `what`, or "(none)" when libcurl has none.
std::string Part(CURLU* url, CURLUPart what) {
  char* text = nullptr;
  if (curl_url_get(url, what, &text, 0) != CURLUE_OK || text == nullptr) return "(none)";
  std::string out(text);
  curl_free(text);
  return out;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void CheckEncoding(std::string_view name) {
  const std::string encoded = PercentEncodePath(name);
  std::string decoded;
  for (size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '%') {
      FUZZ_CHECK(i + 2 < encoded.size() && Hex(encoded[i + 1]) >= 0 &&
                     Hex(encoded[i + 2]) >= 0,
                 "a bad escape in " + Shown(encoded));
      decoded += static_cast<char>(Hex(encoded[i + 1]) * 16 + Hex(encoded[i + 2]));
      i += 2;
      continue;
    }
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                         c == '~' || c == '/';
    FUZZ_CHECK(allowed, "a reserved byte left in " + Shown(encoded));
    decoded += c;
  }
  FUZZ_CHECK(decoded == name, "the encoded name decodes to " + Shown(decoded));
}

// Whether `a` and `b` (bracketed IPv6 addresses without zones) are one address.
bool SameIpv6(const std::string& a, const std::string& b) {
  in6_addr x{}, y{};
  auto bare = [](const std::string& h) {
    std::string s = h.substr(1, h.size() - 2);
    return s.substr(0, s.find('%'));
  };
  return inet_pton(AF_INET6, bare(a).c_str(), &x) == 1 &&
         inet_pton(AF_INET6, bare(b).c_str(), &y) == 1 && std::memcmp(&x, &y, sizeof x) == 0;
}

// Whether `written` is an IPv4 address in one of the classic forms ("2",
// "0x7f.1", "0177.0.0.1") that libcurl and the resolver read as `dotted`.
bool SameIpv4(const std::string& written, const std::string& dotted) {
  in_addr address{};
  return inet_aton(written.c_str(), &address) != 0 && dotted == inet_ntoa(address);
}

void CheckUrl(const FtpServerAddress& server, std::string_view remote) {
  const std::string url = BuildFtpUrl(server, remote);
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  FUZZ_CHECK(parsed != nullptr, "curl_url");
  const bool bracketed = server.url_host.front() == '[';
  bool ascii = true;
  for (char c : server.url_host) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  const CURLUcode code = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_PATH_AS_IS);
  if (code != CURLUE_OK) {
    // An address that only looks like IPv6, or a name libcurl cannot
    // convert, fails when the upload starts; a plain name must not.
    FUZZ_CHECK(bracketed || !ascii, "libcurl refuses " + Shown(url) + ": " +
                                        curl_url_strerror(code));
    return;
  }
  const char* scheme = server.scheme == FtpScheme::kFtps   ? "ftps"
                       : server.scheme == FtpScheme::kSftp ? "sftp"
                                                           : "ftp";
  FUZZ_CHECK(Part(parsed.get(), CURLUPART_SCHEME) == scheme, "scheme of " + Shown(url));
  FUZZ_CHECK(Part(parsed.get(), CURLUPART_PORT) == std::to_string(server.port),
             "port of " + Shown(url));
  FUZZ_CHECK(Part(parsed.get(), CURLUPART_USER) == "(none)" &&
                 Part(parsed.get(), CURLUPART_PASSWORD) == "(none)" &&
                 Part(parsed.get(), CURLUPART_QUERY) == "(none)" &&
                 Part(parsed.get(), CURLUPART_FRAGMENT) == "(none)",
             "no user, password, query or fragment in " + Shown(url));
  const std::string host = Part(parsed.get(), CURLUPART_HOST);
  if (bracketed) {
    FUZZ_CHECK(SameIpv6(host, server.url_host), "host of " + Shown(url) + " is " + Shown(host));
    const size_t zone = server.url_host.find("%25");
    const std::string expected_zone =
        zone == std::string::npos
            ? "(none)"
            : server.url_host.substr(zone + 3, server.url_host.size() - zone - 4);
    FUZZ_CHECK(Part(parsed.get(), CURLUPART_ZONEID) == expected_zone, "zone of " + Shown(url));
  } else if (ascii) {
    FUZZ_CHECK(strcasecmp(host.c_str(), server.url_host.c_str()) == 0 ||
                   SameIpv4(server.url_host, host),
               "host of " + Shown(url) + " is " + Shown(host));
  }
  std::string path = "/";
  if (server.scheme == FtpScheme::kSftp) {
    if (!remote.empty() && remote.front() == '/') {
      remote.remove_prefix(1);
    } else {
      path += "~/";
    }
  }
  path += PercentEncodePath(remote);
  FUZZ_CHECK(Part(parsed.get(), CURLUPART_PATH) == path,
             "path of " + Shown(url) + " is " + Shown(Part(parsed.get(), CURLUPART_PATH)));
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  std::string_view input = fuzz::Input(data, size);
  const size_t nul = input.find('\0');
  const std::string_view server_text = input.substr(0, nul);
  const std::string_view local_path =
      nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
  const std::string remote = DefaultRemoteName(local_path);
  FUZZ_CHECK(remote.find_first_of("/\\") == std::string::npos &&
                 local_path.ends_with(remote),
             "the remote name is the path's last part: " + fuzz::Shown(remote));
  CheckEncoding(local_path);

  FtpServerAddress server, again;
  const bool ok = ParseFtpServer(server_text, 2121, &server);
  FUZZ_CHECK(ParseFtpServer(server_text, 2121, &again) == ok &&
                 (!ok || (again.url_host == server.url_host && again.port == server.port &&
                          again.scheme == server.scheme)),
             "parsing is deterministic");
  if (!ok) return 0;
  FUZZ_CHECK(SchemeOf(server_text) == server.scheme, "SchemeOf agrees");
  FUZZ_CHECK(!server.url_host.empty() && server.port != 0, "a host and a port");
  CheckUrl(server, remote);
  CheckUrl(server, local_path);
  return 0;
}
