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
uint32_t AttributesFromMode(const std::string& name, mode_t mode);

// Lists every entry of `folder` ("." and ".." included), sorted by name with
// ASCII letters compared case-insensitively, ties broken by the raw bytes.
// `folder` may or may not end in a separator. Returns false (and leaves
// `entries` empty) when the folder cannot be opened.
bool ListFolder(const std::string& folder, std::vector<DirEntry>* entries);

// True when something exists under `path` (a dangling link counts), as a
// directory search for that exact name would find it.
bool PathExists(const std::string& path);

// Identity of the file `path` names after following links. Returns false
// when it cannot be examined.
bool FileIdentity(const std::string& path, dev_t* device, ino_t* inode);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_DIRECTORY_SEARCH_H_
