// The system's MIME type list ("type ext1 ext2 ...", '#' comments), seen as
// the content-type keys of HKEY_CLASSES_ROOT:
//
//   MIME\Database\Content Type\<type>   "Extention" = ".ext1"
//   .<ext>                              "Content Type" = the first type listing it
//
// Parsed once into an index, so that listing the types and each lookup of a
// type, an extension or a type by its "Extention" value costs the same
// whatever the length of the list.
#ifndef POSTRUNNER_REGISTRY_MIME_TYPES_H_
#define POSTRUNNER_REGISTRY_MIME_TYPES_H_

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/key_merger.h"

namespace postrunner {

class MimeTypes {
 public:
  explicit MimeTypes(std::string text);

  // Merges the HKEY_CLASSES_ROOT key `path` as the list defines it. Where the
  // list names a type or an extension more than once, the first line wins.
  void Merge(std::string_view path, KeyMerger* key) const;

  // The first type, in list order, whose "Extention" value is `extension`
  // (any case), and the length of the longest type name up to and
  // including it; false when no type has that value.
  bool FirstTypeWithExtension(std::string_view extension, std::string* type,
                              size_t* longest_name) const;

 private:
  // Any key the index does not answer (a parent of the types key, say):
  // one pass over the list.
  void MergeByScan(std::string_view path, KeyMerger* key) const;

  std::string text_;
  std::vector<std::string> types_;  // first spelling, in order of appearance
  std::unordered_map<std::string, std::string> type_extension_;  // folded type -> ".ext" or ""
  std::unordered_map<std::string, std::string> extension_type_;  // folded ".ext" -> type
  struct TypeAt {
    size_t index;         // in types_
    size_t longest_name;  // of types_[0..index]
  };
  std::unordered_map<std::string, TypeAt> first_with_extension_;  // folded "Extention" value
};

}  // namespace postrunner

#endif  // POSTRUNNER_REGISTRY_MIME_TYPES_H_
