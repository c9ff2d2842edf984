#include "join/safe_name.h"

#include "platform/path.h"

namespace postrunner {

std::string SafeFileName(std::string_view raw) {
  std::string name(BareNameView(raw));
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = '_';
  }
  size_t begin = name.find_first_not_of(".- ");
  if (begin == std::string::npos) return std::string();
  size_t end = name.find_last_not_of(' ') + 1;
  name = name.substr(begin, end - begin);
  if (name.size() > kMaxNameBytes) {
    size_t cut = kMaxNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80) --cut;
    name.resize(cut);
  }
  return name;
}

std::string NumberedName(const std::string& name, int k) {
  const std::string tag = " (" + std::to_string(k) + ")";
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + tag;
  return name.substr(0, dot) + tag + name.substr(dot);
}

std::string NameFromPartSubject(std::string_view subject) {
  constexpr std::string_view kPart = " (part 1 of ";
  size_t at = subject.rfind(kPart);
  if (at == std::string_view::npos || subject.empty() || subject.back() != ')') return std::string();
  std::string_view count = subject.substr(at + kPart.size());
  count.remove_suffix(1);
  if (count.empty() || count.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::string();
  }
  return std::string(subject.substr(0, at));
}

}  // namespace postrunner
