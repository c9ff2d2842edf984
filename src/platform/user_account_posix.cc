#include "platform/user_account.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace postrunner {
namespace {

// `field` of the effective user's entry in the user database, looked up
// reentrantly; "" when there is no entry.
template <typename Field>
std::string PasswdField(Field field) {
  long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return "";
  }
  const char* value = field(*found);
  return value ? value : "";
}

}  // namespace

std::string CurrentUserName() {
  return PasswdField([](const struct passwd& p) { return p.pw_name; });
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  return PasswdField([](const struct passwd& p) { return p.pw_dir; });
}

}  // namespace postrunner
