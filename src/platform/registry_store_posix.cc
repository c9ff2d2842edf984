#include "platform/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <unordered_map>

#include "platform/ascii.h"
#include "platform/file_io.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

// Registry files are small; anything bigger is not one.
constexpr off_t kMaxRegistryFileBytes = 16 * 1024 * 1024;

// Reads a whole regular file and its status. Returns false for a missing,
// unreadable or oversized file, and for anything that is not a regular file
// (a FIFO would otherwise block the run).
bool ReadRegularFile(const std::string& path, std::string* text,
                     struct stat* status = nullptr) {
  text->clear();
  if (path.empty()) return false;
  ScopedFd fd(OpenRetry(path.c_str(), O_RDONLY | O_NONBLOCK));
  if (!fd.valid()) return false;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > kMaxRegistryFileBytes) {
    return false;
  }
  if (status) *status = st;
  char buffer[8192];
  for (;;) {
    ssize_t n = ReadSome(fd.get(), buffer, sizeof buffer);
    if (n < 0) return false;
    if (n == 0) break;
    text->append(buffer, static_cast<size_t>(n));
    if (static_cast<off_t>(text->size()) > kMaxRegistryFileBytes) return false;
  }
  return true;
}

bool SameFileVersion(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The file named by environment variable `override_name` when it is set,
// otherwise `fallback`.
std::string FileFor(const char* override_name, const std::string& fallback) {
  if (const char* value = std::getenv(override_name)) return value;
  return fallback;
}

std::string UserRegistryPath() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    return std::string(xdg) + "/postrunner/registry.reg";
  }
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) {
    home = h;
  } else if (const struct passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    home = pw->pw_dir;
  }
  if (home.empty()) return "";
  return home + "/.config/postrunner/registry.reg";
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  return s;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// Parses a double-quoted string with \\ and \" escapes at the start of `s`.
// On success stores the text, advances `s` past the closing quote and
// returns true.
bool ParseQuoted(std::string_view* s, std::string* out) {
  if (s->empty() || s->front() != '"') return false;
  out->clear();
  size_t i = 1;
  while (i < s->size()) {
    char c = (*s)[i];
    if (c == '"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < s->size()) {
      out->push_back((*s)[i + 1]);
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return false;  // no closing quote
}

bool HiveFromName(std::string_view name, Hive* hive) {
  if (EqualNoCase(name, "HKEY_LOCAL_MACHINE") || EqualNoCase(name, "HKLM")) {
    *hive = Hive::kLocalMachine;
  } else if (EqualNoCase(name, "HKEY_CURRENT_USER") || EqualNoCase(name, "HKCU")) {
    *hive = Hive::kCurrentUser;
  } else if (EqualNoCase(name, "HKEY_CLASSES_ROOT") || EqualNoCase(name, "HKCR")) {
    *hive = Hive::kClassesRoot;
  } else {
    return false;
  }
  return true;
}

// How a section of some source relates to the key being loaded.
enum class Relation { kNone, kSame, kBelow };

// Relates `section` to `wanted`; for a section below it, stores the name of
// the immediate child of `wanted` on the way there.
Relation Relate(std::string_view section, std::string_view wanted,
                std::string* child) {
  if (EqualNoCase(section, wanted)) return Relation::kSame;
  std::string_view rest;
  if (wanted.empty()) {
    rest = section;
  } else if (section.size() > wanted.size() + 1 &&
             StartsWithNoCase(section, wanted) && section[wanted.size()] == '\\') {
    rest = section.substr(wanted.size() + 1);
  } else {
    return Relation::kNone;
  }
  size_t slash = rest.find('\\');
  *child = std::string(rest.substr(0, slash));
  return child->empty() ? Relation::kNone : Relation::kBelow;
}

void AddSubkey(RegistryKey* key, const std::string& name) {
  for (const std::string& existing : key->subkeys) {
    if (EqualNoCase(existing, name)) return;
  }
  key->subkeys.push_back(name);
}

void RemoveValue(RegistryKey* key, std::string_view name) {
  std::erase_if(key->values, [&](const auto& v) { return EqualNoCase(v.first, name); });
  std::erase_if(key->other_values, [&](const auto& v) { return EqualNoCase(v, name); });
}

// Sets a string value. With `keep_first`, an existing value is kept.
void SetValue(RegistryKey* key, const std::string& name, const std::string& value,
              bool keep_first) {
  for (auto& v : key->values) {
    if (EqualNoCase(v.first, name)) {
      if (!keep_first) v.second = value;
      return;
    }
  }
  RemoveValue(key, name);
  key->values.emplace_back(name, value);
}

// Notes one section of a source: the key exists, or one of its subkeys does.
Relation NoteSection(std::string_view section, const std::string& wanted,
                     RegistryKey* key) {
  std::string child;
  Relation relation = Relate(section, wanted, &child);
  if (relation != Relation::kNone) key->exists = true;
  if (relation == Relation::kBelow) AddSubkey(key, child);
  return relation;
}

void ParseValueLine(std::string_view line, RegistryKey* key) {
  std::string name;
  if (!line.empty() && line.front() == '@') {
    line.remove_prefix(1);
  } else if (!ParseQuoted(&line, &name)) {
    return;
  }
  line = TrimLeft(line);
  if (line.empty() || line.front() != '=') return;
  line = TrimLeft(line.substr(1));
  if (line == "-") {
    RemoveValue(key, name);
    return;
  }
  if (!line.empty() && line.front() == '"') {
    std::string value;
    if (!ParseQuoted(&line, &value) || !TrimLeft(line).empty()) return;
    SetValue(key, name, value, /*keep_first=*/false);
    return;
  }
  // dword:, hex:, hex(n): and the like: present, but not a string.
  if (line.find(':') == std::string_view::npos) return;
  RemoveValue(key, name);
  key->other_values.push_back(name);
}

constexpr std::string_view kTypesKey = "MIME\\Database\\Content Type";

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = FoldAscii(c);
  return out;
}

// ".ext" for an extension written without its dot.
std::string Dotted(std::string_view extension) {
  std::string out(1, '.');
  out.append(extension);
  return out;
}

// Splits one line of a MIME type list into its words, dropping a comment.
void SplitMimeLine(std::string_view line, std::vector<std::string_view>* words) {
  words->clear();
  if (size_t hash = line.find('#'); hash != std::string_view::npos) {
    line = line.substr(0, hash);
  }
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ') ++i;
    size_t start = i;
    while (i < line.size() && static_cast<unsigned char>(line[i]) > ' ') ++i;
    if (i > start) words->push_back(line.substr(start, i - start));
  }
}

