// Where the registry's files live on this system, and reading one of them.
// The three hives the program reads are backed by text files:
//
//   HKEY_LOCAL_MACHINE  /etc/postrunner/registry.reg      POSTRUNNER_MACHINE_REGISTRY
//   HKEY_CURRENT_USER   $XDG_CONFIG_HOME/postrunner/registry.reg
//                       (~/.config/... when unset)        POSTRUNNER_USER_REGISTRY
//   HKEY_CLASSES_ROOT   /etc/mime.types as keys, plus the
//                       machine file's own sections      POSTRUNNER_MIME_TYPES
//
// An environment override, when set, names the file to read instead (set but
// empty: no file).
#ifndef POSTRUNNER_REGISTRY_REGISTRY_FILES_H_
#define POSTRUNNER_REGISTRY_REGISTRY_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace postrunner {

enum class RegistrySource { kMachine, kUser, kMimeTypes };

// The file that backs `source` now; empty when there is none.
std::string RegistrySourcePath(RegistrySource source);

// What tells one version of a file from the next: identity, size and the
// modification time in nanoseconds.
struct FileVersion {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified_seconds = 0;
  int64_t modified_nanoseconds = 0;
  bool operator==(const FileVersion&) const = default;
};

enum class FileState {
  kMissing,  // no such file (or no path): the normal case, never reported
  kPresent,  // a regular file
  kFailed,   // something is there but cannot be read; `error` says why
};

// Looks at `path` without opening it. For kPresent fills `version`; for
// kFailed fills `error` ("Permission denied", "not a regular file").
FileState ProbeFile(const std::string& path, FileVersion* version, std::string* error);

// Reads the whole regular file `path`, at most `max_bytes`, into `bytes`
// without ever blocking on a FIFO. Returns kPresent with the version read,
// kMissing, or kFailed with `error` filled.
FileState ReadWholeFile(const std::string& path, size_t max_bytes, std::string* bytes,
                        FileVersion* version, std::string* error);

}  // namespace postrunner

#endif  // POSTRUNNER_REGISTRY_REGISTRY_FILES_H_
