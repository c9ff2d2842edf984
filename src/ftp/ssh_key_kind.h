// What kind of SSH user key a private key file holds, as far as the SFTP
// reasons need it: whether it is an RSA key, whose signatures this
// program's libssh2 makes with SHA-1 ("ssh-rsa"), which OpenSSH 8.8 and
// later refuse by default.
#ifndef POSTRUNNER_FTP_SSH_KEY_KIND_H_
#define POSTRUNNER_FTP_SSH_KEY_KIND_H_

#include <string>
#include <string_view>

namespace postrunner {

// Whether the private key file text `text` holds an RSA key: a PEM "RSA
// PRIVATE KEY", an OpenSSH key whose public part is "ssh-rsa" (readable
// also when the key is encrypted), or an unencrypted PKCS #8 key of the
// rsaEncryption algorithm. False for any other key or text.
[[nodiscard]] bool IsRsaPrivateKey(std::string_view text);

// IsRsaPrivateKey of the first 64 KiB of the file at `path`; false when it
// cannot be read.
[[nodiscard]] bool IsRsaPrivateKeyFile(const std::string& path);

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_SSH_KEY_KIND_H_
