// The user the program runs as: login name and home folder, as ssh finds
// them, for the defaults of SFTP uploads (user name, known hosts file).
#ifndef POSTRUNNER_PLATFORM_USER_ACCOUNT_H_
#define POSTRUNNER_PLATFORM_USER_ACCOUNT_H_

#include <string>

namespace postrunner {

// The login name of the effective user from the user database; "" when it
// has no entry.
std::string CurrentUserName();

// $HOME when set and not empty, else the home folder from the user
// database; "" when neither is known.
std::string HomeFolder();

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_USER_ACCOUNT_H_