// A MIME type list parsed once, for the three queries a content-type lookup
// makes: the list of types, a type's extension, an extension's type.
struct MimeIndex {
  std::string text;                 // the list itself, for any other query
  std::vector<std::string> types;   // first spelling, in order of appearance
  std::unordered_map<std::string, std::string> type_extension;  // folded type -> ".ext" or ""
  std::unordered_map<std::string, std::string> extension_type;  // folded ".ext" -> type
};

void BuildMimeIndex(MimeIndex* index) {
  std::vector<std::string_view> words;
  std::string_view rest(index->text);
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    SplitMimeLine(rest.substr(0, end), &words);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (words.empty()) continue;
    auto [type, added] = index->type_extension.try_emplace(Folded(words[0]));
    if (added) index->types.emplace_back(words[0]);
    if (type->second.empty() && words.size() > 1) type->second = Dotted(words[1]);
    for (size_t w = 1; w < words.size(); ++w) {
      index->extension_type.try_emplace(Dotted(Folded(words[w])), words[0]);
    }
  }
}

// The parsed list in `path`, read again only when the file changed. A
// content-type lookup asks for one key per listed type; parsing the list for
// each of them would cost a noticeable fraction of a second per run.
const MimeIndex* LoadMimeIndex(const std::string& path) {
  struct Cache {
    std::string path;
    struct stat status {};
    std::unique_ptr<MimeIndex> index;
  };
  static Cache cache;
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return nullptr;
  }
  if (cache.index && cache.path == path && SameFileVersion(cache.status, st)) {
    return cache.index.get();
  }
  auto index = std::make_unique<MimeIndex>();
  if (!ReadRegularFile(path, &index->text, &st)) return nullptr;
  BuildMimeIndex(index.get());
  cache.path = path;
  cache.status = st;
  cache.index = std::move(index);
  return cache.index.get();
}

