// Read-only registry store. The three hives the program reads are backed by
// text files in the registry export format (and, for HKEY_CLASSES_ROOT, by
// the system's MIME type list):
//
//   HKEY_LOCAL_MACHINE  /etc/postrunner/registry.reg      POSTRUNNER_MACHINE_REGISTRY
//   HKEY_CURRENT_USER   $XDG_CONFIG_HOME/postrunner/registry.reg
//                       (~/.config/... when unset)        POSTRUNNER_USER_REGISTRY
//   HKEY_CLASSES_ROOT   /etc/mime.types as keys, plus the
//                       machine file's own sections      POSTRUNNER_MIME_TYPES
//
// An environment override, when set, names the file to read instead (set but
// empty: no file). Registry files are read on every query, so each operation
// sees them as they are at that moment; the MIME type list is parsed once and
// parsed again only when the file changes on disk.
#ifndef POSTRUNNER_PLATFORM_REGISTRY_STORE_H_
#define POSTRUNNER_PLATFORM_REGISTRY_STORE_H_

#include <string>
#include <vector>

namespace postrunner {

enum class Hive { kClassesRoot, kCurrentUser, kLocalMachine };

// What a key holds once every source for its hive has been merged.
struct RegistryKey {
  bool exists = false;
  // String values, names as first written; a later line for the same name
  // (compared case-insensitively) replaces the earlier value.
  std::vector<std::pair<std::string, std::string>> values;
  // Names of values that exist with a non-string type (dword:, hex:, ...).
  std::vector<std::string> other_values;
  // Immediate subkey names, in the order their first section appears.
  std::vector<std::string> subkeys;
};

// Loads the key `path` (backslash separated, case-insensitive) of `hive`.
RegistryKey LoadRegistryKey(Hive hive, const std::string& path);

// Parses registry export text and merges the sections of `hive` for key
// `path` into `key`. Lines that do not parse are skipped.
void MergeRegFileText(const std::string& text, Hive hive,
                      const std::string& path, RegistryKey* key);

// Merges the HKEY_CLASSES_ROOT view of a MIME type list ("type ext1 ext2").
void MergeMimeTypesText(const std::string& text, const std::string& path,
                        RegistryKey* key);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_REGISTRY_STORE_H_
