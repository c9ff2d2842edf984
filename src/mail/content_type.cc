#include "mail/content_type.h"

#include "registry/registry.h"
#include "platform/ascii.h"

namespace postrunner {

std::string LookupContentType(const std::string& file_name) {
  size_t dot = file_name.rfind('.');
  if (dot == std::string::npos) return "application/unknown";
  std::string extension = file_name.substr(dot);

  std::string type;
  if (RegFindContentType(extension, &type)) return type;
  std::string by_extension = RegReadString(extension, "Content Type", "", HKEY_CLASSES_ROOT);
  if (!by_extension.empty()) return by_extension;
  if (EqualNoCase(extension, ".ZIP")) return "application/x-zip-compressed";
  return "application/unknown";
}

}  // namespace postrunner