// Answers the lookups the index covers; anything else scans the list.
void MergeMimeIndex(const MimeIndex& index, const std::string& path, RegistryKey* key) {
  std::string_view wanted(path);
  if (EqualNoCase(wanted, kTypesKey)) {
    key->exists = key->exists || !index.types.empty();
    for (const std::string& type : index.types) AddSubkey(key, type);
    return;
  }
  if (wanted.size() > kTypesKey.size() && StartsWithNoCase(wanted, kTypesKey) &&
      wanted[kTypesKey.size()] == '\\' &&
      wanted.find('\\', kTypesKey.size() + 1) == std::string_view::npos) {
    auto found = index.type_extension.find(Folded(wanted.substr(kTypesKey.size() + 1)));
    if (found == index.type_extension.end()) return;
    key->exists = true;
    if (!found->second.empty()) SetValue(key, "Extention", found->second, /*keep_first=*/true);
    return;
  }
  if (!wanted.empty() && wanted.front() == '.' &&
      wanted.find('\\') == std::string_view::npos) {
    auto found = index.extension_type.find(Folded(wanted));
    if (found == index.extension_type.end()) return;
    key->exists = true;
    SetValue(key, "Content Type", found->second, /*keep_first=*/true);
    return;
  }
  MergeMimeTypesText(index.text, path, key);
}

}  // namespace

void MergeRegFileText(const std::string& text, Hive hive, const std::string& path,
                      RegistryKey* key) {
  std::string_view rest(text);
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);  // UTF-8 mark
  bool in_wanted_key = false;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = TrimRight(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    line = TrimLeft(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      in_wanted_key = false;
      if (line.back() != ']') continue;
      std::string_view section = line.substr(1, line.size() - 2);
      if (!section.empty() && section.front() == '-') continue;  // a deletion
      size_t slash = section.find('\\');
      Hive section_hive;
      if (!HiveFromName(section.substr(0, slash), &section_hive) ||
          section_hive != hive) {
        continue;
      }
      std::string_view key_path =
          slash == std::string_view::npos ? std::string_view() : section.substr(slash + 1);
      while (!key_path.empty() && key_path.back() == '\\') key_path.remove_suffix(1);
      in_wanted_key = NoteSection(key_path, path, key) == Relation::kSame;
      continue;
    }
    if (in_wanted_key) ParseValueLine(line, key);
  }
}

void MergeMimeTypesText(const std::string& text, const std::string& path,
                        RegistryKey* key) {
  std::vector<std::string_view> words;
  std::string type_key;
  std::string_view rest(text);
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    SplitMimeLine(rest.substr(0, end), &words);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (words.empty()) continue;
    type_key.assign(kTypesKey);
    type_key += '\\';
    type_key.append(words[0]);
    if (NoteSection(type_key, path, key) == Relation::kSame && words.size() > 1) {
      SetValue(key, "Extention", Dotted(words[1]), /*keep_first=*/true);
    }
    for (size_t w = 1; w < words.size(); ++w) {
      if (NoteSection(Dotted(words[w]), path, key) == Relation::kSame) {
        SetValue(key, "Content Type", std::string(words[0]), /*keep_first=*/true);
      }
    }
  }
}

RegistryKey LoadRegistryKey(Hive hive, const std::string& path) {
  RegistryKey key;
  std::string text;
  switch (hive) {
    case Hive::kLocalMachine:
      if (ReadRegularFile(FileFor("POSTRUNNER_MACHINE_REGISTRY",
                                  "/etc/postrunner/registry.reg"), &text)) {
        MergeRegFileText(text, hive, path, &key);
      }
      break;
    case Hive::kCurrentUser:
      if (ReadRegularFile(FileFor("POSTRUNNER_USER_REGISTRY", UserRegistryPath()),
                          &text)) {
        MergeRegFileText(text, hive, path, &key);
      }
      break;
    case Hive::kClassesRoot:
      if (const MimeIndex* index =
              LoadMimeIndex(FileFor("POSTRUNNER_MIME_TYPES", "/etc/mime.types"))) {
        MergeMimeIndex(*index, path, &key);
      }
      if (ReadRegularFile(FileFor("POSTRUNNER_MACHINE_REGISTRY",
                                  "/etc/postrunner/registry.reg"), &text)) {
        MergeRegFileText(text, hive, path, &key);
      }
      break;
  }
  return key;
}

}  // namespace postrunner
