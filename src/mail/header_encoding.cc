#include "mail/header_encoding.h"

#include <algorithm>
#include <cstring>

#include "mail/base64.h"
#include "platform/ascii.h"

namespace postrunner {
namespace {

// Raw bytes per encoded-word, so that no word passes 75 characters: 45 bytes
// are 60 base64 characters, 72 with "=?UTF-8?B?" and "?="; 42 bytes are 56,
// 73 with "=?ISO-8859-1?B?" and "?=".
constexpr size_t kUtf8WordBytes = 45;
constexpr size_t kLatin1WordBytes = 42;
// Value characters per section of an extended parameter.
constexpr size_t kSectionChars = 60;
constexpr const char* kFold = "\r\n ";

bool IsPlainByte(char c) { return c >= 0x20 && c <= 0x7E; }  // false for 0x80.. too

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the UTF-8 sequence starting at `text[i]`, 0 when none starts
// there.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  size_t length;
  unsigned min_second = 0x80, max_second = 0xBF;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) min_second = 0xA0;  // no overlong forms
    if (c == 0xED) max_second = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) min_second = 0x90;
    if (c == 0xF4) max_second = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  const auto second = static_cast<unsigned char>(text[i + 1]);
  if (second < min_second || second > max_second) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (!IsContinuation(static_cast<unsigned char>(text[i + k]))) return 0;
  }
  return length;
}

bool IsAttributeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         (c != '\0' && std::strchr("!#$&+-.^_`|~", c) != nullptr);
}

// True when `text` may go into a header as it stands: printable ASCII that
// no reader takes for an encoded-word, which "=?" would start.
bool CanStayPlain(std::string_view text) {
  return IsPlainHeaderText(text) && text.find("=?") == std::string_view::npos;
}

// `value` percent-encoded as an RFC 2231 extended value, without charset.
std::string PercentEncoded(std::string_view value) { return PercentEncode(value, IsAttributeChar); }

}  // namespace

bool IsPlainHeaderText(std::string_view text) {
  for (char c : text) {
    if (!IsPlainByte(c)) return false;
  }
  return true;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string EncodeHeaderText(std::string_view text) {
  if (CanStayPlain(text)) return std::string(text);
  // The first word that needs encoding starts after the last blank before
  // its first byte that is not plain, or before its first "=?".
  size_t first_special = 0;
  while (first_special < text.size() && IsPlainByte(text[first_special])) ++first_special;
  first_special = std::min(first_special, text.find("=?"));
  size_t start = text.rfind(' ', first_special);
  start = (start == std::string_view::npos) ? 0 : start + 1;

  const bool utf8 = IsValidUtf8(text);
  const std::string prefix = utf8 ? "=?UTF-8?B?" : "=?ISO-8859-1?B?";
  const size_t word_bytes = utf8 ? kUtf8WordBytes : kLatin1WordBytes;

  std::string out(text.substr(0, start));
  // The blank that ends the plain words becomes the fold before the first
  // encoded-word; any blank before it stays, as it is shown.
  if (!out.empty()) out.pop_back();
  for (size_t at = start; at < text.size();) {
    size_t end = at + word_bytes < text.size() ? at + word_bytes : text.size();
    if (utf8) {
      while (end < text.size() && IsContinuation(static_cast<unsigned char>(text[end]))) --end;
    }
    if (!out.empty()) out += kFold;
    out += prefix + EncodeBase64(text.substr(at, end - at), 1) + "?=";
    at = end;
  }
  return out;
}

std::string ParameterLines(std::string_view indent, std::string_view name,
                           std::string_view value) {
  const std::string head = std::string(indent) + std::string(name);
  if (CanStayPlain(value)) {
    std::string out = head + "=\"";
    for (char c : value) {
      if (c == '"' || c == '\\') out.push_back('\\');
      out.push_back(c);
    }
    out += '"';
    return out;
  }
  const std::string encoded =
      (IsValidUtf8(value) ? "UTF-8''" : "ISO-8859-1''") + PercentEncoded(value);
  if (encoded.size() <= kSectionChars) return head + "*=" + encoded;
  std::string out;
  size_t at = 0;
  for (int section = 0; at < encoded.size(); ++section) {
    size_t end = at + kSectionChars < encoded.size() ? at + kSectionChars : encoded.size();
    // Never cut a %XX triplet.
    if (end < encoded.size() && encoded[end - 1] == '%') end -= 1;
    if (end < encoded.size() && end >= 2 && encoded[end - 2] == '%') end -= 2;
    if (section > 0) out += ";\r\n";
    out += head + "*" + std::to_string(section) + "*=" + encoded.substr(at, end - at);
    at = end;
  }
  return out;
}

}  // namespace postrunner
