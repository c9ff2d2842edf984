// Names of files a run creates: a fresh temporary name beside a file's real
// name, publishing a finished file under its real name without replacing
// what another process put there meanwhile, and a path that reaches an open
// file through its descriptor, whatever has happened to its names since.
#ifndef POSTRUNNER_PLATFORM_FILE_NAMES_H_
#define POSTRUNNER_PLATFORM_FILE_NAMES_H_

#include <string>
#include <string_view>

namespace postrunner {

// Creates a new empty file for reading and writing (mode `mode`, 0666 unless
// given, before the umask) in the folder of `real_name`, under a hidden
// name made of the bare
// name of `real_name` and a random part; it never opens an existing file or
// goes through a link. Sets `*temp_name` (the folder part of `real_name`
// followed by the new name) and returns the descriptor, or -1 (errno set).
[[nodiscard]] int CreateFileBeside(const std::string& real_name, std::string* temp_name,
                                   unsigned mode = 0666);

// Renames `from` to `to` unless something exists under `to`. Returns 0, or
// the errno value of the failure (EEXIST when `to` is taken).
[[nodiscard]] int RenameNoReplace(const std::string& from, const std::string& to);

// A path that opens the file the descriptor `fd` refers to (and with
// `name`, the entry `name` of the open folder `fd`), with no length limit
// from the folders above it and no way for a changed name to redirect it.
std::string DescriptorPath(int fd, std::string_view name = {});

// The longest file name (one path component) the folder `folder` accepts;
// 255 when it cannot be asked.
[[nodiscard]] size_t LongestNameIn(const std::string& folder);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_FILE_NAMES_H_
