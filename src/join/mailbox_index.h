// MailboxIndex is what a join keeps of the scans of a mailbox: the
// message/partial pieces, grouped into sets (bounded by PieceSets), and the
// messages sent whole that may hold attachments, a bounded batch at a time.
// A mailbox may hold any number of messages sent whole; those past a batch
// are left for a later scan that begins where the first of them does, so
// memory stays bounded and they never crowd out the pieces.
#ifndef POSTRUNNER_JOIN_MAILBOX_INDEX_H_
#define POSTRUNNER_JOIN_MAILBOX_INDEX_H_

#include <cstddef>
#include <string>
#include <vector>

#include "join/mailbox_files.h"
#include "join/mailbox_scan.h"
#include "join/piece_sets.h"

namespace postrunner {

// Messages sent whole kept at a time.
inline constexpr size_t kWholeBatch = 1024;

// A message sent whole, as a join needs it.
struct WholeMessage {
  std::string label;    // its Message-ID, else where it begins
  std::string subject;  // its Subject, cut to 1024 bytes
  PieceRef ref;         // its header and body
  MailboxPosition at;   // where it begins
};

class MailboxIndex : public ScanTarget {
 public:
  explicit MailboxIndex(size_t batch_limit = kWholeBatch) : batch_limit_(batch_limit) {}

  // Scans the files of the mailbox from `from` on: to the end, or, in a
  // later scan, until the batch is full. Returns false, with `*reason`,
  // when a file cannot be read.
  [[nodiscard]] bool Scan(MailboxFiles* files, MailboxPosition from, std::string* reason);

  // Files a piece into its set, or counts why it cannot be.
  void Piece(const MimeValue& type, const HeaderBlock& header, const PieceRef& ref,
             MailboxPosition at) override;
  // Keeps a message sent whole while the batch has room. Once it is full,
  // the first scan goes on for the pieces; a later scan stops.
  [[nodiscard]]
  bool Whole(const HeaderBlock& header, const PieceRef& ref, MailboxPosition at) override;

  // Empties the batch for a later scan, which begins at resume(); pieces
  // are no longer taken (the first scan found them all).
  void NextBatch();

  PieceSets& sets() { return sets_; }
  const std::vector<WholeMessage>& batch() const { return batch_; }
  // True when a message sent whole found no room in the batch.
  [[nodiscard]] bool overflow() const { return overflow_; }
  // Where the first message sent whole without room begins.
  [[nodiscard]] MailboxPosition resume() const { return resume_; }
  // Pieces that belong to a set but could not be kept.
  [[nodiscard]] int refused() const { return long_ids_ + over_budget_; }
  // One line for each kind of piece passed over, with their counts.
  std::vector<std::string> Notes() const;

 private:
  size_t batch_limit_;
  PieceSets sets_;
  std::vector<WholeMessage> batch_;
  bool pieces_ = true;
  bool overflow_ = false;
  MailboxPosition resume_;
  int no_ids_ = 0;
  int long_ids_ = 0;
  int over_budget_ = 0;
};

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_MAILBOX_INDEX_H_
