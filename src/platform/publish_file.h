// Publishing a file that was written under a temporary name: the new file is
// created exclusively in its target folder (never through a link, never over
// an existing file) and later moved to its real name only if that name is
// still free, so a reader never sees a half-written file under the real name
// and nothing that was there before is ever replaced.
#ifndef POSTRUNNER_PLATFORM_PUBLISH_FILE_H_
#define POSTRUNNER_PLATFORM_PUBLISH_FILE_H_

#include <string>

namespace postrunner {

// Creates a new, empty file for writing under a hidden name of its own in
// `folder` (mode 0666 before umask). Returns the descriptor and sets `*path`
// to the file's path, or returns -1 (errno set).
int CreateTempFileIn(const std::string& folder, std::string* path);

// Renames `from` to `to` if nothing exists under `to`, atomically. Returns 0
// on success, else the errno value (EEXIST when `to` is taken).
int RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_PUBLISH_FILE_H_
