// Scratch files without a name, for data that outgrows memory for a while:
// the file is gone from the file system from the start, so nothing is left
// behind whatever way the process ends, and the space returns when the
// descriptor closes.
#ifndef POSTRUNNER_PLATFORM_TEMP_FILE_H_
#define POSTRUNNER_PLATFORM_TEMP_FILE_H_

#include <string>

namespace postrunner {

// Creates an unnamed read-write file, readable by its owner only, in the
// folder $TMPDIR names, or /tmp when it is unset or empty. Returns the
// descriptor, which the caller owns, or -1 with errno set.
[[nodiscard]] int CreateUnnamedTempFile();

// Creates a new folder with a unique name, open to its owner only (0700),
// in the folder $TMPDIR names, or /tmp. Returns false with errno set.
[[nodiscard]] bool CreatePrivateFolder(std::string* path);

// Removes the plain files in the folder `path`, then the folder. Returns
// false with errno set when the folder stays.
[[nodiscard]] bool RemoveFlatFolder(const std::string& path);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_TEMP_FILE_H_
