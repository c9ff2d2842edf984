// The header encoders of file names, round trip: the input is a name. It is
// encoded as a Subject's text (RFC 2047 encoded-words) and as a filename=
// parameter (quoted, or RFC 2231 sections), and read back by the join's own
// decoders after the header is unfolded, as a receiver sees it.
//
// Holds: every line either encoder makes is printable ASCII, encoded-words
// are at most 75 characters and sections at most 60 value characters; the
// name comes back as it was, converted to UTF-8 where it was not valid
// UTF-8 and so went out as ISO-8859-1 (a Subject keeps no blanks at its
// start); plain names without "=?" go out unchanged; IsValidUtf8 agrees with
// a decoder of code points.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "join/encoded_text.h"
#include "join/mime_header.h"
#include "mail/header_encoding.h"

namespace postrunner {
namespace {

using fuzz::Shown;

// Well-formed UTF-8 by code points: shortest form, no surrogates, at most
// U+10FFFF.
bool Utf8ByCodePoints(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t code = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
      return false;
    }
    i += length;
  }
  return true;
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos;
       start = at + separator.size()) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

void CheckSubject(std::string_view name, const std::string& expected) {
  const std::string encoded = EncodeHeaderText(name);
  if (IsPlainHeaderText(name) && name.find("=?") == std::string_view::npos) {
    FUZZ_CHECK(encoded == name, "plain text changed: " + Shown(encoded));
  }
  const std::vector<std::string> lines = Split(encoded, "\r\n");
  for (size_t i = 0; i < lines.size(); ++i) {
    FUZZ_CHECK(IsPlainHeaderText(lines[i]), "a line that is not plain: " + Shown(lines[i]));
    FUZZ_CHECK(i == 0 || (!lines[i].empty() && lines[i][0] == ' '), "a fold without a blank");
    for (size_t at = lines[i].find("=?"); at != std::string::npos && i > 0;
         at = lines[i].find("=?", at + 2)) {
      FUZZ_CHECK(lines[i].size() - at <= 75, "an encoded-word over 75: " + Shown(lines[i]));
    }
  }
  // A header field's value starts after its blanks: they cannot be sent.
  std::string sent = expected;
  sent.erase(0, sent.find_first_not_of(' '));
  std::string decoded = DecodeEncodedWords(fuzz::Unfold(encoded));
  decoded.erase(0, decoded.find_first_not_of(' '));
  FUZZ_CHECK(decoded == sent, "the subject " + Shown(encoded) + " reads back as " +
                                  Shown(decoded) + ", not " + Shown(sent));
}

void CheckParameter(std::string_view name, const std::string& expected) {
  const std::string lines = ParameterLines(" ", "filename", name);
  for (const std::string& line : Split(lines, ";\r\n")) {
    FUZZ_CHECK(IsPlainHeaderText(line) && line.rfind(" filename", 0) == 0,
               "a parameter line " + Shown(line));
    const size_t section = line.find("*=");
    if (line.rfind(" filename*", 0) == 0) {
      FUZZ_CHECK(line.size() - section - 2 <= 60, "a section over 60: " + Shown(line));
    }
  }
  const MimeValue parsed = ParseMimeValue(fuzz::Unfold("attachment;\r\n" + lines));
  FUZZ_CHECK(parsed.value == "attachment" && parsed.Param("filename") == expected,
             "filename " + Shown(lines) + " reads back as " + Shown(parsed.Param("filename")) +
                 ", not " + Shown(expected));
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  const std::string_view name = fuzz::Input(data, size);
  const bool utf8 = IsValidUtf8(name);
  FUZZ_CHECK(utf8 == Utf8ByCodePoints(name), "IsValidUtf8 says " + std::to_string(utf8) +
                                                 " for " + fuzz::Shown(name));
  const std::string expected = utf8 ? std::string(name) : fuzz::Latin1ToUtf8(name);
  CheckSubject(name, expected);
  // The parameter is a file's bare name, at most 255 bytes on this system:
  // 13 sections at most, where a reader takes 100 and drops the rest (a
  // name of thousands of bytes came back short).
  if (name.size() <= 255) CheckParameter(name, expected);
  return 0;
}
