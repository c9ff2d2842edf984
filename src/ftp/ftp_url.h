// Turning the FTP options into the URL that libcurl stores the file at:
// the server text ("host", "host:port", "[v6]", "[v6]:port"), the remote
// name taken from the local path, and the percent-encoding of that name.
// Pure text functions with no I/O.
#ifndef POSTRUNNER_FTP_FTP_URL_H_
#define POSTRUNNER_FTP_FTP_URL_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace postrunner {

// The port used when the server text names none.
inline constexpr uint16_t kFtpDefaultPort = 21;

// A server parsed from the "/FTPServer:" text.
struct FtpServerAddress {
  // The host as it goes into a URL: a name or IPv4 address as given, an IPv6
  // address in brackets (a zone "%eth0" written as "%25eth0").
  std::string url_host;
  uint16_t port = kFtpDefaultPort;
};

// Parses "host", "host:port", "[v6]", "[v6]:port", or a bare IPv6 address
// (more than one ':' and no brackets: the whole text is the address);
// `default_port` applies when the text names no port. Host names may hold letters, digits, '-', '.', '_' and bytes
// 0x80-0xFF; ports are 1..65535 in decimal. Returns false, leaving `out`
// unspecified, for anything else (empty text, blanks, '@', '/', a bad
// port), so that no server text can change the meaning of the URL.
bool ParseFtpServer(std::string_view server, uint16_t default_port, FtpServerAddress* out);

// The name a file is stored under when no remote name is given: the text of
// `local_path` after its last '/' or '\\', or the whole path when it has
// neither.
std::string DefaultRemoteName(std::string_view local_path);

// `text` with every byte percent-encoded ("%2F" style, upper-case hex)
// except the unreserved characters A-Z a-z 0-9 - . _ ~ and the folder
// separator '/', which stays a separator.
std::string PercentEncodePath(std::string_view text);

// "ftp://host:port/" followed by the encoded remote name. The name is
// relative to the login folder; a name beginning with '/' is absolute.
std::string BuildFtpUrl(const FtpServerAddress& server, std::string_view remote_name);

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_FTP_URL_H_
