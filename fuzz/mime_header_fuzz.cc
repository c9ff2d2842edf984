// Mail headers as the join reads them: the input is a header block, one
// field per line (folded lines continue the field before). Its fields are
// collected, Content-Type and Content-Disposition split into value and
// parameters (quoted strings, comments, RFC 2231 sections and charsets,
// encoded-words in names), the Subject's encoded-words decoded, and the
// names made into safe file names.
//
// Holds: every step is deterministic; field lookup ignores case and trims;
// a structured value is lower case and its parameter names are lower case
// and unique; text without "=?" or '%' comes out of the decoders unchanged
// and no decoder more than doubles its input; a safe file name is one
// plain component of at most 200 bytes without control bytes or leading
// dots, dashes or blanks, and stays valid UTF-8 when it was; a name taken
// from a part subject is that subject's start.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "join/encoded_text.h"
#include "join/mime_header.h"
#include "join/safe_name.h"
#include "mail/header_encoding.h"

namespace postrunner {
namespace {

using fuzz::Shown;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return out;
}

bool IsLower(std::string_view text) {
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') return false;
  }
  return true;
}

void CheckDecoders(std::string_view text) {
  const std::string words = DecodeEncodedWords(text);
  FUZZ_CHECK(words == DecodeEncodedWords(text), "encoded-word decoding is deterministic");
  FUZZ_CHECK(words.size() <= 2 * text.size(), "decoding grew " + Shown(text));
  if (text.find("=?") == std::string_view::npos) {
    FUZZ_CHECK(words == text, "text without encoded-words changed: " + Shown(text));
  }
  const std::string percent = DecodePercent(text);
  FUZZ_CHECK(percent.size() <= text.size(), "percent decoding grew " + Shown(text));
  if (text.find('%') == std::string_view::npos) {
    FUZZ_CHECK(percent == text, "text without escapes changed: " + Shown(text));
  }
}

void CheckSafeName(std::string_view raw) {
  const std::string name = SafeFileName(raw);
  FUZZ_CHECK(name == SafeFileName(raw), "SafeFileName is deterministic");
  FUZZ_CHECK(name.size() <= kMaxNameBytes, "name too long: " + Shown(name));
  if (name.empty()) return;
  FUZZ_CHECK(name.find_first_of("/\\") == std::string::npos, "a path: " + Shown(name));
  FUZZ_CHECK(name[0] != '.' && name[0] != '-' && name[0] != ' ', "leading byte: " + Shown(name));
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    FUZZ_CHECK(u >= 0x20 && u != 0x7f, "control byte in " + Shown(name));
  }
  if (IsValidUtf8(raw)) FUZZ_CHECK(IsValidUtf8(name), "UTF-8 broken: " + Shown(name));
  for (int k : {1, 12}) {
    const std::string numbered = NumberedName(name, k);
    FUZZ_CHECK(numbered != name &&
                   numbered.find(" (" + std::to_string(k) + ")") != std::string::npos,
               "numbered name " + Shown(numbered));
  }
}

void CheckMimeValue(std::string_view text) {
  const MimeValue value = ParseMimeValue(text);
  const MimeValue again = ParseMimeValue(text);
  FUZZ_CHECK(value.value == again.value && value.params == again.params,
             "ParseMimeValue is deterministic");
  FUZZ_CHECK(IsLower(value.value), "value not folded: " + Shown(value.value));
  for (size_t i = 0; i < value.params.size(); ++i) {
    const std::string& name = value.params[i].first;
    FUZZ_CHECK(IsLower(name), "parameter name " + Shown(name));
    for (size_t j = 0; j < i; ++j) {
      FUZZ_CHECK(value.params[j].first != name, "parameter twice: " + Shown(name));
    }
    FUZZ_CHECK(value.HasParam(name) && value.Param(name) == value.params[i].second,
               "Param finds " + Shown(name));
    CheckDecoders(value.params[i].second);
  }
  CheckSafeName(value.Param("name"));
  CheckSafeName(value.Param("filename"));
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  std::string_view input = fuzz::Input(data, size);
  HeaderBlock header;
  std::vector<std::string> fields;
  while (!input.empty()) {
    size_t end = input.find('\n');
    std::string_view line = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!header.AddLine(line)) break;
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos) fields.emplace_back(line.substr(0, colon));
    CheckMimeValue(line);
    CheckDecoders(line);
  }
  for (const std::string& field : fields) {
    const std::string value = header.Get(field);
    FUZZ_CHECK(header.Get(Upper(field)) == value, "field lookup ignores case: " + Shown(field));
    FUZZ_CHECK(value.empty() || (value.front() != ' ' && value.back() != ' ' &&
                                 value.front() != '\t' && value.back() != '\t'),
               "field value not trimmed: " + Shown(value));
  }
  CheckMimeValue(header.Get("content-type"));
  CheckMimeValue(header.Get("content-disposition"));
  const std::string subject = header.Get("subject");
  CheckDecoders(subject);
  const std::string part_name = NameFromPartSubject(DecodeEncodedWords(subject));
  if (!part_name.empty()) {
    FUZZ_CHECK(DecodeEncodedWords(subject).rfind(part_name + " (part 1 of ", 0) == 0,
               "part name " + Shown(part_name) + " is not the subject's start");
  }
  CheckSafeName(part_name);
  return 0;
}
