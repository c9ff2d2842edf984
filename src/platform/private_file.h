// Files that hold secrets the program itself writes and reads back (a
// refresh token, cached access tokens), kept where only their owner can
// reach them: files of mode 0600 in folders of mode 0700. A file or folder
// that group or others may use, or that is a symbolic link, a FIFO or
// anything but what it should be, is refused: another user may already know
// or have planted its content. A file is replaced atomically: the new
// content is written to a temporary file in the same folder and renamed
// over the old one, so the name always holds a whole secret.
#ifndef POSTRUNNER_PLATFORM_PRIVATE_FILE_H_
#define POSTRUNNER_PLATFORM_PRIVATE_FILE_H_

#include <string>

namespace postrunner {

// Reads the whole regular file `path` (at most 64 KiB) into `*content`,
// without following a symbolic link, having made the process non-dumpable.
// False with `*reason` (naming the file as `what` and `path`, never its
// content) when it cannot be read or is refused as above; `*missing` is
// set when nothing is there.
[[nodiscard]] bool ReadPrivateFile(const std::string& path, const std::string& what,
                                   std::string* content, bool* missing, std::string* reason);

// Replaces (or creates) `path` with `content`, mode 0600, atomically. An
// existing entry that is no regular file is refused and left alone. False
// with `*reason` when it failed; the old file is then unchanged.
[[nodiscard]] bool ReplacePrivateFile(const std::string& path, const std::string& what,
                                      const std::string& content, std::string* reason);

// Makes the folder `path` (and missing parents, mode 0700) unless it is
// there. False with `*reason` when it cannot be made, or when it is there
// but is a link, no folder, or open to group or others.
[[nodiscard]] bool MakePrivateFolder(const std::string& path, const std::string& what,
                                     std::string* reason);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_PRIVATE_FILE_H_
