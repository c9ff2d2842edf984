#include "join/piece_sets.h"

#include <algorithm>

namespace postrunner {
namespace {

constexpr size_t kMaxSubject = 1024;
// What a piece costs the index besides its text: its place in the maps.
constexpr size_t kPieceOverhead = 160;
constexpr int kMaxRangesShown = 30;

// A piece count from 1 to kMaxPieces; 0 for anything else.
[[nodiscard]] uint32_t ParseCount(std::string_view text) {
  if (text.empty() || text.size() > 9) return 0;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value <= kMaxPieces ? value : 0;
}

std::string Shown(std::string_view text) {
  std::string out(text.substr(0, 40));
  if (text.size() > 40) out += "...";
  return out;
}

void NoteProblem(PieceSet* set, std::string problem) {
  if (set->problem.empty()) set->problem = std::move(problem);
}

}  // namespace

PieceFiled PieceSets::Add(std::string_view id, std::string_view number, std::string_view total,
                          std::string_view subject, const PieceRef& ref, MailboxPosition at) {
  if (id.empty()) return PieceFiled::kNoId;
  if (id.size() > kMaxIdLength) return PieceFiled::kLongId;
  const bool known = by_id_.count(std::string(id)) != 0;
  const bool first = number == "1";
  if (!Charge((known ? 0 : 2 * id.size()) + (first ? std::min(subject.size(), kMaxSubject) : 0))) {
    return PieceFiled::kIndexFull;
  }
  auto [it, fresh] = by_id_.emplace(std::string(id), sets_.size());
  if (fresh) {
    sets_.emplace_back();
    sets_.back().id = std::string(id);
    sets_.back().found_at = at;
  }
  PieceSet& set = sets_[it->second];

  const uint32_t n = ParseCount(number);
  if (n == 0) {
    NoteProblem(&set, "piece number \"" + Shown(number) + "\" is not from 1 to " +
                          std::to_string(kMaxPieces));
    return PieceFiled::kKept;
  }
  if (!total.empty()) {
    const uint32_t t = ParseCount(total);
    if (t == 0) {
      NoteProblem(&set, "total \"" + Shown(total) + "\" is not from 1 to " +
                            std::to_string(kMaxPieces));
    } else if (set.total != 0 && set.total != t) {
      NoteProblem(&set, "two totals, " + std::to_string(set.total) + " and " +
                            std::to_string(t));
    } else {
      set.total = t;
    }
  }
  std::vector<PieceRef>& copies = set.pieces[n];
  if (n == 1 && copies.empty()) set.first_subject = std::string(subject.substr(0, kMaxSubject));
  copies.push_back(ref);
  if (set.total != 0 && set.pieces.rbegin()->first > set.total) {
    NoteProblem(&set, "piece " + std::to_string(set.pieces.rbegin()->first) +
                          " is beyond the total of " + std::to_string(set.total));
  }
  return PieceFiled::kKept;
}

bool PieceSets::Charge(size_t bytes) {
  if (indexed_ >= kMaxPieces || index_bytes_ + kPieceOverhead + bytes > kMaxIndexBytes) {
    return false;
  }
  index_bytes_ += kPieceOverhead + bytes;
  ++indexed_;
  return true;
}

bool IsComplete(const PieceSet& set) {
  return set.problem.empty() && set.total != 0 && set.pieces.size() == set.total &&
         set.pieces.rbegin()->first == set.total;
}

std::string MissingPieces(const PieceSet& set) {
  uint32_t upto = set.total;
  if (upto == 0 && !set.pieces.empty()) upto = set.pieces.rbegin()->first;
  std::string out;
  int ranges = 0;
  uint32_t next = 1;  // first number not yet accounted for
  auto add_gap = [&](uint32_t from, uint32_t to) {
    if (from > to) return;
    if (ranges++ == kMaxRangesShown) out += ", ...";
    if (ranges > kMaxRangesShown) return;
    if (!out.empty()) out += ", ";
    out += std::to_string(from);
    if (to > from) out += "-" + std::to_string(to);
  };
  for (const auto& entry : set.pieces) {
    if (entry.first > upto) break;
    add_gap(next, entry.first - 1);
    next = entry.first + 1;
  }
  add_gap(next, upto);
  return out;
}

}  // namespace postrunner
