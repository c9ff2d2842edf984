// FTP delivery: stores one file on an FTP server in binary mode.
#ifndef POSTRUNNER_FTP_FTP_UPLOAD_H_
#define POSTRUNNER_FTP_FTP_UPLOAD_H_

#include <string>

#include "platform/types.h"

namespace postrunner {

// Uploads `local_path` to `server` ("host", "host:port", "[v6]" or
// "[v6]:port") as `remote_name` (the bare name of the local path when
// empty), logging in as `user`. Prints its own progress and result lines.
// Returns TRUE when the file was stored.
BOOL SendFileByFtp(const std::string& local_path, const std::string& server,
                   const std::string& user, const std::string& password,
                   const std::string& remote_name, BOOL passive);

}  // namespace postrunner

#endif  // POSTRUNNER_FTP_FTP_UPLOAD_H_
