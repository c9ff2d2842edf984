#include "registry/registry.h"

#include <utility>

#include "platform/ascii.h"
#include "platform/entry_guard.h"
#include "registry/mime_types.h"
#include "registry/reg_file.h"
#include "registry/registry_store.h"

namespace postrunner {
namespace {

constexpr const char* kTypesKey = "MIME\\Database\\Content Type";

bool ToHive(HKEY hkey, Hive* hive) {
  switch (hkey) {
    case HKEY_CLASSES_ROOT: *hive = Hive::kClassesRoot; return true;
    case HKEY_CURRENT_USER: *hive = Hive::kCurrentUser; return true;
    case HKEY_LOCAL_MACHINE: *hive = Hive::kLocalMachine; return true;
  }
  return false;
}

// The string value `value_name` of `key` as a caller's buffer would hold it;
// false when it is missing, not a string or does not fit.
bool ReadValue(const RegistryKey& key, const std::string& value_name, std::string* out) {
  if (!key.exists) return false;
  for (const auto& [name, value] : key.values) {
    if (!EqualNoCase(name, value_name)) continue;
    if (value.size() + 1 > kRegValueBufferBytes) return false;
    // A stored string ends at its first NUL, as a C string read back would.
    *out = value.substr(0, value.find('\0'));
    return true;
  }
  return false;
}

// The subkey names of `key` a caller's buffer can hold: a name that does not
// fit ends the list.
size_t FittingSubkeys(const RegistryKey& key) {
  size_t n = 0;
  while (n < key.subkeys.size() && key.subkeys[n].size() + 1 <= kRegValueBufferBytes) n++;
  return n;
}

// The first subkey of `path`, in RegEnumSubkeys order, whose string value
// `value_name` reads as `value` (letter case aside): one load per subkey,
// all from `snapshot`.
bool FindSubkeyByValue(const RegistrySnapshot& snapshot, const std::string& path,
                       const std::string& value_name, const std::string& value,
                       std::string* subkey) {
  RegistryKey key = snapshot.Load(path);
  std::string child_path = path + "\\";
  std::string found;
  for (size_t i = 0, n = FittingSubkeys(key); i < n; i++) {
    const std::string& name = key.subkeys[i];
    child_path.resize(path.size() + 1);
    child_path += name;
    if (ReadValue(snapshot.Load(child_path), value_name, &found) && EqualNoCase(found, value)) {
      *subkey = name;
      return true;
    }
  }
  return false;
}

// RegReadString's work, which may run out of memory.
std::string ReadString(const std::string& key_path, const std::string& value_name,
                       const std::string& default_value, HKEY hkey) {
  Hive hive;
  if (!ToHive(hkey, &hive)) return default_value;
  std::string value;
  if (!ReadValue(LoadRegistryKey(hive, key_path), value_name, &value)) return default_value;
  return value;
}

// RegEnumSubkeys's work, which may run out of memory.
void EnumSubkeys(std::vector<std::string>& list, HKEY hkey, const std::string& key_path) {
  list.clear();
  Hive hive;
  if (!ToHive(hkey, &hive)) return;
  RegistryKey key = LoadRegistryKey(hive, key_path);
  list.assign(key.subkeys.begin(), key.subkeys.begin() + static_cast<std::ptrdiff_t>(FittingSubkeys(key)));
}

// RegFindContentType's work, which may run out of memory.
bool FindContentType(const std::string& extension, std::string* type) {
  RegistrySnapshot snapshot(Hive::kClassesRoot);
  if (snapshot.file() == nullptr || !snapshot.file()->HasKey(Hive::kClassesRoot, kTypesKey)) {
    // Only the type list speaks of content types: its index answers. The
    // walk would stop at a name that does not fit, and skip a value that
    // does not.
    std::string first;
    size_t longest_name = 0;
    if (snapshot.types() == nullptr || extension.size() + 1 > kRegValueBufferBytes ||
        !snapshot.types()->FirstTypeWithExtension(extension, &first, &longest_name) ||
        longest_name + 1 > kRegValueBufferBytes) {
      return false;
    }
    *type = std::move(first);
    return true;
  }
  return FindSubkeyByValue(snapshot, kTypesKey, "Extention", extension, type);
}

}  // namespace

// A registry that cannot be read reads as one without the value: each entry
// gives what it gives for an absent value or key.
std::string RegReadString(const std::string& key_path, const std::string& value_name,
                          const std::string& default_value, HKEY hkey) {
  return GuardEntry(
      "read the registry", [&] { return ReadString(key_path, value_name, default_value, hkey); },
      [&] { return default_value; });
}

std::vector<RegValueLine> RegListValueLines(HKEY hkey, const std::string& key_path) {
  return GuardEntry(
      "read the registry",
      [&] {
        Hive hive;
        return ToHive(hkey, &hive) ? LoadValueLines(hive, key_path) : std::vector<RegValueLine>{};
      },
      [] { return std::vector<RegValueLine>{}; });
}

bool RegFindContentType(const std::string& extension, std::string* type) {
  return GuardEntry(
      "read the registry", [&] { return FindContentType(extension, type); }, [] { return false; });
}

void RegEnumSubkeys(std::vector<std::string>& list, HKEY hkey,
                    const std::string& key_path) {
  GuardEntry(
      "read the registry", [&] { EnumSubkeys(list, hkey, key_path); }, [&] { list.clear(); });
}

}  // namespace postrunner
