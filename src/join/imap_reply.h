// Reading what an IMAP server answers to the commands a join sends through
// libcurl: the untagged SEARCH and CAPABILITY lines that libcurl passes on,
// and a tagged NO or BAD line, whose text becomes the reason for a refusal.
// Pure text functions with no I/O; the text comes from the server and is
// never trusted.
#ifndef POSTRUNNER_JOIN_IMAP_REPLY_H_
#define POSTRUNNER_JOIN_IMAP_REPLY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace postrunner {

// Bound on the UIDs one search may return.
inline constexpr size_t kMaxSearchUids = 1000000;

// Appends the UIDs of every "* SEARCH n n ..." line in `lines` to `*uids`,
// in the order given (a "(MODSEQ n)" ending is passed over). Returns false
// when a UID is not a number 1..4294967295 or there are more than
// kMaxSearchUids.
[[nodiscard]]
bool ParseSearchUids(std::string_view lines, std::vector<uint32_t>* uids);

// Whether a "* CAPABILITY ..." line in `lines` names `name` (any case).
[[nodiscard]] bool HasCapability(std::string_view lines, std::string_view name);

// When `line` is a tagged NO or BAD reply ("A003 NO [AUTHENTICATIONFAILED]
// Authentication failed."), sets `*text` to what follows NO or BAD, control
// bytes replaced and cut to a printable length, and returns true.
[[nodiscard]] bool TaggedRefusal(std::string_view line, std::string* text);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_IMAP_REPLY_H_
