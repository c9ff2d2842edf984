// What the user chose to protect an upload: explicit TLS for plain FTP,
// extra trusted certificates, where the password is kept, and the SSH key
// and known hosts file for SFTP; and the time-out the user chose. Plain
// data, no libcurl.
#ifndef POSTRUNNER_FTP_FTP_SECURITY_H_
#define POSTRUNNER_FTP_FTP_SECURITY_H_

#include <string>

namespace postrunner {

// The security settings of an upload; empty texts mean "not given".
struct FtpSecurity {
  bool explicit_tls = false;   // plain FTP upgraded with AUTH TLS ("/FTPTLS")
  std::string ca_file;         // PEM certificates trusted beside the system's
  std::string password_file;   // read for the password when none was given
  std::string ssh_key;         // SFTP private key file
  std::string ssh_passphrase;  // its passphrase
  std::string known_hosts;     // SFTP known hosts file; ~/.ssh/known_hosts
  long timeout_seconds = 0;    // bound on every wait ("/Timeout:"); 0: the defaults
};

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_FTP_SECURITY_H_
