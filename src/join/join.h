// The receiving side of a split delivery: "/Join:PATH [/JoinTo:FOLDER]"
// finds the message/partial pieces in a mailbox, groups them into sets by
// id, and rebuilds each complete set's file in FOLDER; the attachments of
// messages that arrived whole are written too. It prints one line per set
// (per file rebuilt), gives reasons on standard error, and sends nothing.
#ifndef POSTRUNNER_JOIN_JOIN_H_
#define POSTRUNNER_JOIN_JOIN_H_

#include <functional>
#include <string>
#include <vector>

#include "join/piece_sets.h"

namespace postrunner {

// Exit codes of a join run.
inline constexpr int kJoinOk = 0;          // every set complete and written, or no pieces
inline constexpr int kJoinUnreadable = 4;  // the mailbox cannot be read
inline constexpr int kJoinFailed = 5;      // a set incomplete, inconsistent or not written

// Joins the pieces in the mailbox `path` into files in `folder` (the current
// folder when empty). With `delete_pieces`, the piece files of each set
// written are removed once its files have their names (a Maildir or a
// folder of message files; the pieces in an mbox file stay, with a note).
// Returns one of the exit codes above.
[[nodiscard]]
int RunJoin(const std::string& path, const std::string& folder, bool delete_pieces = false);

// Called with each set of pieces whose files were all written.
using SetWritten = std::function<void(const PieceSet&)>;

// Joins the pieces in the message files `paths` (one message each, as a
// mailbox fetched from a server is kept), as RunJoin does, passing over
// any message that is not a piece; `label` names
// the mailbox in the line that says no piece was found. PieceRef::file of
// the sets `written` is told of indexes `paths`. Returns one of the exit
// codes above.
[[nodiscard]]
int JoinMessageFiles(std::vector<std::string> paths, const std::string& label,
                     const std::string& folder, const SetWritten& written);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_JOIN_H_
