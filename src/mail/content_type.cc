#include "mail/content_type.h"

#include <vector>

#include "registry/registry.h"
#include "platform/ascii.h"

namespace postrunner {

std::string LookupContentType(const std::string& file_name) {
  size_t dot = file_name.rfind('.');
  if (dot == std::string::npos) return "application/unknown";
  std::string extension = file_name.substr(dot);

  static constexpr const char* kTypesKey = "MIME\\Database\\Content Type";
  std::vector<std::string> types;
  RegEnumSubkeys(types, HKEY_CLASSES_ROOT, kTypesKey);
  for (const std::string& type : types) {
    std::string key = std::string(kTypesKey) + "\\" + type;
    if (EqualNoCase(RegReadString(key, "Extention", "", HKEY_CLASSES_ROOT), extension)) {
      return type;
    }
  }
  std::string by_extension = RegReadString(extension, "Content Type", "", HKEY_CLASSES_ROOT);
  if (!by_extension.empty()) return by_extension;
  if (EqualNoCase(extension, ".ZIP")) return "application/x-zip-compressed";
  return "application/unknown";
}

}  // namespace postrunner
