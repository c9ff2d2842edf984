#include "driver/ftp_options.h"

#include <cstdlib>

#include "driver/command_line.h"
#include "driver/main_flow.h"
#include "driver/presets.h"
#include "ftp/ftp_url.h"
#include "platform/console.h"
#include "platform/path.h"
#include "platform/secret_memory.h"

namespace postrunner {
namespace {

constexpr const char* kPasswordVariable = "POSTRUNNER_FTP_PASSWORD";
constexpr const char* kPassphraseVariable = "POSTRUNNER_SSH_PASSPHRASE";

// The environment variable `name`; "" when unset.
std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// `reason` on standard error; the usage text, then the message naming what
// is missing, on standard output, for a missing user or password.
[[nodiscard]] int MissingCredential(const std::string& reason) {
  PrintReason(reason);
  PrintUsage();
  PrintLine("ERROR: Set the FTP Username");
  return kExitUsage;
}

}  // namespace

FtpSettings::~FtpSettings() {
  WipeSecret(&password);
  WipeSecret(&security.ssh_passphrase);
}

bool FtpSecretGiven() {
  const char* password = std::getenv(kPasswordVariable);
  const char* passphrase = std::getenv(kPassphraseVariable);
  return !GetOptionValue("/FTPPassword:").empty() || (password != nullptr && *password) ||
         (passphrase != nullptr && *passphrase);
}

bool FtpRequested() {
  if (HasOption("/FTPServer:")) return true;
  return !HasOption("/Receiver:") && !ReadPreset("FTPServer", "").empty();
}

int ReadFtpOptions(FtpSettings* out) {
  out->server = OptionOrPreset("/FTPServer:", "FTPServer");
  const bool sftp = SchemeOf(out->server) == FtpScheme::kSftp;
  FtpSecurity& security = out->security;
  security.ssh_key = ExpandHome(OptionOrPreset("/SSHKey:", "SSHKey"));

  // An SFTP login without a user name uses the local one, as ssh does.
  out->user = OptionOrPreset("/FTPUser:", "FTPUser");
  if (out->user.empty() && !HasOption("/FTPUser:") && !sftp) {
    return MissingCredential("no FTP user: give /FTPUser:NAME or the registry preset FTPUser");
  }

  if (HasOption("/FTPPassword:")) {
    out->password = GetOptionValue("/FTPPassword:");
  } else {
    out->password = Environment(kPasswordVariable);
    if (out->password.empty()) {
      security.password_file =
          ExpandHome(OptionOrPreset("/FTPPasswordFile:", "FTPPasswordFile"));
      bool key_login = sftp && !security.ssh_key.empty();
      if (security.password_file.empty() && !key_login) {
        return MissingCredential(std::string("no FTP password: give /FTPPassword:, ") +
                                 kPasswordVariable + " or /FTPPasswordFile:" +
                                 (sftp ? " (or /SSHKey:)" : ""));
      }
    }
  }

  if (HasOption("/FTPFilename:")) out->remote_name = GetOptionValue("/FTPFilename:");
  out->passive = HasOption("/FTPPassiveMode");
  security.explicit_tls = HasOption("/FTPTLS");
  security.ca_file = ExpandHome(OptionOrPreset("/CAFile:", "CAFile"));
  security.known_hosts = ExpandHome(OptionOrPreset("/KnownHosts:", "KnownHosts"));
  security.ssh_passphrase = Environment(kPassphraseVariable);
  return 0;
}

}  // namespace postrunner
