// The MIME type list ("type ext1 ext2 ...", '#' comments) as the keys of
// HKEY_CLASSES_ROOT: the input is the list, and the keys its lines name
// (and the keys above them) are merged from its index.
//
// Holds: parsing is deterministic; each key is what a plain reading of the
// list line by line gives (it exists when a type or extension key is it or
// lies below it, lists the next step down to each, and takes "Extention" and
// "Content Type" from the first line that gives them), for every list whose
// words hold no backslash (a type named "a\b" is a key two steps down).
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/ascii.h"
#include "registry/key_merger.h"
#include "registry/mime_types.h"

namespace postrunner {
namespace {

using fuzz::Shown;

constexpr std::string_view kTypesKey = "MIME\\Database\\Content Type";

std::vector<std::vector<std::string>> Lines(std::string_view text) {
  std::vector<std::vector<std::string>> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    line = line.substr(0, line.find('#'));
    std::vector<std::string> words;
    std::string word;
    for (char c : std::string(line) + " ") {
      if (static_cast<unsigned char>(c) > ' ') {
        word += c;
      } else if (!word.empty()) {
        words.push_back(word);
        word.clear();
      }
    }
    if (!words.empty()) lines.push_back(words);
  }
  return lines;
}

// The key `wanted` as the list defines it, read line by line.
RegistryKey Expected(const std::vector<std::vector<std::string>>& lines,
                     std::string_view wanted) {
  RegistryKey key;
  auto note = [&](const std::string& section, const char* name, const std::string* value) {
    if (EqualNoCase(section, wanted)) {
      key.exists = true;
      bool known = false;
      for (const auto& v : key.values) known = known || EqualNoCase(v.first, name);
      if (value != nullptr && !known) key.values.emplace_back(name, *value);
      return;
    }
    std::string_view rest;
    if (wanted.empty()) {
      rest = section;
    } else if (section.size() > wanted.size() && StartsWithNoCase(section, wanted) &&
               section[wanted.size()] == '\\') {
      rest = std::string_view(section).substr(wanted.size() + 1);
    } else {
      return;
    }
    std::string child(rest.substr(0, rest.find('\\')));
    if (child.empty()) return;
    key.exists = true;
    bool listed = false;
    for (const std::string& s : key.subkeys) listed = listed || EqualNoCase(s, child);
    if (!listed) key.subkeys.push_back(child);
  };
  for (const std::vector<std::string>& words : lines) {
    const std::string extension = words.size() > 1 ? "." + words[1] : "";
    note(std::string(kTypesKey) + "\\" + words[0], "Extention",
         words.size() > 1 ? &extension : nullptr);
    for (size_t w = 1; w < words.size(); ++w) note("." + words[w], "Content Type", &words[0]);
  }
  return key;
}

RegistryKey Load(const MimeTypes& types, std::string_view path) {
  RegistryKey key;
  KeyMerger merger(&key);
  types.Merge(path, &merger);
  return key;
}

std::string Describe(const RegistryKey& key) {
  std::string out = key.exists ? "exists;" : "missing;";
  for (const auto& [name, value] : key.values) out += " " + name + "=" + value + ";";
  for (const std::string& s : key.subkeys) out += " [" + s + "]";
  return out;
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  const std::string text(fuzz::Input(data, size));
  const MimeTypes types(text), again(text);
  const auto lines = Lines(text);
  std::vector<std::string> paths = {"", "MIME", "mime\\DATABASE", std::string(kTypesKey),
                                    "MIME\\Database\\Content Type\\"};
  for (const auto& words : lines) {
    if (paths.size() > 24) break;
    paths.push_back(std::string(kTypesKey) + "\\" + words[0]);
    for (size_t w = 1; w < words.size(); ++w) paths.push_back("." + words[w]);
  }
  const bool plain = text.find('\\') == std::string::npos;
  for (const std::string& path : paths) {
    const RegistryKey key = Load(types, path);
    const RegistryKey other = Load(again, path);
    FUZZ_CHECK(Describe(key) == Describe(other), "parsing is deterministic");
    if (!plain) continue;
    const RegistryKey expected = Expected(lines, path);
    FUZZ_CHECK(Describe(key) == Describe(expected),
               "key " + fuzz::Shown(path) + " is " + fuzz::Shown(Describe(key)) + ", the list says " +
                   fuzz::Shown(Describe(expected)));
  }
  return 0;
}
