// PieceSets groups the message/partial pieces found in a mailbox by their id
// and checks what each set claims: piece numbers and totals are bounded, two
// different totals or a number beyond the total make a set inconsistent.
// A message sent whole that may hold attachments becomes a set of one piece.
// Only where each piece's body lies is kept, never the body itself, so the
// index stays small however big the files are.
#ifndef POSTRUNNER_JOIN_PIECE_SETS_H_
#define POSTRUNNER_JOIN_PIECE_SETS_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace postrunner {

// Bound on a set's total and on the pieces indexed in one run.
inline constexpr uint32_t kMaxPieces = 65536;
// Bound on the length of an id.
inline constexpr size_t kMaxIdLength = 1024;
// Bound on the memory the index of one run takes, ids and subjects included.
inline constexpr size_t kMaxIndexBytes = 8 * 1024 * 1024;

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
};

class PieceSets {
 public:
  // Files one piece under `id` with the raw texts of its number= and total=
  // parameters (`total` empty when absent). Returns false, with `*reason`,
  // when the piece cannot belong to any set (no id, an id longer than
  // kMaxIdLength, or the index is full: kMaxPieces pieces or kMaxIndexBytes).
  bool Add(std::string_view id, std::string_view number, std::string_view total,
           std::string_view subject, const PieceRef& ref, std::string* reason);

  // Files a message that was sent whole (not message/partial) and may hold
  // attachments, as a set of its own with one piece whose body is the whole
  // message; `label` names it in messages. Returns false, with `*reason`,
  // when the index is full.
  bool AddWhole(std::string_view label, std::string_view subject, const PieceRef& ref,
                std::string* reason);

  // Sets in the order their first piece was found.
  std::vector<PieceSet>& sets() { return sets_; }

 private:
  std::vector<PieceSet> sets_;
  // Charges one more piece holding `bytes` of text to the index. Returns
  // false, with `*reason`, when the index is full.
  bool Charge(size_t bytes, std::string* reason);

  std::unordered_map<std::string, size_t> by_id_;
  uint32_t indexed_ = 0;
  size_t index_bytes_ = 0;
};

// True when `set` is consistent, has a total and holds every piece number
// from 1 to its total.
bool IsComplete(const PieceSet& set);

// The piece numbers `set` lacks, as "2, 4-6"; up to its total, or up to its
// highest number when no total is known. Long lists end in ", ...".
std::string MissingPieces(const PieceSet& set);

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_PIECE_SETS_H_
