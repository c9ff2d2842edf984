// Header text that must survive any file name. A header may carry printable
// ASCII only; a name with other bytes (non-ASCII letters, invalid UTF-8,
// control characters such as a line feed, which would start a header line
// of its own) is encoded instead: as RFC 2047 encoded-words in an
// unstructured field such as Subject, as an RFC 2231 extended parameter for
// name= and filename=. Text of printable ASCII comes out byte for byte as it
// went in, unless it holds "=?": a reader would take that for the start of
// an encoded-word and decode it, so such text is encoded too.
//
// The charset of encoded text is UTF-8 when the bytes are valid UTF-8, else
// ISO-8859-1, which gives every byte a character, so the receiver gets back
// exactly the bytes of the name in either case.
#ifndef POSTRUNNER_MAIL_HEADER_ENCODING_H_
#define POSTRUNNER_MAIL_HEADER_ENCODING_H_

#include <string>
#include <string_view>

namespace postrunner {

// True when every byte of `text` is printable ASCII (0x20 to 0x7E).
bool IsPlainHeaderText(std::string_view text);

// True when `text` is well-formed UTF-8 (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// The body of an unstructured header field (the text after "Subject: ").
// Plain text without "=?" is returned unchanged. Otherwise the words before
// the first word holding another byte or "=?" stay as they are, and the rest
// becomes base64 encoded-words of at most 75 characters, each on a folded
// line of its own (CR LF and a blank before it). A character is never split
// between words.
std::string EncodeHeaderText(std::string_view text);

// The parameter `name` with the value `value` as one or more header lines,
// each starting with `indent`, joined by ";" CR LF, with no line end after
// the last. Plain text without "=?" gives `indent name="value"` (a quote
// or a backslash in it escaped with a backslash). Other text gives the
// RFC 2231 form `indent name*=UTF-8''r%C3%A9sum%C3%A9.pdf`, cut into
// numbered sections (`name*0*=`, `name*1*=`, ...) of at most 60 value
// characters when longer.
std::string ParameterLines(std::string_view indent, std::string_view name,
                           std::string_view value);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_HEADER_ENCODING_H_
