// Finding the message/partial pieces in a mailbox. A mailbox is an mbox
// file, a Maildir (a folder with cur/ and new/), a folder searched
// recursively for .eml files, or a single message file. Any file that begins
// with an mbox "From " line is read as an mbox, whatever its name. Messages
// are found by their offsets in one streaming pass per file; only the header
// fields a piece needs are kept.
#ifndef POSTRUNNER_JOIN_MAILBOX_SCAN_H_
#define POSTRUNNER_JOIN_MAILBOX_SCAN_H_

#include <string>
#include <vector>

#include "join/piece_sets.h"

namespace postrunner {

// Lists the message files of the mailbox at `path`, sorted by name within
// each folder. Returns false, with `*reason`, when `path` or a folder within
// it cannot be read.
bool ListMailboxFiles(const std::string& path, std::vector<std::string>* files,
                      std::string* reason);

// Files every message/partial piece of the file `path` (number `index` of
// the list) into `sets`, and every message sent whole that may hold an
// attachment as a set of its own. Pieces that cannot belong to a set are counted in
// `*refused`, each with a line in `*notes`. Returns false, with `*reason`,
// when the file cannot be read.
bool ScanMailboxFile(const std::string& path, uint32_t index, PieceSets* sets, int* refused,
                     std::vector<std::string>* notes, std::string* reason);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_MAILBOX_SCAN_H_
