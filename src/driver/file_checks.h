// File checks of the main flow: whether a name exists, and deleting an old
// or delivered archive.
#ifndef POSTRUNNER_DRIVER_FILE_CHECKS_H_
#define POSTRUNNER_DRIVER_FILE_CHECKS_H_

#include <string>

namespace postrunner {

// How often DeleteArchiveFile tries again after a failed deletion.
inline constexpr int kDeleteRetries = 3;

// True when `name`, trimmed of blanks, tabs and line ends at both ends, is not
// empty and something exists under it.
[[nodiscard]] bool FileExists(const std::string& name);

// Deletes `name` when FileExists holds for it and it is a regular file or a
// link, trying again at once up to kDeleteRetries times when the deletion
// fails. Returns false when something exists under `name` that was not
// deleted (anything else is never deleted).
[[nodiscard]] bool DeleteArchiveFile(const std::string& name);

// True when `a` and `b` name the same existing file (same device and inode),
// whatever their texts.
[[nodiscard]] bool SameExistingFile(const std::string& a, const std::string& b);

// The text of `path` after its last '/' or '\\'; the whole path when it has
// neither.
std::string BareName(const std::string& path);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_FILE_CHECKS_H_
