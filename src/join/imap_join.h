// "/Join:imaps://..." : the join of the pieces in a mailbox on an IMAP
// server. The server searches the mailbox for message/partial pieces; each
// is fetched by UID into a private spool folder (0700, under $TMPDIR,
// removed on every path, signals included) and \Seen is taken off again
// where the piece was unread. The spool is then joined as a local mailbox
// is: same sets, names, result lines and exit codes. With /JoinDelete the
// pieces of each set written are marked \Deleted and, where the server
// offers UIDPLUS, expunged by UID.
#ifndef POSTRUNNER_JOIN_IMAP_JOIN_H_
#define POSTRUNNER_JOIN_IMAP_JOIN_H_

#include <string>

#include "join/imap_session.h"
#include "join/imap_url.h"

namespace postrunner {

// A login the server refused, for a caller that may try again with a
// renewed token.
struct ImapLoginRefusal {
  bool refused = false;
  std::string reason;  // the server's text; never holds the secret
};

// Joins the pieces in the mailbox `url` names into `folder` (the current
// folder when empty), logging in with `login`. Returns an exit code of
// join.h: kJoinFailed also when the server cannot be reached, refuses the
// login or the mailbox, or a piece cannot be fetched. When `refusal` is
// given and the server refuses the login, nothing has been fetched or
// printed: refusal->reason holds the reason and kJoinFailed is returned.
[[nodiscard]] int RunImapJoin(const ImapUrl& url, const ImapLogin& login,
                              const std::string& folder, bool delete_pieces,
                              ImapLoginRefusal* refusal = nullptr);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_IMAP_JOIN_H_
