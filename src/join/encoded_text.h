// Decoding of the encoded forms that names and subjects take in mail
// headers: RFC 2047 encoded-words ("=?UTF-8?B?...?=") and the
// charset'language'percent-encoded values of RFC 2231. The result is bytes in
// UTF-8 for UTF-8, US-ASCII and the Latin-1 family; bytes of other charsets
// are kept as they are.
#ifndef POSTRUNNER_JOIN_ENCODED_TEXT_H_
#define POSTRUNNER_JOIN_ENCODED_TEXT_H_

#include <string>
#include <string_view>

namespace postrunner {

// `text` with every well-formed encoded-word decoded; white space between two
// adjacent encoded-words is dropped. Malformed words stay as they are.
std::string DecodeEncodedWords(std::string_view text);

// Decodes %XX escapes of an RFC 2231 value (bad escapes stay as they are).
std::string DecodePercent(std::string_view text);

// `bytes` in the named charset, converted to UTF-8 where the charset is known.
std::string CharsetToUtf8(std::string_view charset, std::string bytes);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_ENCODED_TEXT_H_
