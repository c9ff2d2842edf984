// Joining one set: a complete, consistent set of pieces (or a message sent
// whole, as a set of one piece) is rebuilt into files; any other set is
// reported for what it lacks. Each prints its result lines on standard
// output and its reasons on standard error.
#ifndef POSTRUNNER_JOIN_SET_JOIN_H_
#define POSTRUNNER_JOIN_SET_JOIN_H_

#include <functional>
#include <string>

#include "join/mailbox_files.h"
#include "join/piece_sets.h"

namespace postrunner {

// What came of the sets so far.
struct JoinOutcome {
  bool ok = true;  // every set complete and written
  int lines = 0;   // result lines printed
  // When set, told of each set of pieces (not a message sent whole) whose
  // files were all written and took their names.
  std::function<void(const PieceSet&)> written;
};

// Rebuilds `set` into `folder`, reading its pieces from `files`, or prints
// why it cannot be. A message sent whole that holds no attachment is passed
// over without a word.
void HandleSet(const PieceSet& set, const std::string& folder, MailboxFiles* files,
               JoinOutcome* outcome);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_SET_JOIN_H_
