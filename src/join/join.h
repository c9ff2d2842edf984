// The receiving side of a split delivery: "/Join:PATH [/JoinTo:FOLDER]"
// finds the message/partial pieces in a mailbox, groups them into sets by
// id, and rebuilds each complete set's file in FOLDER; the attachments of
// messages that arrived whole are written too. It prints one line per set
// (per file rebuilt), gives reasons on standard error, and sends nothing.
#ifndef POSTRUNNER_JOIN_JOIN_H_
#define POSTRUNNER_JOIN_JOIN_H_

#include <string>

namespace postrunner {

// Exit codes of a join run.
inline constexpr int kJoinOk = 0;          // every set complete and written, or no pieces
inline constexpr int kJoinUnreadable = 4;  // the mailbox cannot be read
inline constexpr int kJoinFailed = 5;      // a set incomplete, inconsistent or not written

// Joins the pieces in the mailbox `path` into files in `folder` (the current
// folder when empty). Returns one of the exit codes above.
[[nodiscard]] int RunJoin(const std::string& path, const std::string& folder);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_JOIN_H_
