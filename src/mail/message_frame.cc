// CQXMailMessage's frame sizes: what a message of a send holds besides the
// base64 lines of the file, measured by composing it with an empty text.
#include <string>

#include "mail/content_type.h"
#include "mail/file_pieces.h"
#include "mail/mail_message.h"
#include "mail/smtp_data_writer.h"

namespace postrunner {
namespace {

// Room for the lines composed anew for every message (Date, Message-ID)
// and the id of a later cut to differ in length from those measured.
constexpr uint64_t kFrameSlack = 256;

}  // namespace

uint64_t CQXMailMessage::FrameBytes() {
  // With no piece to read and an empty text, the message is its frame: the
  // header, the line ends around the text and, in a whole message, the
  // parts and delimiters around the attachment.
  pieces_ = nullptr;
  attachments_[0].encoded.clear();
  BuildHeader(0);
  return SmtpDataWriter::DataSize(
             [this](SmtpDataWriter& writer) { WriteMessage(writer, false); }) +
         kFrameSlack;
}

uint64_t CQXMailMessage::PieceFrameBytes(const FilePieces& pieces) {
  // Numbers as wide as any piece count of this file can make them, in the
  // first piece's layout, the only one with an enclosed header.
  FilePieces widest = pieces;
  widest.piece_size = 3;
  FramePiece(widest, PieceCount(widest.size, widest.piece_size), MT_PARTIAL_FIRST);
  return FrameBytes();
}

uint64_t CQXMailMessage::WholeFrameBytes(const std::string& name, uint64_t size) {
  MailAttachment file;
  file.kind = AK_FILE;
  file.name = name;
  file.content_type = "Content-Type: " + LookupContentType(name);
  file.size = size;
  attachments_.clear();
  attachments_.push_back(std::move(file));
  return FrameBytes();
}

}  // namespace postrunner
