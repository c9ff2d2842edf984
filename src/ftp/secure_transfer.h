// The TLS and SSH side of an upload: what the user chose (explicit TLS, the
// extra trusted certificates, the SSH key and known hosts file), the libcurl
// options that enforce it, and the check of an SFTP server's host key with
// the reason a rejected key gets. Certificates and host keys are always
// verified; nothing here can turn that off.
#ifndef POSTRUNNER_FTP_SECURE_TRANSFER_H_
#define POSTRUNNER_FTP_SECURE_TRANSFER_H_

#include <curl/curl.h>

#include <cstdint>
#include <string>

#include "net/curl_options.h"
#include "ftp/ftp_security.h"

namespace postrunner {

// Sets the options of a TLS upload (explicit or implicit FTPS): TLS required
// on the control and the data connections (PROT P), AUTH TLS tried first,
// TLS 1.2 or newer, the peer's chain verified against the system store plus
// `ca_file` (when not empty) and its name against the host.
void SetTlsOptions(CURL* curl, const std::string& ca_file, CurlOptions* options);

// "" when the loaded libcurl protects an active-mode FTPS data connection;
// otherwise why an active TLS upload is refused. libcurl 7.87 to 7.88 (the
// one Debian 12 ships among them) accept the server's data connection and
// then send the file over it unencrypted although PROT P was agreed; 8.0.0
// mended it. Passive mode is not affected.
std::string ActiveTlsRefusal();

// Decides on an SFTP server's host key by the known hosts file
// (known_hosts.h) and keeps the reason for a rejection. The decision is this
// object's own, whatever the SSH library made of the file. Lives for one
// upload; libcurl calls KeyCallback with this object as its data.
class SshHostKeyCheck {
 public:
  // `host` (as it goes into the URL) and `port` name the server;
  // `known_hosts` is the file the key is checked against.
  SshHostKeyCheck(const std::string& host, uint16_t port, std::string known_hosts);

  SshHostKeyCheck(const SshHostKeyCheck&) = delete;
  SshHostKeyCheck& operator=(const SshHostKeyCheck&) = delete;

  // libcurl's host key callback: accepts only the key `found` when the
  // file lists it for this host and port and does not revoke it; any other
  // key is refused and its reason kept. Never throws.
  [[nodiscard]]
  static int KeyCallback(CURL* curl, const curl_khkey* known, const curl_khkey* found,
                         curl_khmatch match, void* self);

  // Why the key was refused, saying how to add it; "" when it was not.
  const std::string& rejection() const { return rejection_; }

  // Advice for a key exchange that failed: when the file lists only
  // ssh-rsa keys for the server (libcurl then asks the server for that
  // type alone), to list its ed25519 or ECDSA key instead; otherwise, that
  // a server with only an RSA host key refuses the SHA-1 signature this
  // libssh2 asks for. Starts with "; ".
  std::string NegotiationAdvice() const;

 private:
  // Whether `found` may be trusted; sets the rejection when not.
  [[nodiscard]] bool Decide(const curl_khkey* found);

  std::string host_;
  uint16_t port_;
  std::string known_hosts_;
  std::string rejection_;
};

// The known hosts file an SFTP upload checks against: `chosen` when not
// empty, else ~/.ssh/known_hosts; "" when there is no home folder either.
std::string KnownHostsFile(const std::string& chosen);

// Sets the options of an SFTP upload: key login with `security.ssh_key`
// (and its passphrase) when given, password login when `has_password`,
// nothing else (no agent, no keys from default places), and the host key
// checked against `check`'s known hosts file by `check`.
void SetSshOptions(const FtpSecurity& security, bool has_password, const std::string& known_hosts,
                   SshHostKeyCheck* check, CurlOptions* options);

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_SECURE_TRANSFER_H_
