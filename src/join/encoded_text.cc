#include "join/encoded_text.h"

#include "platform/ascii.h"

namespace postrunner {
namespace {

// Decodes `escape` XX hex escapes (malformed ones stay as they are); with
// `underscore_blank`, '_' stands for a blank (the "Q" encoding).
std::string DecodeHexEscapes(std::string_view text, char escape, bool underscore_blank) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (underscore_blank && text[i] == '_') {
      out.push_back(' ');
    } else if (text[i] == escape && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
               HexDigitValue(text[i + 2]) >= 0) {
      const int high = HexDigitValue(text[i + 1]);
      out.push_back(static_cast<char>(high * 16 + HexDigitValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// Decodes the encoded-word that starts `text` ("=?cs?E?data?="). Returns its
// length, 0 when `text` does not start with a well-formed one.
[[nodiscard]] size_t DecodeOneWord(std::string_view text, std::string* out) {
  if (text.substr(0, 2) != "=?") return 0;
  size_t q1 = text.find('?', 2);
  if (q1 == std::string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?') return 0;
  size_t end = text.find("?=", q1 + 3);
  if (end == std::string_view::npos) return 0;
  std::string_view charset = text.substr(2, q1 - 2);
  charset = charset.substr(0, charset.find('*'));  // RFC 2231 language suffix
  std::string_view data = text.substr(q1 + 3, end - q1 - 3);
  if (data.find_first_of(" \t\r\n") != std::string_view::npos) return 0;
  std::string bytes;
  char kind = FoldAscii(text[q1 + 1]);
  if (kind == 'b') {
    if (!Base64Decode(data, false, &bytes)) return 0;
  } else if (kind == 'q') {
    bytes = DecodeHexEscapes(data, '=', true);
  } else {
    return 0;
  }
  out->append(CharsetToUtf8(charset, std::move(bytes)));
  return end + 2;
}

}  // namespace

std::string DecodeEncodedWords(std::string_view text) {
  std::string out;
  size_t i = 0;
  bool after_word = false;
  while (i < text.size()) {
    if (after_word) {
      // White space between two encoded-words belongs to neither.
      size_t next = text.find_first_not_of(" \t\r\n", i);
      if (next != std::string_view::npos && next > i) {
        std::string probe;
        if (DecodeOneWord(text.substr(next), &probe) > 0) i = next;
      }
    }
    size_t used = text[i] == '=' ? DecodeOneWord(text.substr(i), &out) : 0;
    if (used > 0) {
      i += used;
      after_word = true;
    } else {
      out.push_back(text[i++]);
      after_word = false;
    }
  }
  return out;
}

std::string DecodePercent(std::string_view text) { return DecodeHexEscapes(text, '%', false); }

std::string CharsetToUtf8(std::string_view charset, std::string bytes) {
  static constexpr std::string_view kLatin1[] = {"iso-8859-1", "latin1", "iso_8859-1",
                                                 "windows-1252", "cp1252", "iso-8859-15"};
  bool latin1 = false;
  for (std::string_view name : kLatin1) latin1 = latin1 || EqualNoCase(charset, name);
  if (!latin1) return bytes;
  std::string out;
  for (char c : bytes) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xc0 | (u >> 6)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3f)));
    }
  }
  return out;
}

}  // namespace postrunner
