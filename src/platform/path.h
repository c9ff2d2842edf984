// Path text helpers. Both '/' and '\' separate folders in the paths the
// program is given.
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

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_PATH_H_
