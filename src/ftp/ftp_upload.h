// FTP delivery: stores one file on an FTP, FTPS or SFTP server in binary
// mode.
#ifndef POSTRUNNER_FTP_FTP_UPLOAD_H_
#define POSTRUNNER_FTP_FTP_UPLOAD_H_

#include <string>

#include "ftp/ftp_security.h"
#include "platform/types.h"

namespace postrunner {

// Uploads `local_path` to `server` (an optional "ftp://", "ftps://" or
// "sftp://", then "host", "host:port", "[v6]" or "[v6]:port") as
// `remote_name` (the bare name of the local path when empty), logging in as
// `user`, with the TLS and SSH settings of `security`. Prints its own
// progress and result lines on standard output, and the reason of a failure
// on standard error. Returns TRUE when the file was stored.
[[nodiscard]]
BOOL SendFileByFtp(const std::string& local_path, const std::string& server,
                   const std::string& user, const std::string& password,
                   const std::string& remote_name, BOOL passive,
                   const FtpSecurity& security = FtpSecurity());

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_FTP_UPLOAD_H_
