#include "ftp/ftp_upload.h"

#include "ftp/ftp_client.h"
#include "ftp/ftp_url.h"
#include "platform/console.h"
#include "platform/entry_guard.h"

namespace postrunner {
namespace {

// SendFileByFtp's work, which may run out of memory.
BOOL UploadFile(const std::string& local_path, const std::string& server,
                const std::string& user, const std::string& password,
                const std::string& remote_name, BOOL passive, const FtpSecurity& security) {
  CFtpClient ftp;
  ftp.SetSecurity(security);
  std::string name = remote_name.empty() ? DefaultRemoteName(local_path) : remote_name;

  PrintLine("Starting FTP transfer");
  if (passive) {
    PrintLine("Using Passive mode");
    ftp.SetPassiveMode(TRUE);
  } else {
    PrintLine("Using Active mode");
  }

  BOOL stored = ftp.Upload(server, name, local_path, user, password);
  if (stored) {
    PrintLine("Ftp.PutFile returned TRUE " + ftp.GetStatusText());
  } else {
    PrintLine("Ftp.PutFile returned FALSE: " + ftp.GetStatusText());
    PrintReason(ftp.FailureReason());
  }
  ftp.CloseConnection();
  return stored;
}

}  // namespace

BOOL SendFileByFtp(const std::string& local_path, const std::string& server,
                   const std::string& user, const std::string& password,
                   const std::string& remote_name, BOOL passive,
                   const FtpSecurity& security) {
  // A failure here is a failed delivery: the caller prints its ERROR line.
  return GuardEntry(
      "upload by FTP",
      [&] { return UploadFile(local_path, server, user, password, remote_name, passive, security); },
      [] { return BOOL{FALSE}; });
}

}  // namespace postrunner
