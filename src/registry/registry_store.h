// Read-only registry store over the files named in registry/registry_files.h.
// Each file is read and parsed once per version: a later query that finds the
// file unchanged on disk (same identity, size and modification time) uses
// what was parsed, and a changed file is read again, so every operation sees
// the files as they are at that moment.
//
// A missing file is the normal case and stays silent. A file that is there
// but cannot be read, or whose text does not parse, is reported once per
// version on standard error; what could not be read counts as empty, and
// lines that do not parse are skipped. So is, once per version, each section
// of a hive the file does not hold (HKEY_CURRENT_USER in the machine file,
// HKEY_LOCAL_MACHINE in the user file), named by file and line.
#ifndef POSTRUNNER_REGISTRY_REGISTRY_STORE_H_
#define POSTRUNNER_REGISTRY_REGISTRY_STORE_H_

#include <string>
#include <vector>

#include "registry/key_merger.h"
#include "registry/registry.h"

namespace postrunner {

class MimeTypes;
class RegFile;

// The sources of one hive as they are when the snapshot is taken, for
// loading many keys with one look at the files. It stays valid until the
// next snapshot of the same sources (or LoadRegistryKey) is taken.
class RegistrySnapshot {
 public:
  explicit RegistrySnapshot(Hive hive);

  // Loads the key `path` (backslash separated, case-insensitive), merged
  // from every source of the hive: HKEY_CLASSES_ROOT is the MIME type list
  // and then the machine file's sections of that hive.
  RegistryKey Load(const std::string& path) const;

  // The hive's MIME type list and registry file; null when missing.
  const MimeTypes* types() const { return types_; }
  const RegFile* file() const { return file_; }

 private:
  Hive hive_;
  const MimeTypes* types_ = nullptr;  // HKEY_CLASSES_ROOT only; null when missing
  const RegFile* file_ = nullptr;     // null when missing
};

// Loads the key `path` of `hive` from a fresh snapshot.
RegistryKey LoadRegistryKey(Hive hive, const std::string& path);

// The lines of the registry file backing `hive` that set or delete a value of
// key `path`, in file order (HKEY_CLASSES_ROOT: the machine file's only).
std::vector<RegValueLine> LoadValueLines(Hive hive, const std::string& path);

}  // namespace postrunner

#endif  // POSTRUNNER_REGISTRY_REGISTRY_STORE_H_
