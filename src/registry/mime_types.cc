#include "registry/mime_types.h"

#include <algorithm>

#include "platform/ascii.h"

namespace postrunner {
namespace {

constexpr std::string_view kTypesKey = "MIME\\Database\\Content Type";

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

// Calls `each` with the words of every line of `text` that has any.
template <typename Each>
void ForEachMimeLine(std::string_view text, Each each) {
  std::vector<std::string_view> words;
  while (!text.empty()) {
    size_t end = text.find('\n');
    SplitMimeLine(text.substr(0, end), &words);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!words.empty()) each(words);
  }
}

// How a key of the list relates to the key being merged.
enum class Relation { kNone, kSame, kBelow };

// Relates `section` to `wanted`; for a section below it, stores the name of
// the immediate child of `wanted` on the way there.
Relation Relate(std::string_view section, std::string_view wanted, std::string_view* child) {
  if (EqualNoCase(section, wanted)) return Relation::kSame;
  std::string_view rest;
  if (wanted.empty()) {
    rest = section;
  } else if (section.size() > wanted.size() + 1 && StartsWithNoCase(section, wanted) &&
             section[wanted.size()] == '\\') {
    rest = section.substr(wanted.size() + 1);
  } else {
    return Relation::kNone;
  }
  *child = rest.substr(0, rest.find('\\'));
  return child->empty() ? Relation::kNone : Relation::kBelow;
}

// Notes one key of the list: the wanted key exists, or one of its subkeys does.
Relation NoteKey(std::string_view section, std::string_view wanted, KeyMerger* key) {
  std::string_view child;
  Relation relation = Relate(section, wanted, &child);
  if (relation != Relation::kNone) key->MarkExists();
  if (relation == Relation::kBelow) key->AddSubkey(child);
  return relation;
}

}  // namespace

MimeTypes::MimeTypes(std::string text) : text_(std::move(text)) {
  ForEachMimeLine(text_, [&](const std::vector<std::string_view>& words) {
    auto [type, added] = type_extension_.try_emplace(FoldedName(words[0]));
    if (added) types_.emplace_back(words[0]);
    if (type->second.empty() && words.size() > 1) type->second = Dotted(words[1]);
    for (size_t w = 1; w < words.size(); ++w) {
      extension_type_.try_emplace(Dotted(FoldedName(words[w])), words[0]);
    }
  });
  size_t longest_name = 0;
  for (size_t i = 0; i < types_.size(); ++i) {
    longest_name = std::max(longest_name, types_[i].size());
    const std::string& extension = type_extension_.at(FoldedName(types_[i]));
    if (!extension.empty()) {
      first_with_extension_.try_emplace(FoldedName(extension), TypeAt{i, longest_name});
    }
  }
}

bool MimeTypes::FirstTypeWithExtension(std::string_view extension, std::string* type,
                                       size_t* longest_name) const {
  auto found = first_with_extension_.find(FoldedName(extension));
  if (found == first_with_extension_.end()) return false;
  *type = types_[found->second.index];
  *longest_name = found->second.longest_name;
  return true;
}

void MimeTypes::Merge(std::string_view wanted, KeyMerger* key) const {
  if (EqualNoCase(wanted, kTypesKey)) {
    if (!types_.empty()) key->MarkExists();
    for (const std::string& type : types_) key->AddSubkey(type);
    return;
  }
  if (wanted.size() > kTypesKey.size() && StartsWithNoCase(wanted, kTypesKey) &&
      wanted[kTypesKey.size()] == '\\' &&
      wanted.find('\\', kTypesKey.size() + 1) == std::string_view::npos) {
    auto found = type_extension_.find(FoldedName(wanted.substr(kTypesKey.size() + 1)));
    if (found == type_extension_.end()) return;
    key->MarkExists();
    if (!found->second.empty()) key->SetValue("Extention", found->second, /*keep_first=*/true);
    return;
  }
  if (!wanted.empty() && wanted.front() == '.' &&
      wanted.find('\\') == std::string_view::npos) {
    auto found = extension_type_.find(FoldedName(wanted));
    if (found == extension_type_.end()) return;
    key->MarkExists();
    key->SetValue("Content Type", found->second, /*keep_first=*/true);
    return;
  }
  MergeByScan(wanted, key);
}

void MimeTypes::MergeByScan(std::string_view wanted, KeyMerger* key) const {
  std::string type_key;
  ForEachMimeLine(text_, [&](const std::vector<std::string_view>& words) {
    type_key.assign(kTypesKey);
    type_key += '\\';
    type_key.append(words[0]);
    if (NoteKey(type_key, wanted, key) == Relation::kSame && words.size() > 1) {
      key->SetValue("Extention", Dotted(words[1]), /*keep_first=*/true);
    }
    for (size_t w = 1; w < words.size(); ++w) {
      if (NoteKey(Dotted(words[w]), wanted, key) == Relation::kSame) {
        key->SetValue("Content Type", words[0], /*keep_first=*/true);
      }
    }
  });
}

}  // namespace postrunner
