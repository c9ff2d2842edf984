// The known hosts file of SFTP uploads, in OpenSSH's format: which host keys
// the user trusts for which server. One entry per line: an optional marker
// ("@revoked"; "@cert-authority" lines are skipped, certificates are not
// used), a comma-separated list of host names, the key type, the key in
// base64 and an optional comment; blank lines and lines starting with '#'
// are skipped. A name is "host" for port 22 and "[host]:port" for any other
// port, as written or hashed ("|1|salt|hash"); a name with a wildcard or a
// '!' never matches. A revoked key is refused whatever the file lists for
// the server and whichever host the revoked line names.
#ifndef POSTRUNNER_FTP_KNOWN_HOSTS_H_
#define POSTRUNNER_FTP_KNOWN_HOSTS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace postrunner {

// What a known hosts file says about a server's key.
enum class HostKeyVerdict {
  kKnown,    // listed for the server, and not revoked
  kRevoked,  // on a "@revoked" line
  kChanged,  // the server is listed, but only with other keys
  kUnknown,  // the server is not listed
};

// The name ssh writes in known hosts files for `host` (a name or an address
// without brackets) on `port`: "host", or "[host]:port" unless `port` is 22.
std::string KnownHostsName(const std::string& host, uint16_t port);

// Makes the hash part of a hashed name from the base64 `salt` and the plain
// `name`; "" when it cannot. HashedHostName in production.
using HostNameHasher = std::function<std::string(std::string_view salt, std::string_view name)>;

// Decides on the key whose base64 text is `key` for `host` on `port` by
// the known hosts file `text`. Host names compare without regard to case.
[[nodiscard]]
HostKeyVerdict CheckKnownHosts(std::string_view text, const std::string& host, uint16_t port,
                               std::string_view key, const HostNameHasher& hash);

// The key types ("ssh-ed25519", "ssh-rsa", ...) of the entries of `text`
// that list `host` on `port` (markers aside), in file order, repeats kept.
[[nodiscard]]
std::vector<std::string> KnownHostKeyTypes(std::string_view text, const std::string& host,
                                           uint16_t port, const HostNameHasher& hash);

// Reads the known hosts file `path` into `*text`. False, with `*text`
// empty, when it cannot be opened or read, is not a regular file, or is
// larger than 64 MiB: a part of the file is never used.
[[nodiscard]] bool ReadKnownHostsFile(const std::string& path, std::string* text);

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_KNOWN_HOSTS_H_
