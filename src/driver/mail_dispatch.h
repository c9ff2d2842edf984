// Mail dispatch: sends one file as one message, or as message/partial pieces
// when it is larger than one piece and splitting is allowed.
#ifndef POSTRUNNER_DRIVER_MAIL_DISPATCH_H_
#define POSTRUNNER_DRIVER_MAIL_DISPATCH_H_

#include <string>

namespace postrunner {

// Bytes of one piece of a split file: 999 blocks of 999 bytes.
inline constexpr long long kPieceSize = 998001;

// Mails `path` from `sender` to `receiver` through `mail_server`
// ("host[:port]"). Returns 0 on failure, non-zero when the file was
// delivered (the piece count for a split file).
int SendFileByMail(std::string path, std::string sender, std::string receiver,
                   std::string mail_server, bool split_allowed);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_MAIL_DISPATCH_H_
