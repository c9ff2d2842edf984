// Placeholder until FTP delivery lands: every upload fails.
#include "ftp/ftp_upload.h"

namespace postrunner {

BOOL SendFileByFtp(const std::string&, const std::string&, const std::string&,
                   const std::string&, const std::string&, BOOL) {
  return FALSE;
}

}  // namespace postrunner
