#include "platform/path.h"

#include "platform/user_account.h"

namespace postrunner {

std::string ExpandHome(std::string path) {
  if (path.empty() || path[0] != '~' || (path.size() > 1 && path[1] != '/')) return path;
  std::string home = HomeFolder();
  if (home.empty()) return path;
  if (path.size() == 1) return home;
  // "~/x" with the home folder "/" (or "/home/u/") gives one '/', not two.
  while (!home.empty() && home.back() == '/') home.pop_back();
  return home + path.substr(1);
}

}  // namespace postrunner
