// CQXMailMessage::AddAttachment: encodes a source and records it with its
// kind, content-type line, name and size.
#include <cerrno>
#include <new>
#include <stdexcept>
#include <utility>

#include "mail/base64.h"
#include "mail/content_type.h"
#include "mail/mail_message.h"
#include "platform/ascii.h"

namespace postrunner {
namespace {

// The kind of an unnamed file attachment, from its path: an image type when
// the path holds its extension anywhere but at its very start (the last of
// the tests below that matches wins), else AK_FILE.
uint32_t KindFromPath(const std::string& path) {
  std::string lower;
  lower.reserve(path.size());
  for (char c : path) lower.push_back(FoldAscii(c));
  static constexpr struct {
    const char* text;
    uint32_t kind;
  } kImageTests[] = {
      {".jpg", AK_JPEG}, {".jpeg", AK_JPEG}, {".gif", AK_GIF}, {".png", AK_PNG}, {".bmp", AK_BMP},
  };
  uint32_t kind = AK_FILE;
  for (const auto& test : kImageTests) {
    size_t at = lower.find(test.text);
    if (at != std::string::npos && at != 0) kind = test.kind;
  }
  return kind;
}

}  // namespace

int CQXMailMessage::AddAttachment(const std::string& source, std::string name, std::string& part_id,
                                  BOOL source_is_file, const std::string& content_type,
                                  BOOL final_piece) {
  attach_error_ = 0;
  try {
    uint32_t kind = AK_DATA;
    std::string encoded;
    if (source_is_file) {
      kind = name.empty() ? KindFromPath(source) : AK_FILE;
      // An empty file encodes to an empty text and is still an attachment;
      // only a source that cannot be read adds nothing.
      // The encoder's errno is the reason (ENOMEM: out of memory).
      if (!EncodeFileBase64(source, final_piece, &encoded)) {
        attach_error_ = errno;
        return 0;
      }
    } else {
      encoded = EncodeStringBase64(source, final_piece);
    }
    MailAttachment attachment;
    attachment.kind = kind;
    attachment.content_type =
        "Content-Type: " + (content_type.empty() ? LookupContentType(name) : content_type);
    attachment.name = std::move(name);
    attachment.size = DecodedBase64Length(encoded);
    attachment.encoded = std::move(encoded);
    std::string new_part_id =
        "part" + std::to_string(attachments_.size() + 1) + "." + part_id_suffix_;
    // The one step that changes the message: it happens whole or not at all.
    attachments_.push_back(std::move(attachment));
    part_id = std::move(new_part_id);
    return static_cast<int>(attachments_.size());
  } catch (const std::bad_alloc&) {
    attach_error_ = ENOMEM;
    return 0;
  } catch (const std::length_error&) {
    attach_error_ = ENOMEM;
    return 0;
  }
}

}  // namespace postrunner
