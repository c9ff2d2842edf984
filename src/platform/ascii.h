// Byte-string helpers: digits, case-insensitive comparison, percent-encoding
// and base64 decoding.
// Only ASCII letters are folded; bytes 0x80-0xFF compare as they are, so
// names in any 8-bit encoding or in UTF-8 are never changed or split.
#ifndef POSTRUNNER_PLATFORM_ASCII_H_
#define POSTRUNNER_PLATFORM_ASCII_H_

#include <string>
#include <string_view>

namespace postrunner {

// True for '0'..'9'.
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of the hexadecimal digit `c` (either case); -1 when it is none.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// True for 'A'..'Z', 'a'..'z' and '0'..'9'.
[[nodiscard]] inline bool IsAlnum(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// True for the characters a URL never needs to escape: letters, digits and
// "-._~".
[[nodiscard]] inline bool IsUnreserved(char c) {
  return IsAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// The byte with 'A'..'Z' mapped to 'a'..'z'.
[[nodiscard]] inline char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// <0, 0 or >0 as `a` sorts before, equal to or after `b`, letters folded;
// bytes compare as unsigned values.
[[nodiscard]] int CompareNoCase(std::string_view a, std::string_view b);

// True when `a` and `b` are equal with ASCII letters folded.
[[nodiscard]] inline bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

// True when `text` begins with `prefix`, letters folded.
[[nodiscard]] inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualNoCase(text.substr(0, prefix.size()), prefix);
}

// `text` with every byte for which `keep` is false written as '%' and two
// upper-case hexadecimal digits; the other bytes as they are.
std::string PercentEncode(std::string_view text, bool (*keep)(char));

// Decodes the %XX escapes of `text` into *out, and with `plus_is_space` a
// '+' as a blank (a form). False on an escape without two hexadecimal
// digits.
[[nodiscard]] bool PercentDecode(std::string_view text, bool plus_is_space, std::string* out);

// Appends the bytes of the base64 text `text` to *out, up to its first '='
// or its end. A character outside the alphabet is passed over with
// `skip_others` (line ends in a PEM body), else the result is false.
[[nodiscard]] bool Base64Decode(std::string_view text, bool skip_others, std::string* out);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_ASCII_H_
