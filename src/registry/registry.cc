#include "registry/registry.h"

#include "platform/ascii.h"
#include "registry/registry_store.h"

namespace postrunner {
namespace {

bool ToHive(HKEY hkey, Hive* hive) {
  switch (hkey) {
    case HKEY_CLASSES_ROOT: *hive = Hive::kClassesRoot; return true;
    case HKEY_CURRENT_USER: *hive = Hive::kCurrentUser; return true;
    case HKEY_LOCAL_MACHINE: *hive = Hive::kLocalMachine; return true;
  }
  return false;
}

}  // namespace

std::string RegReadString(const std::string& key_path, const std::string& value_name,
                          const std::string& default_value, HKEY hkey) {
  Hive hive;
  if (!ToHive(hkey, &hive)) return default_value;
  RegistryKey key = LoadRegistryKey(hive, key_path);
  if (!key.exists) return default_value;
  for (const auto& [name, value] : key.values) {
    if (!EqualNoCase(name, value_name)) continue;
    if (value.size() + 1 > kRegValueBufferBytes) return default_value;
    // A stored string ends at its first NUL, as a C string read back would.
    return value.substr(0, value.find('\0'));
  }
  return default_value;
}

std::vector<RegValueLine> RegListValueLines(HKEY hkey, const std::string& key_path) {
  Hive hive;
  if (!ToHive(hkey, &hive)) return {};
  return LoadValueLines(hive, key_path);
}

void RegEnumSubkeys(std::vector<std::string>& list, HKEY hkey,
                    const std::string& key_path) {
  list.clear();
  Hive hive;
  if (!ToHive(hkey, &hive)) return;
  RegistryKey key = LoadRegistryKey(hive, key_path);
  for (const std::string& name : key.subkeys) {
    if (name.size() + 1 > kRegValueBufferBytes) break;
    list.push_back(name);
  }
}

}  // namespace postrunner
