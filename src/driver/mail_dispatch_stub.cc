// Placeholder until mail delivery lands: every send fails.
#include "driver/mail_dispatch.h"

namespace postrunner {

int SendFileByMail(std::string, std::string, std::string, std::string, bool) {
  return 0;
}

}  // namespace postrunner
