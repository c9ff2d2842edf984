// What a registry key holds, and how the sources of a hive add to it. Each
// source (a registry export file, the MIME type list) merges what it knows
// of one key into a KeyMerger, in the order the sources are read.
#ifndef POSTRUNNER_REGISTRY_KEY_MERGER_H_
#define POSTRUNNER_REGISTRY_KEY_MERGER_H_

#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
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

// `text` with ASCII letters folded to lower case: the form names are
// compared and indexed in.
std::string FoldedName(std::string_view text);

// Adds to one RegistryKey. Adding a subkey costs the same however many the
// key already has, so a list of many thousand types merges in linear time.
class KeyMerger {
 public:
  // `key` must outlive the merger.
  explicit KeyMerger(RegistryKey* key) : key_(key) {}
  KeyMerger(const KeyMerger&) = delete;
  KeyMerger& operator=(const KeyMerger&) = delete;

  void MarkExists() { key_->exists = true; }
  // Appends subkey `name` unless one of that name (any case) is listed.
  void AddSubkey(std::string_view name);
  // Sets a string value; with `keep_first` an existing one stays.
  void SetValue(std::string_view name, std::string_view value, bool keep_first);
  // Records a value of another type, replacing a string of that name.
  void SetOtherValue(std::string_view name);
  // Deletes value `name` of any type.
  void RemoveValue(std::string_view name);

 private:
  RegistryKey* key_;
  std::unordered_set<std::string> folded_subkeys_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_REGISTRY_KEY_MERGER_H_
