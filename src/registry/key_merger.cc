#include "registry/key_merger.h"

#include "platform/ascii.h"

namespace postrunner {

std::string FoldedName(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = FoldAscii(c);
  return out;
}

void KeyMerger::AddSubkey(std::string_view name) {
  if (folded_subkeys_.size() < key_->subkeys.size()) {
    for (const std::string& existing : key_->subkeys) {
      folded_subkeys_.insert(FoldedName(existing));
    }
  }
  if (folded_subkeys_.insert(FoldedName(name)).second) key_->subkeys.emplace_back(name);
}

void KeyMerger::RemoveValue(std::string_view name) {
  std::erase_if(key_->values, [&](const auto& v) { return EqualNoCase(v.first, name); });
  std::erase_if(key_->other_values, [&](const auto& v) { return EqualNoCase(v, name); });
}

void KeyMerger::SetValue(std::string_view name, std::string_view value, bool keep_first) {
  for (auto& v : key_->values) {
    if (EqualNoCase(v.first, name)) {
      if (!keep_first) v.second = value;
      return;
    }
  }
  RemoveValue(name);
  key_->values.emplace_back(name, value);
}

void KeyMerger::SetOtherValue(std::string_view name) {
  RemoveValue(name);
  key_->other_values.emplace_back(name);
}

}  // namespace postrunner
