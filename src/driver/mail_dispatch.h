// Mail dispatch: sends one file as one message, or as message/partial pieces
// when it is larger than one piece and splitting is allowed.
#ifndef POSTRUNNER_DRIVER_MAIL_DISPATCH_H_
#define POSTRUNNER_DRIVER_MAIL_DISPATCH_H_

#include <cstdint>
#include <string>

#include "mail/mail_security.h"
#include "mail/mail_server.h"

namespace postrunner {

// Bytes of one piece of a split file: 999 blocks of 999 bytes.
inline constexpr long long kPieceSize = 998001;

// Mails `path` from `sender` to `receiver` through `mail_server` (parsed
// by the caller) under `name` (the bare name of `path` when empty): the
// name in the subject, the attachment and the reasons; with the TLS and AUTH
// of `security`. A split file sends the size measured at the start; a piece
// that cannot be read in full fails the send. Pieces are `piece_size` bytes
// (a multiple of 3, at least 3), or with kAutoPieceSize (split_size.h) as
// big as the SIZE the server names in its reply to EHLO takes, headers and
// base64 included (the first conversation speaks EHLO to learn it, and
// the first message goes in it; kPieceSize when it names none).
// `timeout_seconds` bounds the connect and every wait of a conversation (0:
// 120 seconds). Returns 0 on failure,
// non-zero when the file was delivered (the piece count for a split file).
int SendFileByMail(const std::string& path, const std::string& sender, const std::string& receiver,
                   const MailServer& mail_server, bool split_allowed, const std::string& name = "",
                   const MailSecurity& security = MailSecurity(), int64_t piece_size = kPieceSize,
                   int timeout_seconds = 0);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_MAIL_DISPATCH_H_
