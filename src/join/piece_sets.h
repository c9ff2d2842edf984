// PieceSets groups the message/partial pieces found in a mailbox by their id
// and checks what each set claims: piece numbers and totals are bounded, two
// different totals or a number beyond the total make a set inconsistent.
// Only where each piece's body lies is kept, never the body itself, and the
// pieces kept are bounded, so the index stays small however big the files
// are and however many other messages the mailbox holds.
#ifndef POSTRUNNER_JOIN_PIECE_SETS_H_
#define POSTRUNNER_JOIN_PIECE_SETS_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace postrunner {

// Bound on a set's total and on the pieces kept in one run.
inline constexpr uint32_t kMaxPieces = 65536;
// Bound on the length of an id.
inline constexpr size_t kMaxIdLength = 1024;
// Bound on the memory the index of one run takes, ids and subjects included;
// kMaxPieces pieces of a few sets fit well within it.
inline constexpr size_t kMaxIndexBytes = 16 * 1024 * 1024;

// Where a message begins in the mailbox: ordered as the messages were found.
struct MailboxPosition {
  uint32_t file = 0;    // index into the list of mailbox files
  uint64_t offset = 0;  // file offset
  auto operator<=>(const MailboxPosition&) const = default;
};

// Where the body of one piece lies.
struct PieceRef {
  uint32_t file = 0;        // index into the list of mailbox files
  uint64_t body_begin = 0;  // file offset of the body's first byte
  uint64_t end = 0;         // file offset just past the body
  bool mbox = false;        // lines beginning ">From " are quoted (mboxrd)
};

struct PieceSet {
  std::string id;
  uint32_t total = 0;     // 0 while no piece carries total=
  std::string problem;    // the first inconsistency found, empty when none
  std::map<uint32_t, std::vector<PieceRef>> pieces;  // number -> copies, in the order found
  std::string first_subject;  // Subject of the first copy of piece 1
  bool whole = false;         // a message sent whole, not in pieces
  MailboxPosition found_at;   // where its first piece found lies
};

// What became of a piece offered to PieceSets::Add.
enum class PieceFiled {
  kKept,       // filed in its set
  kNoId,       // no id=: not a piece that can belong to a set
  kLongId,     // an id longer than kMaxIdLength
  kIndexFull,  // kMaxPieces pieces or kMaxIndexBytes kept already
};

class PieceSets {
 public:
  // Files one piece under `id` with the raw texts of its number= and total=
  // parameters (`total` empty when absent); the piece's message begins at
  // `at`.
  [[nodiscard]]
  PieceFiled Add(std::string_view id, std::string_view number, std::string_view total,
                 std::string_view subject, const PieceRef& ref, MailboxPosition at);

  // Sets in the order their first piece was found.
  std::vector<PieceSet>& sets() { return sets_; }

 private:
  std::vector<PieceSet> sets_;
  // Charges one more piece holding `bytes` of text to the index. Returns
  // false when the index is full.
  [[nodiscard]] bool Charge(size_t bytes);

  std::unordered_map<std::string, size_t> by_id_;
  uint32_t indexed_ = 0;
  size_t index_bytes_ = 0;
};

// True when `set` is consistent, has a total and holds every piece number
// from 1 to its total.
[[nodiscard]] bool IsComplete(const PieceSet& set);

// The piece numbers `set` lacks, as "2, 4-6"; up to its total, or up to its
// highest number when no total is known. Long lists end in ", ...".
std::string MissingPieces(const PieceSet& set);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_PIECE_SETS_H_
