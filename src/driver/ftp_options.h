// The FTP settings of a run, from the command line, the environment and the
// registry presets, and the checks that an upload has what it needs.
//
// Secrets can stay off the command line, where every local user can read
// them: the password comes from "/FTPPassword:", else the environment
// variable POSTRUNNER_FTP_PASSWORD, else the first line of the file named by
// "/FTPPasswordFile:" (or the preset FTPPasswordFile), which the upload reads;
// an SSH key's passphrase comes from POSTRUNNER_SSH_PASSPHRASE.
#ifndef POSTRUNNER_DRIVER_FTP_OPTIONS_H_
#define POSTRUNNER_DRIVER_FTP_OPTIONS_H_

#include <string>

#include "ftp/ftp_security.h"

namespace postrunner {

struct FtpSettings {
  std::string server;
  std::string user;
  std::string password;
  std::string remote_name;
  bool passive = false;
  FtpSecurity security;

  // Wipes the password and the SSH key's passphrase.
  ~FtpSettings();
};

// Whether a non-empty "/FTPPassword:", POSTRUNNER_FTP_PASSWORD or
// POSTRUNNER_SSH_PASSPHRASE is given (a password file is read only by the
// upload).
[[nodiscard]] bool FtpSecretGiven();

// Whether the run delivers by FTP: "/FTPServer:" is given, or neither it nor
// "/Receiver:" is and the registry presets an FTP server.
[[nodiscard]] bool FtpRequested();

// Fills `out` from the options "/FTPServer:", "/FTPUser:", "/FTPPassword:",
// "/FTPPasswordFile:", "/FTPFilename:", "/FTPPassiveMode", "/FTPTLS",
// "/CAFile:", "/SSHKey:" and "/KnownHosts:", the presets FTPServer, FTPUser,
// FTPPasswordFile, CAFile, SSHKey and KnownHosts, and the environment. A
// missing user (not needed for SFTP) or password (not needed for SFTP with
// a key) prints the usage text and "ERROR: Set the FTP Username" and returns
// the usage exit code; otherwise returns 0.
[[nodiscard]] int ReadFtpOptions(FtpSettings* out);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_FTP_OPTIONS_H_
