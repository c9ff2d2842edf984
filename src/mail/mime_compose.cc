// CQXMailMessage composition: the exact header and body text handed to the
// SMTP conversation for one receiver.
#include <cstdio>
#include <string>

#include "mail/address_check.h"
#include "mail/base64.h"
#include "mail/client_identity.h"
#include "mail/content_type.h"
#include "mail/file_pieces.h"
#include "mail/header_encoding.h"
#include "mail/mail_message.h"
#include "mail/smtp_data_writer.h"
#include "platform/file_io.h"
#include "platform/local_time.h"

namespace postrunner {
namespace {

constexpr const char* kCrLf = "\r\n";

// "Tue, 08 Dec 2026 20:21:50 +0100": the local time now with its offset
// from UTC (daylight saving included), English names whatever the locale.
std::string DateText(const LocalTime& t) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long offset_minutes = t.utc_offset / 60;
  long zone = offset_minutes / 60 * 100 + offset_minutes % 60;
  // 89 characters at most, whatever the fields hold: the text always fits.
  char text[128];
  (void)std::snprintf(
      text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %+05ld", kDays[((t.weekday % 7) + 7) % 7],
      t.day, kMonths[((t.month - 1) % 12 + 12) % 12], t.year, t.hour, t.minute, t.second, zone);
  return text;
}

bool IsTrimmedSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Blanks for CR and LF, then white space trimmed at both ends.
void CleanSubject(std::string* subject) {
  for (char& c : *subject) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  size_t begin = 0;
  while (begin < subject->size() && IsTrimmedSpace((*subject)[begin])) ++begin;
  size_t end = subject->size();
  while (end > begin && IsTrimmedSpace((*subject)[end - 1])) --end;
  *subject = subject->substr(begin, end - begin);
}

void AppendLine(std::string* out, const std::string& line) {
  out->append(line);
  out->append(kCrLf);
}

// The disposition of a file sent as an attachment (RFC 2183), ending in
// CR LF: its size in bytes and, when it has one, its name, so that a reader
// can name the file it saves.
std::string AttachmentDisposition(const std::string& name, uint64_t size) {
  std::string text = "Content-Disposition: Attachment;\r\n     size=" + std::to_string(size);
  if (!name.empty()) text += ";\r\n" + ParameterLines("     ", "filename", name);
  return text + kCrLf;
}

}  // namespace

std::string CQXMailMessage::EnclosedContentType() const {
  return pieces_ != nullptr ? pieces_->content_type : LookupContentType(attachments_[0].name);
}

void CQXMailMessage::BuildHeader(int receiver_index) {
  std::string h;
  AppendLine(&h, "Received: (Corvuspost build 1.0.2)");
  AppendLine(&h, "From: " + (sender_.empty() ? std::string("Unknown User") : sender_));
  if (receiver_index >= 0 && static_cast<size_t>(receiver_index) < receivers_.size()) {
    AppendLine(&h, "To: " + JoinedAddressList(receivers_[static_cast<size_t>(receiver_index)]));
  }
  AppendLine(&h, "Date: " + DateText(GetLocalTime()));
  CleanSubject(&subject_);
  AppendLine(&h, "Subject: " + (subject_.empty() ? std::string("No Subject")
                                                 : EncodeHeaderText(subject_)));
  AppendLine(&h, "XMailer: Corvuspost 1.0.2");
  AppendLine(&h, "X-Priority: " + std::to_string(priority_));

  const bool has_attachments = !attachments_.empty();
  // The id closes the message's own header: in a first piece that is
  // before the empty line that starts the joined message's header.
  const std::string message_id = "Message-ID: " + NewMessageId();
  AppendLine(&h, "MIME-Version: 1.0");
  switch (message_type_) {
    case MT_PARTIAL_NEXT:
      // No Content-Transfer-Encoding: a message/partial entity is 7bit, and
      // readers that decode a later piece on its own corrupt the join. The
      // encoding of the whole is stated once, in the first piece's inner header.
      if (has_attachments) AppendLine(&h, attachments_[0].content_type);
      break;
    case MT_PARTIAL_FIRST:
      if (has_attachments) {
        // The outer header names the piece; the inner one, which starts the
        // joined message, names the whole file.
        AppendLine(&h, attachments_[0].content_type);
        AppendLine(&h, message_id);
        AppendLine(&h, "");
        AppendLine(&h, "MIME-Version: 1.0");
        AppendLine(&h, "Content-Type: " + EnclosedContentType());
        AppendLine(&h, "Content-Transfer-Encoding: base64");
        h += AttachmentDisposition(attachments_[0].name, whole_file_size_);
        header_text_ = std::move(h);
        return;
      }
      break;
    default:
      if (has_attachments || message_type_ == MT_INLINE) {
        AppendLine(&h, "Content-Type: multipart/mixed ;");
        AppendLine(&h, "              boundary=\"" + boundary_ + "\"");
      } else {
        AppendLine(&h, message_type_ == MT_PLAIN ? "Content-Type: text/plain ;"
                                                 : "Content-Type: text/html ;");
      }
      break;
  }
  AppendLine(&h, message_id);
  header_text_ = std::move(h);
}

