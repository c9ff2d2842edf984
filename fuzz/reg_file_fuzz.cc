// Registry export files: the input is a file's bytes, decoded (UTF-8, or
// UTF-16 little-endian after its mark), parsed into keys, and every key the
// file's sections name (and the keys above them) merged as a registry read
// would.
//
// Holds: decoding and parsing are deterministic; UTF-16 text becomes valid
// UTF-8 that encodes back to the same units, and valid UTF-8 text read as
// UTF-16 gives the same text; a merged key lists each value and subkey name
// once (any case), a name never both as a string and as another type, only
// subkeys that exist themselves, and looks the same whatever the case of
// the path asked for.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mail/header_encoding.h"
#include "platform/ascii.h"
#include "registry/key_merger.h"
#include "registry/reg_file.h"

namespace postrunner {
namespace {

using fuzz::Shown;

// Valid UTF-8 `text` as UTF-16 little-endian units after the mark.
std::string ToUtf16(std::string_view text) {
  std::string out = "\xFF\xFE";
  auto put = [&out](uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  };
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t code = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < length; ++k) code = (code << 6) | (text[i + k] & 0x3F);
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

void CheckDecoding(std::string_view bytes, std::string* text) {
  std::string problem, again, again_problem;
  const bool ok = DecodeRegText(bytes, text, &problem);
  FUZZ_CHECK(DecodeRegText(bytes, &again, &again_problem) == ok &&
                 (!ok || again == *text) && again_problem == problem,
             "decoding is deterministic");
  FUZZ_CHECK(ok == problem.empty(), "a problem is given exactly when decoding fails");
  if (bytes.starts_with("\xFF\xFE")) {
    if (!ok) return;
    FUZZ_CHECK(IsValidUtf8(*text), "UTF-16 becomes valid UTF-8: " + Shown(*text));
    FUZZ_CHECK(ToUtf16(*text) == bytes, "UTF-8 from UTF-16 encodes back to the same units");
    return;
  }
  FUZZ_CHECK(ok != bytes.starts_with("\xFE\xFF"), "only big-endian 8-bit text is refused");
  if (!ok) return;
  std::string_view plain = bytes;
  if (plain.starts_with("\xEF\xBB\xBF")) plain.remove_prefix(3);
  FUZZ_CHECK(*text == plain, "8-bit text is kept as it is, without a UTF-8 mark");
  if (IsValidUtf8(*text)) {
    std::string from16, problem16;
    FUZZ_CHECK(DecodeRegText(ToUtf16(*text), &from16, &problem16) && from16 == *text,
               "the same text in UTF-16 decodes the same: " + problem16);
  }
}

// The key paths the text's section lines name, and every key above them.
std::vector<std::string> SectionPaths(std::string_view text) {
  std::vector<std::string> paths = {""};
  while (!text.empty() && paths.size() < 64) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    size_t open = line.find('['), slash = line.find('\\'), close = line.rfind(']');
    if (open == std::string_view::npos || slash == std::string_view::npos ||
        close == std::string_view::npos || close < slash) {
      continue;
    }
    std::string_view path = line.substr(slash + 1, close - slash - 1);
    for (size_t at = path.find('\\'); at != std::string_view::npos; at = path.find('\\', at + 1)) {
      paths.emplace_back(path.substr(0, at));
    }
    paths.emplace_back(path);
  }
  return paths;
}

RegistryKey Load(const RegFile& file, Hive hive, std::string_view path) {
  RegistryKey key;
  KeyMerger merger(&key);
  file.Merge(hive, path, &merger);
  return key;
}

bool SameKey(const RegistryKey& a, const RegistryKey& b) {
  return a.exists == b.exists && a.values == b.values && a.other_values == b.other_values &&
         a.subkeys == b.subkeys;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return out;
}

void CheckKey(const RegFile& file, Hive hive, const std::string& path, const RegistryKey& key) {
  if (!key.exists) {
    FUZZ_CHECK(key.values.empty() && key.other_values.empty() && key.subkeys.empty(),
               "a missing key holds nothing: " + Shown(path));
    return;
  }
  std::vector<std::string> names;
  for (const auto& [name, value] : key.values) names.push_back(FoldedName(name));
  for (const std::string& name : key.other_values) names.push_back(FoldedName(name));
  std::sort(names.begin(), names.end());
  FUZZ_CHECK(std::adjacent_find(names.begin(), names.end()) == names.end(),
             "a value name is listed twice in " + Shown(path));
  std::vector<std::string> subkeys;
  for (const std::string& subkey : key.subkeys) {
    FUZZ_CHECK(!subkey.empty() && subkey.find('\\') == std::string::npos,
               "a subkey name is one non-empty step: " + Shown(subkey));
    subkeys.push_back(FoldedName(subkey));
    const std::string below = path.empty() ? subkey : path + "\\" + subkey;
    FUZZ_CHECK(Load(file, hive, below).exists, "a listed subkey exists: " + Shown(below));
  }
  std::sort(subkeys.begin(), subkeys.end());
  FUZZ_CHECK(std::adjacent_find(subkeys.begin(), subkeys.end()) == subkeys.end(),
             "a subkey is listed twice in " + Shown(path));
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  std::string text;
  CheckDecoding(fuzz::Input(data, size), &text);
  const RegFile file(text), again(text);
  FUZZ_CHECK(file.Problem() == again.Problem(), "the problem report is deterministic");
  for (const std::string& path : SectionPaths(text)) {
    for (Hive hive : {Hive::kClassesRoot, Hive::kCurrentUser, Hive::kLocalMachine}) {
      const RegistryKey key = Load(file, hive, path);
      FUZZ_CHECK(SameKey(key, Load(again, hive, path)), "parsing is deterministic");
      FUZZ_CHECK(SameKey(key, Load(file, hive, Upper(path))),
                 "keys are found whatever the case: " + fuzz::Shown(path));
      CheckKey(file, hive, path, key);
    }
  }
  return 0;
}
