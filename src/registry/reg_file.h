// Registry export files ("REGEDIT4" or "Windows Registry Editor Version
// 5.00"): decoding their text and parsing them once into an index of keys,
// so that each later query costs one lookup whatever the file's size.
#ifndef POSTRUNNER_REGISTRY_REG_FILE_H_
#define POSTRUNNER_REGISTRY_REG_FILE_H_

#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/key_merger.h"

namespace postrunner {

// Turns the bytes of a registry file into 8-bit text: a UTF-8 byte order mark
// is dropped, and text that starts with the UTF-16 little-endian mark (what
// the registry editor exports) is converted to UTF-8. Returns false, with
// the reason in `problem`, when UTF-16 text is broken (an odd byte count or a
// lone surrogate) or uses the big-endian mark.
bool DecodeRegText(std::string_view bytes, std::string* text, std::string* problem);

class RegFile {
 public:
  // Parses decoded text. Lines that do not parse are skipped and counted;
  // the rest is kept.
  explicit RegFile(std::string_view text);

  // Merges what the file holds for key `path` (backslash separated, any
  // case) of `hive`: whether it exists, its values in file order (a later
  // line replaces an earlier one, "=-" deletes) and its subkeys.
  void Merge(Hive hive, std::string_view path, KeyMerger* key) const;

  // Whether the file has a section at or below key `path` of `hive`.
  bool HasKey(Hive hive, std::string_view path) const;

  // Empty when the file parsed cleanly; otherwise what was wrong with it
  // (a missing header, the first line that did not parse and how many).
  std::string Problem() const;

  // A line of the file and what it names: a section's text between the
  // brackets, or a value's name ("" for the default value @).
  struct NamedLine {
    size_t line = 0;
    std::string name;
  };

  // The section lines whose hive is not in `held` (a hive the program does
  // not know included; deletions "[-...]" aside), in file order.
  std::vector<NamedLine> SectionsOutside(std::initializer_list<Hive> held) const;

  // The lines that set or delete a value of key `path` of `hive`, in file
  // order.
  std::vector<NamedLine> ValueLines(Hive hive, std::string_view path) const;

 private:
  enum class Op { kSet, kOther, kRemove };
  struct ValueOp {
    Op op;
    std::string name;
    std::string value;
    size_t line;
  };
  struct Section {
    size_t line;
    std::string text;
    bool known;  // names a hive the program reads; then `hive` is that hive
    Hive hive;
  };
  struct Node {
    std::vector<ValueOp> ops;
    std::vector<std::string> subkeys;  // first spelling, in order
  };
  using NodeMap = std::unordered_map<std::string, Node>;

  // For a section line of a hive the program reads, marks its key and every
  // key above it and returns the key's node; nullptr for any other section.
  // Records the section (but no deletion) in `sections_`.
  Node* OpenSection(std::string_view line, size_t line_number);
  // Parses value line `line_number` into `node`; false when it does not parse.
  static bool ParseValueLine(std::string_view line, size_t line_number, Node* node);
  void NoteBadLine(size_t line_number);

  NodeMap nodes_;  // by hive digit + folded key path
  std::vector<Section> sections_;  // in file order
  bool has_header_ = false;
  bool empty_ = true;
  size_t bad_lines_ = 0;
  size_t first_bad_line_ = 0;
};

}  // namespace postrunner

#endif  // POSTRUNNER_REGISTRY_REG_FILE_H_
