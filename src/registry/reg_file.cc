#include "registry/reg_file.h"

#include <cstdint>

#include "platform/ascii.h"

namespace postrunner {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
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

std::string NodeKey(Hive hive, std::string_view path) {
  std::string key(1, static_cast<char>('0' + static_cast<int>(hive)));
  key += FoldedName(path);
  return key;
}

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Converts UTF-16 little-endian `units` (mark removed) to UTF-8.
bool Utf16ToUtf8(std::string_view units, std::string* text, std::string* problem) {
  if (units.size() % 2 != 0) {
    *problem = "is broken UTF-16 text (an odd number of bytes)";
    return false;
  }
  auto unit_at = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(units[i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(units[i + 1])) << 8;
  };
  text->clear();
  text->reserve(units.size() / 2);
  for (size_t i = 0; i < units.size(); i += 2) {
    uint32_t code = unit_at(i);
    if (code >= 0xD800 && code < 0xE000) {
      uint32_t low = i + 3 < units.size() ? unit_at(i + 2) : 0;
      if (code >= 0xDC00 || low < 0xDC00 || low >= 0xE000) {
        *problem = "is broken UTF-16 text (a lone surrogate)";
        return false;
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(code, text);
  }
  return true;
}

}  // namespace

bool DecodeRegText(std::string_view bytes, std::string* text, std::string* problem) {
  if (bytes.starts_with("\xFF\xFE")) return Utf16ToUtf8(bytes.substr(2), text, problem);
  if (bytes.starts_with("\xFE\xFF")) {
    *problem = "is UTF-16 big-endian text, which is not read";
    return false;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  text->assign(bytes);
  return true;
}

RegFile::RegFile(std::string_view text) {
  enum class State { kNoSection, kSkipped, kInKey } state = State::kNoSection;
  Node* node = nullptr;
  size_t number = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (line.empty() || line.front() == ';') continue;
    if (empty_ && (EqualNoCase(line, "REGEDIT4") ||
                   EqualNoCase(line, "Windows Registry Editor Version 5.00"))) {
      has_header_ = true;
      empty_ = false;
      continue;
    }
    empty_ = false;
    if (line.front() == '[') {
      node = OpenSection(line, number);
      state = node ? State::kInKey : State::kSkipped;
      if (line.back() != ']') NoteBadLine(number);
      continue;
    }
    if (state == State::kSkipped) continue;
    if (state == State::kNoSection || !ParseValueLine(line, number, node)) NoteBadLine(number);
  }
}

RegFile::Node* RegFile::OpenSection(std::string_view line, size_t line_number) {
  if (line.back() != ']') return nullptr;
  std::string_view section = line.substr(1, line.size() - 2);
  if (!section.empty() && section.front() == '-') return nullptr;  // a deletion
  size_t slash = section.find('\\');
  Hive hive = Hive::kClassesRoot;
  bool known = HiveFromName(section.substr(0, slash), &hive);
  sections_.push_back({line_number, std::string(section), known, hive});
  if (!known) return nullptr;
  std::string_view path =
      slash == std::string_view::npos ? std::string_view() : section.substr(slash + 1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  // Every key above the section exists too, and lists the next name down.
  Node* parent = &nodes_[NodeKey(hive, "")];
  size_t start = 0;
  while (start <= path.size()) {
    size_t stop = std::min(path.find('\\', start), path.size());
    std::string_view child = path.substr(start, stop - start);
    if (child.empty()) break;
    auto [it, added] = nodes_.try_emplace(NodeKey(hive, path.substr(0, stop)));
    if (added) parent->subkeys.emplace_back(child);
    parent = &it->second;
    start = stop + 1;
  }
  if (start <= path.size()) parent = &nodes_[NodeKey(hive, path)];
  return parent;
}

bool RegFile::ParseValueLine(std::string_view line, size_t line_number, Node* node) {
  std::string name;
  if (!line.empty() && line.front() == '@') {
    line.remove_prefix(1);
  } else if (!ParseQuoted(&line, &name)) {
    return false;
  }
  line = TrimLeft(line);
  if (line.empty() || line.front() != '=') return false;
  line = TrimLeft(line.substr(1));
  if (line == "-") {
    node->ops.push_back({Op::kRemove, std::move(name), {}, line_number});
    return true;
  }
  if (!line.empty() && line.front() == '"') {
    std::string value;
    if (!ParseQuoted(&line, &value) || !TrimLeft(line).empty()) return false;
    node->ops.push_back({Op::kSet, std::move(name), std::move(value), line_number});
    return true;
  }
  // dword:, hex:, hex(n): and the like: present, but not a string.
  if (line.find(':') == std::string_view::npos) return false;
  node->ops.push_back({Op::kOther, std::move(name), {}, line_number});
  return true;
}

void RegFile::NoteBadLine(size_t line_number) {
  if (bad_lines_++ == 0) first_bad_line_ = line_number;
}

void RegFile::Merge(Hive hive, std::string_view path, KeyMerger* key) const {
  auto found = nodes_.find(NodeKey(hive, path));
  if (found == nodes_.end()) return;
  key->MarkExists();
  for (const ValueOp& op : found->second.ops) {
    switch (op.op) {
      case Op::kSet: key->SetValue(op.name, op.value, /*keep_first=*/false); break;
      case Op::kOther: key->SetOtherValue(op.name); break;
      case Op::kRemove: key->RemoveValue(op.name); break;
    }
  }
  for (const std::string& name : found->second.subkeys) key->AddSubkey(name);
}

std::vector<RegFile::NamedLine> RegFile::SectionsOutside(
    std::initializer_list<Hive> held) const {
  std::vector<NamedLine> outside;
  for (const Section& section : sections_) {
    bool is_held = false;
    for (Hive hive : held) is_held = is_held || (section.known && section.hive == hive);
    if (!is_held) outside.push_back({section.line, section.text});
  }
  return outside;
}

std::vector<RegFile::NamedLine> RegFile::ValueLines(Hive hive, std::string_view path) const {
  std::vector<NamedLine> lines;
  auto found = nodes_.find(NodeKey(hive, path));
  if (found == nodes_.end()) return lines;
  for (const ValueOp& op : found->second.ops) lines.push_back({op.line, op.name});
  return lines;
}

bool RegFile::HasKey(Hive hive, std::string_view path) const {
  return nodes_.count(NodeKey(hive, path)) != 0;
}

std::string RegFile::Problem() const {
  std::string problem;
  if (!has_header_ && !empty_) {
    problem = "has no \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\" header";
  }
  if (bad_lines_ > 0) {
    if (!problem.empty()) problem += "; ";
    problem += "line " + std::to_string(first_bad_line_) + " does not parse";
    if (bad_lines_ > 1) problem += " (nor do " + std::to_string(bad_lines_ - 1) + " more)";
    problem += ", skipped";
  }
  return problem;
}

}  // namespace postrunner
