// CQXMailMessage::SendPiece: one piece of a split file as a message/partial
// message, its text read from the file while it is sent.
#include <exception>
#include <string>

#include "mail/file_pieces.h"
#include "mail/mail_message.h"
#include "platform/console.h"

namespace postrunner {

void CQXMailMessage::FramePiece(const FilePieces& pieces, int64_t number, int type) {
  message_type_ = type;
  subject_ = PieceSubject(pieces, number);
  body_text_.clear();
  // The piece stands where an attachment's text would: its content type
  // and name frame the message; its text comes from the file.
  MailAttachment piece;
  piece.kind = AK_FILE;
  piece.name = pieces.name;
  piece.content_type = "Content-Type: " + PartialContentType(pieces, number);
  piece.size = static_cast<uint64_t>(PieceLength(pieces.size, pieces.piece_size, number));
  attachments_.clear();
  attachments_.push_back(std::move(piece));
  whole_file_size_ = static_cast<uint64_t>(pieces.size);
}

BOOL CQXMailMessage::SendPiece(const FilePieces& pieces, int64_t number) {
  try {
    FramePiece(pieces, number, number == 1 ? MT_PARTIAL_FIRST : MT_PARTIAL_NEXT);
  } catch (const std::exception&) {
    PrintReason("out of memory while sending the mail");
    return FALSE;
  }
  pieces_ = &pieces;
  piece_number_ = number;
  const BOOL sent = SendMail();
  pieces_ = nullptr;
  return sent;
}

}  // namespace postrunner
