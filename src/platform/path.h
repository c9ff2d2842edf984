// Path text helpers. Both '/' and '\' separate folders in the paths the
// program is given; a leading "~/" stands for the home folder, as in a shell.
#ifndef POSTRUNNER_PLATFORM_PATH_H_
#define POSTRUNNER_PLATFORM_PATH_H_

#include <algorithm>
#include <string>
#include <string_view>

namespace postrunner {

// The text of `path` after its last '/' or '\'; the whole path when it has
// neither. Points into `path`.
inline std::string_view BareNameView(std::string_view path) {
  size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// `path` with every '\\' turned into '/'. For paths the user typed only:
// a name found on disk is used exactly as it is, backslashes included.
inline std::string WithForwardSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// `path` with a leading "~/" (or a lone "~") replaced by the home folder:
// $HOME when set and not empty, else the user database's. Anything else,
// "~user/" included, is returned as it is, and so is every path when no home
// folder is known.
std::string ExpandHome(std::string path);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_PATH_H_
