// The match search along a hash chain.
//
// It gives exactly the result of the plain walk: visit the 3-byte chain's
// candidates newest first, at most max_chain of them (a quarter once the
// previous match reached good_length) and none 32506 or more bytes back;
// reject a candidate unless its bytes at 0, 1, best-1 and best equal the
// current string's; keep the first candidate of each greater length; stop at
// nice_length. Tests hold a plain copy of that walk and compare streams.
//
// Four things make it faster without changing the result. Wide loads: a
// candidate that could beat the best must equal the current string in all
// bytes 0..best, so testing more of them (eight or four at a time) only drops
// candidates the plain test would have examined in vain. The trigram chain:
// with no match in hand, the walk takes the first candidate with 3 equal
// bytes, found on a chain keyed by exactly those bytes rather than through
// the 3-byte hash's collisions. Keyed chains: once the best is k - 1 or
// more (k = 4, 6, 8, 16), only candidates sharing k bytes can improve, so
// the walk follows the matcher's k-byte chains and checks each such
// candidate's rank in the 3-byte chain against the budget. Shifted keys: any
// k bytes of 0..best will do, so the walk keys on the last k instead of the
// first when that chain looks shorter.
#include <cstring>

#include "deflate/matcher.h"

namespace postrunner {
namespace deflate {
namespace {

[[nodiscard]] inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
[[nodiscard]] inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
[[nodiscard]] inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Length of the common prefix of scan and match, at most 258, given that
// their first two bytes are equal (and so, by the hash, the third).
[[nodiscard]] inline unsigned MatchLength(const uint8_t* scan, const uint8_t* match) {
  for (unsigned len = 2; len < kMaxMatch; len += 8) {
    uint64_t diff = Load64(scan + len) ^ Load64(match + len);
    if (diff != 0) return len + static_cast<unsigned>(__builtin_ctzll(diff)) / 8;
  }
  return kMaxMatch;
}

// Bytes up to `best` of a candidate that could beat `best`, compared wide.
struct EndKey {
  unsigned offset;
  uint64_t value;
  bool wide;
  void Set(const uint8_t* scan, unsigned best) {
    wide = best >= 7;
    offset = wide ? best - 7 : best - 3;
    value = wide ? Load64(scan + offset) : Load32(scan + offset);
  }
  [[nodiscard]] bool Matches(const uint8_t* match) const {
    return wide ? Load64(match + offset) == value : Load32(match + offset) == value;
  }
};

// One search. The keyed walk runs one level of keyed chains from the newest
// candidate below `examined`.
struct Search {
  Matcher& m;
  const uint8_t* scan;
  unsigned limit;
  uint16_t head_rank;
  uint32_t budget;
  unsigned best_len;
  unsigned examined = 0;
  bool examined_is_best = false;  // examined is the candidate that gave best_len

  // False when the plain walk would not reach candidate q within its budget.
  [[nodiscard]] bool InBudget(unsigned q) const {
    return static_cast<uint16_t>(head_rank - m.rank[q & kWMask]) < budget;
  }

  // What a candidate's match did to the best.
  enum class Outcome { kNoLonger, kLonger, kNice };

  // Takes candidate q when its match is longer than the best; kNice when
  // it reached the nice length and the search may stop there.
  [[nodiscard]] Outcome Consider(unsigned q) {
    unsigned len = MatchLength(scan, m.window + q);
    if (m.strstart + len > m.window_size - 1) m.errors->Record("wild scan");
    if (len <= best_len) return Outcome::kNoLonger;
    m.match_start = q;
    best_len = len;
    return len >= m.nice_match ? Outcome::kNice : Outcome::kLonger;
  }

  // With no match in hand, any candidate with 3 equal bytes is taken: the
  // newest on the trigram chain, past the 3-byte chain's collisions, if the
  // plain walk would reach it within its budget. `head` is the 3-byte
  // chain's head, taken even at the limit as the plain walk does. Returns
  // false when the search is over.
  [[nodiscard]] bool FirstOfThree(unsigned head) {
    m.InsertKeysTo(m.strstart + 1);
    const uint32_t key = Load32(scan) & 0xFFFFFFu;
    unsigned q = m.tri_prev[m.strstart];
    while (q >= limit && q != 0 && (Load32(m.window + q) & 0xFFFFFFu) != key) q = m.tri_prev[q];
    if (q < limit || q == 0 || (q == limit && q != head) || !InBudget(q)) return false;
    if (Consider(q) == Outcome::kNice) return false;
    examined = q;
    examined_is_best = true;
    return q > limit;
  }

  // With a match in hand from the previous position, the 3-byte chain's
  // head is tested as the plain walk does. Returns false when the search is
  // over.
  [[nodiscard]] bool Head(unsigned head) {
    if (head >= m.strstart) m.errors->Record("no future");
    const uint8_t* match = m.window + head;
    if (Load16(match + best_len - 1) == Load16(scan + best_len - 1) &&
        Load16(match) == Load16(scan)) {
      Outcome outcome = Consider(head);
      if (outcome == Outcome::kNice) return false;
      examined_is_best = outcome == Outcome::kLonger;
    }
    examined = head;
    return head > limit;
  }

  // Runs the level given at run time.
  template <int kLevel>
  [[nodiscard]] bool RunLevel(int level) {
    if constexpr (kLevel + 1 < kKeyLevels) {
      if (level != kLevel) return RunLevel<kLevel + 1>(level);
    }
    return Run<kLevel>();
  }

