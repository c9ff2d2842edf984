// Base64 encoding of attachments (RFC 2045 section 6.8, the alphabet of
// RFC 4648). The text is one continuous run of characters without line
// breaks; the composer cuts it into lines.
//
// Pieces of a split file are encoded one by one. Every piece but the last
// holds a multiple of three bytes, so the texts of all pieces, joined in
// order, are exactly the text of the whole file.
#ifndef POSTRUNNER_MAIL_BASE64_H_
#define POSTRUNNER_MAIL_BASE64_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace postrunner {

// Encodes `bytes`. A trailing group of one or two bytes is always padded
// with "==" or "=", and nothing else follows the text. `final` (whether this
// is the last piece of a whole) does not change the output: every piece but
// the last holds whole groups of three bytes and needs no padding, and a
// short group anywhere else could not be joined without it.
std::string EncodeBase64(std::string_view bytes, BOOL final);

// Appends the text EncodeBase64 makes of `bytes` to `*text`.
void AppendBase64(std::string_view bytes, std::string* text);

// Base64 characters per line of an attachment (60 bytes' worth).
inline constexpr size_t kBase64LineLength = 80;

// Appends the text EncodeBase64 makes of `bytes` to `*text`, cut into lines
// of kBase64LineLength characters (the last may be shorter), each followed
// by CR LF. Texts of consecutive blocks of a multiple of 60 bytes join into
// the lines of the whole.
void AppendBase64Lines(std::string_view bytes, std::string* text);

// Encodes the bytes of `text` (no terminator). Cannot fail.
std::string EncodeStringBase64(const std::string& text, BOOL final);

// Reads the regular file `path` whole and encodes it into `*encoded`; only
// the text is held whole, the file is read a block at a time. Returns FALSE,
// with `*encoded` empty and errno telling why (ENOMEM: the text does not fit
// in memory), when the file cannot be opened (or is not a regular file),
// cannot be read, or its text does not fit. An empty file gives TRUE and an
// empty text.
BOOL EncodeFileBase64(const std::string& path, BOOL final, std::string* encoded);

// Length of the text EncodeBase64 makes of `byte_count` bytes.
size_t EncodedBase64Length(size_t byte_count);

// The number of bytes `text`, a text EncodeBase64 made, stands for.
size_t DecodedBase64Length(std::string_view text);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_BASE64_H_