void CQXMailMessage::WriteBase64Lines(const std::string& encoded, const TextSink& sink) {
  std::string_view text = encoded;
  for (size_t at = 0; at < text.size(); at += kBase64LineLength) {
    sink(text.substr(at, kBase64LineLength));
    sink(kCrLf);
  }
  sink(kCrLf);
  sink(kCrLf);
}

void CQXMailMessage::BuildBody() {
  std::string b;
  size_t room = body_text_.size() + 512;
  for (const MailAttachment& a : attachments_) {
    room += a.encoded.size() + a.encoded.size() / kBase64LineLength * 2 + 512;
  }
  b.reserve(room);
  // Only SendPiece reads a file, while it sends: nothing here can fail.
  WriteBody([&b](std::string_view text) { b.append(text); });
  composed_body_ = std::move(b);
}

void CQXMailMessage::WriteAttachmentHead(size_t i, const TextSink& sink) const {
  const MailAttachment& a = attachments_[i];
  const bool image = a.kind >= AK_JPEG && a.kind <= AK_BMP;
  // The name line continues the Content-Type header as its parameter, so
  // the type ends in ";" when the name line directly follows it.
  sink(image ? a.content_type : a.content_type + ";");
  sink(kCrLf);
  if (image) {
    sink("Content-ID: <part" + std::to_string(i + 1) + "." + part_id_suffix_ + ">\r\n");
    static constexpr const char* kImageExtensions[] = {"", "jpg", "gif", "png", "bmp"};
    sink("     name=\"" + std::to_string(i) + "." + kImageExtensions[a.kind] + "\"\r\n");
  } else {
    sink(ParameterLines("     ", "name", a.name) + kCrLf);
  }
  sink("Content-Transfer-Encoding: base64\r\n");
  if (message_type_ == MT_INLINE) {
    sink("Content-Disposition: inline;\r\n");
  } else {
    sink(AttachmentDisposition(a.name, a.size));
  }
  sink(kCrLf);
}

bool CQXMailMessage::WritePieceBody(const TextSink& sink, bool stand_in,
                                    std::string* problem) const {
  int error = 0;
  if (stand_in) {
    WritePieceStandIn(*pieces_, piece_number_, sink);
  } else if (!WritePieceBase64(*pieces_, piece_number_, sink, &error)) {
    if (problem != nullptr) {
      *problem = pieces_->name + ": " +
                 (error != 0 ? ErrnoText(error)
                             : "the file shrank while it was sent; the pieces could not be joined");
    }
    return false;
  }
  sink(kCrLf);
  sink(kCrLf);
  return true;
}

bool CQXMailMessage::WriteBody(const TextSink& sink, std::string* problem) const {
  if (attachments_.empty()) {
    sink(body_text_);
    return true;
  }
  if (message_type_ == MT_PARTIAL_NEXT || message_type_ == MT_PARTIAL_FIRST) {
    if (pieces_ != nullptr) return WritePieceBody(sink, false, problem);
    WriteBase64Lines(attachments_[0].encoded, sink);
    return true;
  }
  std::string text_part;
  AppendLine(&text_part, delimiter_);
  AppendLine(&text_part, message_type_ == MT_PLAIN ? "Content-Type: text/plain ;"
                                                   : "Content-Type: text/html ;");
  AppendLine(&text_part, "              charset=\"us-ascii\"");
  AppendLine(&text_part, "Content-Transfer-Encoding: 7bit");
  AppendLine(&text_part, "");
  AppendLine(&text_part, body_text_);
  AppendLine(&text_part, "");
  sink(text_part);
  for (size_t i = 0; i < attachments_.size(); ++i) {
    sink(delimiter_ + kCrLf);
    WriteAttachmentHead(i, sink);
    WriteBase64Lines(attachments_[i].encoded, sink);
  }
  sink(closing_delimiter_);
  return true;
}

void CQXMailMessage::WriteMessage(SmtpDataWriter& writer, bool stand_in) const {
  writer.Write(header_text_);
  writer.Write(kCrLf);
  const TextSink sink = [&writer](std::string_view text) { writer.Write(text); };
  std::string problem;
  const bool whole = stand_in && pieces_ != nullptr ? WritePieceBody(sink, true, nullptr)
                                                    : WriteBody(sink, &problem);
  if (!whole) {
    writer.Abandon(problem);
    return;
  }
  writer.Write(kCrLf);
}

std::string CQXMailMessage::ComposeMessage(int receiver_index, BOOL build_body) {
  BuildHeader(receiver_index);
  if (build_body) BuildBody();
  std::string text;
  text.reserve(header_text_.size() + composed_body_.size() + 8);
  text.append(header_text_);
  text.append(kCrLf);
  text.append(composed_body_);
  text.append(kCrLf);
  text.append(".");
  text.append(kCrLf);
  return text;
}

}  // namespace postrunner
