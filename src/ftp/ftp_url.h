// Turning the FTP options into the URL that libcurl stores the file at: the
// server text (an optional scheme, then "host", "host:port", "[v6]" or
// "[v6]:port"), the remote name taken from the local path, and the
// percent-encoding of that name. Pure text functions with no I/O.
#ifndef POSTRUNNER_FTP_FTP_URL_H_
#define POSTRUNNER_FTP_FTP_URL_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace postrunner {

// How the file travels: plain FTP (explicit TLS may still be asked for),
// FTP inside TLS from the first byte, or SFTP over SSH.
enum class FtpScheme { kFtp, kFtps, kSftp };

// The port used when the server text names none, by scheme.
inline constexpr uint16_t kFtpDefaultPort = 21;
inline constexpr uint16_t kFtpsDefaultPort = 990;
inline constexpr uint16_t kSftpDefaultPort = 22;

// A server parsed from the "/FTPServer:" text.
struct FtpServerAddress {
  FtpScheme scheme = FtpScheme::kFtp;
  // The host as it goes into a URL: a name or IPv4 address as given, an IPv6
  // address in brackets (a zone "%eth0" written as "%25eth0").
  std::string url_host;
  uint16_t port = kFtpDefaultPort;
};

// The scheme `server` starts with: "ftps://" or "sftp://" (any case), else
// plain FTP, with or without "ftp://".
[[nodiscard]] FtpScheme SchemeOf(std::string_view server);

// Parses an optional "ftp://", "ftps://" or "sftp://" (any case), then the
// host and port as platform/host_port.h reads them, then an optional single '/'.
// Without a port, `ftp_port` applies to plain FTP and 990 or 22 to the
// others. Host names may hold only letters, digits, '-', '.', '_' and bytes
// 0x80-0xFF, IPv6 addresses only hex digits, ':', '.' and a zone of
// unreserved characters. Returns false, leaving `out` unspecified, for
// anything else (blanks, '@', '/', a bad port), so that no server text can
// change the meaning of the URL.
[[nodiscard]]
bool ParseFtpServer(std::string_view server, uint16_t ftp_port, FtpServerAddress* out);

// The name a file is stored under when no remote name is given: the text of
// `local_path` after its last '/' or '\\', or the whole path when it has
// neither.
std::string DefaultRemoteName(std::string_view local_path);

// `text` with every byte percent-encoded ("%2F" style, upper-case hex)
// except the unreserved characters A-Z a-z 0-9 - . _ ~ and the folder
// separator '/', which stays a separator.
std::string PercentEncodePath(std::string_view text);

// The URL of `remote_name` on `server`: "ftp://", "ftps://" or "sftp://",
// host, ":port", then the encoded name. The name is relative to the login
// folder unless it begins with '/': for FTP that is the server's own
// reading of a path without a leading '/'; for SFTP, whose URLs are
// absolute, a relative name goes under "/~/", the home folder.
std::string BuildFtpUrl(const FtpServerAddress& server, std::string_view remote_name);

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_FTP_URL_H_
