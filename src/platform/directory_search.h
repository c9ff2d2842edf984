// Directory search: lists a folder the way the program's folder walk expects
// it, with the attribute bits of a Windows directory search computed from
// stat(2). Links are followed; what cannot be followed (a dangling link) and
// anything that is neither a regular file nor a folder is marked "system" so
// that the walk never opens it.
#ifndef POSTRUNNER_PLATFORM_DIRECTORY_SEARCH_H_
#define POSTRUNNER_PLATFORM_DIRECTORY_SEARCH_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace postrunner {

// Attribute bits of a directory entry.
inline constexpr uint32_t kAttrReadOnly = 0x01;  // owner lacks write permission
inline constexpr uint32_t kAttrHidden = 0x02;    // name begins with '.'
inline constexpr uint32_t kAttrSystem = 0x04;    // FIFO, socket, device, dangling link
inline constexpr uint32_t kAttrFolder = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;   // every regular file

struct DirEntry {
  std::string name;         // bare name, no folder
  uint32_t attributes = 0;  // kAttr* bits
  dev_t device = 0;         // of the entry after following links; 0 if unknown
  ino_t inode = 0;
};

// Attribute bits for a stat result of an entry called `name`.
[[nodiscard]] uint32_t AttributesFromMode(const std::string& name, mode_t mode);

// A walk goes down a tree through folder descriptors, each folder opened
// relative to its parent, so that no path ever grows with the depth.

// Opens the folder `path` ("" for the current folder), following links.
// Returns the descriptor, or -1 (errno set; ENOTDIR when it is no folder).
[[nodiscard]] int OpenFolder(const std::string& path);

// Opens the sub-folder `name` of the open folder `folder`, following links.
// Returns the descriptor, or -1 (errno set).
[[nodiscard]] int OpenFolderAt(int folder, const std::string& name);

// Tests only: makes every later OpenFolderAt of a sub-folder called `name`
// fail with `error`, as a folder of mode 000 does for a user who is not
// root. An empty `name` ends it.
void FailFolderOpensForTesting(const std::string& name, int error);

// Lists every entry of the open folder `folder` ("." and ".." included),
// examined relative to it, sorted by name with ASCII letters compared
// case-insensitively, ties broken by the raw bytes. Returns false (errno
// set, `entries` empty) when it cannot be read to its end. `folder` stays
// open.
[[nodiscard]] bool ListFolderAt(int folder, std::vector<DirEntry>* entries);

// Identity of the open file `fd`. False when it cannot be examined.
[[nodiscard]] bool DescriptorIdentity(int fd, dev_t* device, ino_t* inode);

// A walk holds one descriptor per level of depth: raises the process's
// limit of open descriptors as far as it may go.
void RaiseOpenFileLimit();

// True when something exists under `path` (a dangling link counts), as a
// directory search for that exact name would find it.
[[nodiscard]] bool PathExists(const std::string& path);

// Identity of the file `path` names after following links. Returns false
// when it cannot be examined.
[[nodiscard]] bool FileIdentity(const std::string& path, dev_t* device, ino_t* inode);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_DIRECTORY_SEARCH_H_
