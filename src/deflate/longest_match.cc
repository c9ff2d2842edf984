// The match search along a hash chain.
//
// It gives exactly the result of the plain walk: visit the 3-byte chain's
// candidates newest first, at most max_chain of them (a quarter once the
// previous match reached good_length) and none at or below 32506 bytes back;
// reject a candidate unless its bytes at 0, 1, best-1 and best equal the
// current string's; keep the first candidate of each greater length; stop at
// nice_length. Tests hold a plain copy of that walk and compare streams.
//
// Two things make it faster without changing the result. Wide loads: a
// candidate that could beat the best must equal the current string in all
// bytes 0..best, so testing more of them (eight or four at a time) only drops
// candidates the plain test would have examined in vain. Keyed chains: once
// the best is k - 1 or more (k = 4, 6, 8), only candidates sharing the first
// k bytes can improve, so the walk follows the matcher's k-byte chains and
// checks each such candidate's rank in the 3-byte chain against the budget.
#include <cstring>

#include "deflate/matcher.h"

namespace postrunner {
namespace deflate {
namespace {

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Length of the common prefix of scan and match, at most 258, given that
// their first two bytes are equal (and so, by the hash, the third).
inline unsigned MatchLength(const uint8_t* scan, const uint8_t* match) {
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
  bool Matches(const uint8_t* match) const {
    return wide ? Load64(match + offset) == value : Load32(match + offset) == value;
  }
};

}  // namespace

unsigned LongestMatch(Matcher& m, unsigned cur_match) {
  unsigned chain_length = m.max_chain_length;
  if (m.prev_length >= m.good_match) chain_length >>= 2;
  const uint32_t budget = chain_length;
  const unsigned strstart = m.strstart;
  const uint8_t* const window = m.window;
  const uint8_t* const scan = window + strstart;
  unsigned best_len = m.prev_length;
  const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
  const unsigned nice = m.nice_match;
  if (strstart > m.window_size - kMinLookahead) m.errors->Record("insufficient lookahead");

  const uint16_t head_rank = m.rank[cur_match & kWMask];
  const uint16_t scan_start = Load16(scan);

  // The 3-byte chain, until a match of 3 or more is in hand (always the head
  // candidate itself).
  do {
    if (cur_match >= strstart) m.errors->Record("no future");
    const uint8_t* match = window + cur_match;
    if (Load16(match + best_len - 1) == Load16(scan + best_len - 1) && Load16(match) == scan_start) {
      unsigned len = MatchLength(scan, match);
      if (strstart + len > m.window_size - 1) m.errors->Record("wild scan");
      if (len > best_len) {
        m.match_start = cur_match;
        best_len = len;
        if (len >= nice) return best_len;
      }
    }
    if (best_len >= kMinMatch) break;
  } while ((cur_match = m.prev[cur_match & kWMask]) > limit && --chain_length != 0);
  if (best_len < kMinMatch || cur_match <= limit || chain_length == 0) return best_len;

  // The keyed chains from here on: candidates older than the last one
  // examined that share the current string's first k bytes, k being 4, 6
  // or 8 as the best allows. A key is only used while its bytes lie inside
  // the input (a key over bytes past the end could be stale).
  struct KeyedChain {
    const uint16_t* prev;
    uint64_t mask;
    unsigned key_bytes;
  };
  const KeyedChain chains[3] = {{m.prev4, 0xFFFFFFFFull, 4},
                                {m.prev6, 0xFFFFFFFFFFFFull, 6},
                                {m.prev8, ~0ull, 8}};
  auto usable = [&](int level) {
    return level < 3 && best_len + 1 >= chains[level].key_bytes &&
           m.lookahead >= chains[level].key_bytes;
  };
  int level = 0;
  while (usable(level + 1)) level++;

  const uint64_t scan8 = Load64(scan);
  unsigned examined = cur_match;
  for (;;) {
    const KeyedChain& chain = chains[level];
    const uint64_t key = scan8 & chain.mask;
    EndKey end;
    end.Set(scan, best_len);
    unsigned q = chain.prev[strstart & kWMask];
    while (q >= examined && q > limit) q = chain.prev[q & kWMask];
    bool next_level = false;
    for (; q > limit; q = chain.prev[q & kWMask]) {
      const uint8_t* match = window + q;
      if ((Load64(match) & chain.mask) != key) continue;
      // q is on the 3-byte chain; the plain walk reaches it only within the
      // budget, and every later candidate is further down.
      if (static_cast<uint16_t>(head_rank - m.rank[q & kWMask]) >= budget) return best_len;
      if (!end.Matches(match)) continue;
      unsigned len = MatchLength(scan, match);
      if (strstart + len > m.window_size - 1) m.errors->Record("wild scan");
      if (len > best_len) {
        m.match_start = q;
        best_len = len;
        if (len >= nice) return best_len;
        if (usable(level + 1)) {
          next_level = true;
          break;
        }
        end.Set(scan, best_len);
      }
    }
    if (!next_level) return best_len;
    examined = q;
    while (usable(level + 1)) level++;
  }
}

}  // namespace deflate
}  // namespace postrunner
