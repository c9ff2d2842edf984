// Scratch files without a name, for data that outgrows memory for a while:
// the file is gone from the file system from the start, so nothing is left
// behind whatever way the process ends, and the space returns when the
// descriptor closes.
#ifndef POSTRUNNER_PLATFORM_TEMP_FILE_H_
#define POSTRUNNER_PLATFORM_TEMP_FILE_H_

namespace postrunner {

// Creates an unnamed read-write file, readable by its owner only, in the
// folder $TMPDIR names, or /tmp when it is unset or empty. Returns the
// descriptor, which the caller owns, or -1 with errno set.
[[nodiscard]] int CreateUnnamedTempFile();

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_TEMP_FILE_H_