  // A candidate that can do better shares bytes 0..best with the string, so
  // any k of them will do as the key: the last k, whose chain is often far
  // shorter than that of the first k (a run of spaces before a word), or
  // the first k. Returns the shift (candidates are the chain's positions less
  // it) and sets *p to the first chain position to test.
  template <int kLevel>
  [[nodiscard]] unsigned Start(unsigned* p) {
    constexpr unsigned kBytes = kKeyBytes[kLevel];
    const uint16_t* const prev = m.key_prev[kLevel];
    const unsigned strstart = m.strstart;
    // The chain whose newest entry lies further back is likely the shorter.
    auto farther = [prev](unsigned a, unsigned b) { return a - prev[a] > b - prev[b]; };
    unsigned shift = best_len + 1 - kBytes;
    if (shift != 0) {
      if (strstart + shift >= m.KeysFinal()) {
        shift = 0;
      } else {
        m.InsertKeysTo(strstart + shift + 1);
        if (farther(strstart, strstart + shift)) shift = 0;
      }
    }
    if (shift == 0 && examined_is_best && best_len >= kBytes) {
      // The candidate that gave the best shares the key, so it lies on the
      // chain: the walk goes on from it, with nothing newer to pass over.
      *p = prev[examined];
    } else {
      *p = prev[strstart + shift];
      while (*p >= examined + shift && *p > limit + shift) *p = prev[*p];
    }
    return shift;
  }

  // Walks the level's chain. Returns true when it stopped because the best
  // grew enough to use a longer key (examined is then the candidate that
  // grew it), false when the search is over.
  template <int kLevel>
  [[nodiscard]] bool Run() {
    constexpr unsigned kBytes = kKeyBytes[kLevel];
    constexpr unsigned kWords = kBytes >= 8 ? kBytes / 8 : 1;
    constexpr uint64_t kMask = kBytes >= 8 ? ~0ull : (1ull << (8 * kBytes)) - 1;
    const uint16_t* const prev = m.key_prev[kLevel];
    const uint8_t* const window = m.window;
    const unsigned next_bytes = kLevel + 1 < kKeyLevels ? kKeyBytes[kLevel + 1] : ~0u;
    const bool next_usable = m.lookahead >= next_bytes;

    unsigned p;
    const unsigned shift = Start<kLevel>(&p);
    uint64_t key[kWords];
    for (unsigned w = 0; w < kWords; w++) key[w] = Load64(scan + shift + 8 * w) & kMask;
    const uint32_t head3 = Load32(scan) & 0xFFFFFFu;
    EndKey end;
    end.Set(scan, best_len);
    unsigned unchecked = 0;
    for (unsigned next; p > limit + shift; p = next) {
      // The next candidate's bytes start loading while this one is tested.
      next = prev[p];
      __builtin_prefetch(window + next);
      const unsigned q = p - shift;
      const uint8_t* match = window + q;
      bool same = (Load64(window + p) & kMask) == key[0];
      for (unsigned w = 1; w < kWords; w++) same = same && Load64(window + p + 8 * w) == key[w];
      // Its first 3 bytes put q on the 3-byte chain.
      if (!same || (shift != 0 && (Load32(match) & 0xFFFFFFu) != head3)) continue;
      // The plain walk reaches q only within the budget, and every later
      // candidate is further down the 3-byte chain. The rank is checked
      // before q can be taken, and for every 8th candidate so the walk ends
      // soon after the budget does.
      bool ends_match = end.Matches(match);
      if ((ends_match || (++unchecked & 7) == 0) && !InBudget(q)) return false;
      if (!ends_match) continue;
      Outcome outcome = Consider(q);
      if (outcome == Outcome::kNice) return false;
      if (outcome == Outcome::kNoLonger) continue;
      if (best_len + 1 >= next_bytes && next_usable) {
        examined = q;
        examined_is_best = true;
        return true;
      }
      end.Set(scan, best_len);
    }
    return false;
  }
};

}  // namespace

unsigned LongestMatch(Matcher& m, unsigned cur_match) {
  uint32_t budget = m.max_chain_length;
  if (m.prev_length >= m.good_match) budget >>= 2;
  const unsigned strstart = m.strstart;
  if (strstart > m.window_size - kMinLookahead) m.errors->Record("insufficient lookahead");
  // The head was the last insertion with this hash before the string's own.
  const uint16_t head_rank = static_cast<uint16_t>(m.rank[strstart & kWMask] - 1);
  Search search{m, m.window + strstart, strstart > kMaxDist ? strstart - kMaxDist : 0,
                head_rank, budget, m.prev_length};

  // A match of 3 or more first: the only candidate the plain walk can take
  // below that length is the first with 3 equal bytes.
  const bool go_on = search.best_len < kMinMatch ? search.FirstOfThree(cur_match)
                                                 : search.Head(cur_match);
  if (!go_on) return search.best_len;

  // The keyed chains from here on: candidates older than the last one
  // examined that share k bytes of the best match, k as large as the best
  // allows. A key is only used while its bytes lie inside the input (a key
  // over bytes past the end could be stale). Every position up to this one
  // joins the keyed chains now: while the input goes on, the lookahead
  // covers their keys, so their bytes are final; once it has ended, nothing
  // more is read, and a key that reaches past its end is never usable for a
  // later string either.
  m.InsertKeysTo(strstart + 1);
  auto usable = [&](int level) {
    return level < kKeyLevels && search.best_len + 1 >= kKeyBytes[level] &&
           m.lookahead >= kKeyBytes[level];
  };
  int level = 0;
  while (usable(level + 1)) level++;
  for (;;) {
    if (!search.RunLevel<0>(level)) return search.best_len;
    while (usable(level + 1)) level++;
  }
}

}  // namespace deflate
}  // namespace postrunner
