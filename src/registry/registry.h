// Read access to the registry: one string value with a default, the list of
// a key's subkeys, and the content type registered for an extension. Each
// call sees the registry files as they are at that moment
// (registry/registry_store.h; where they live: registry_files.h).
#ifndef POSTRUNNER_REGISTRY_REGISTRY_H_
#define POSTRUNNER_REGISTRY_REGISTRY_H_

#include <cstdint>
#include <string>
#include <vector>

namespace postrunner {

// The hives the program reads.
enum HKEY : uint32_t {
  HKEY_CLASSES_ROOT = 0x80000000,
  HKEY_CURRENT_USER = 0x80000001,
  HKEY_LOCAL_MACHINE = 0x80000002,
};

// Values longer than this, terminator included, do not fit and read as the
// default.
inline constexpr size_t kRegValueBufferBytes = 1024;

// The string value `value_name` of `key_path` under `hive`. Returns
// `default_value` when the key or the value is missing, is not a string, or
// does not fit in 1024 bytes; an empty stored value returns "".
std::string RegReadString(const std::string& key_path, const std::string& value_name,
                          const std::string& default_value, HKEY hive);

// Where a registry file sets or deletes a value.
struct RegValueLine {
  std::string file;
  size_t line = 0;
  std::string name;  // "" for the default value (@)
};

// The lines of the file backing `hive` that set or delete a value of
// `key_path`, in file order; empty when that file does not hold the key.
// For checking a file's value names; reading values is RegReadString's.
std::vector<RegValueLine> RegListValueLines(HKEY hive, const std::string& key_path);

// Replaces `list` with the subkey names of `key_path` under `hive`, in the
// order the store enumerates them; empty when the key is missing. Names that
// do not fit in 1024 characters end the enumeration.
void RegEnumSubkeys(std::vector<std::string>& list, HKEY hive,
                    const std::string& key_path);

// Finds the content type registered for file extension `extension`
// (".txt"): the first subkey of HKEY_CLASSES_ROOT\MIME\Database\Content Type,
// in RegEnumSubkeys order, whose "Extention" value reads (as RegReadString
// reads it) as `extension`, letter case aside. Stores it in `type` and
// returns true; false when none has that value. Reads the files once.
bool RegFindContentType(const std::string& extension, std::string* type);

}  // namespace postrunner

#endif  // POSTRUNNER_REGISTRY_REGISTRY_H_
