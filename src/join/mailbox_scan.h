// Finding the message/partial pieces in a mailbox. A mailbox is an mbox
// file, a Maildir (a folder with cur/ and new/), a folder searched
// recursively for .eml files, or a single message file. Any file that begins
// with an mbox "From " line is read as an mbox, whatever its name. Messages
// are found by their offsets in one streaming pass per file, which keeps
// nothing but the header of the message at hand.
#ifndef POSTRUNNER_JOIN_MAILBOX_SCAN_H_
#define POSTRUNNER_JOIN_MAILBOX_SCAN_H_

#include <string>
#include <vector>

#include "join/mime_header.h"
#include "join/piece_sets.h"

namespace postrunner {

// Lists the message files of the mailbox at `path`, sorted by name within
// each folder. Returns false, with `*reason`, when `path` or a folder within
// it cannot be read.
[[nodiscard]]
bool ListMailboxFiles(const std::string& path, std::vector<std::string>* files,
                      std::string* reason);

// Receives the messages a scan finds that matter to a join.
class ScanTarget {
 public:
  virtual ~ScanTarget() = default;
  // A message/partial piece beginning at `at`; `type` is its Content-Type,
  // `ref` covers its body.
  virtual void Piece(const MimeValue& type, const HeaderBlock& header, const PieceRef& ref,
                     MailboxPosition at) = 0;
  // A message sent whole that may hold attachments, beginning at `at`;
  // `ref` covers its header and body. Returning false ends the scan before
  // this message, so that a later scan may begin at `at`.
  [[nodiscard]]
  virtual bool Whole(const HeaderBlock& header, const PieceRef& ref, MailboxPosition at) = 0;
};

// Scans the mailbox file open as `fd`, number `index` of the list, from
// offset `from` (0, or where a message found by an earlier scan begins) to
// its end as it is now, and hands its messages to `target`. Sets `*stopped`
// when the target stopped the scan. Returns false (errno set) when the file
// cannot be read.
[[nodiscard]]
bool ScanMailboxFile(int fd, uint32_t index, uint64_t from, ScanTarget* target, bool* stopped);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_MAILBOX_SCAN_H_
