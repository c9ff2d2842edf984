// The match search along a hash chain.
#include "deflate/matcher.h"

namespace postrunner {
namespace deflate {

unsigned LongestMatch(Matcher& m, unsigned cur_match) {
  unsigned chain_length = m.max_chain_length;
  const uint8_t* scan = m.window + m.strstart;
  unsigned best_len = m.prev_length;
  const unsigned limit = m.strstart > kMaxDist ? m.strstart - kMaxDist : 0;
  if (m.prev_length >= m.good_match) chain_length >>= 2;
  if (m.strstart > m.window_size - kMinLookahead) m.errors->Record("insufficient lookahead");

  do {
    if (cur_match >= m.strstart) m.errors->Record("no future");
    const uint8_t* match = m.window + cur_match;
    if (match[best_len] != scan[best_len] || match[best_len - 1] != scan[best_len - 1] ||
        match[0] != scan[0] || match[1] != scan[1]) {
      continue;
    }
    // Byte 2 is equal whenever bytes 0 and 1 are: the chain holds strings
    // of one hash value, and the hash of three bytes determines the third.
    unsigned len = 3;
    while (len < kMaxMatch && scan[len] == match[len]) len++;
    if (m.strstart + len > m.window_size - 1) m.errors->Record("wild scan");
    if (len > best_len) {
      m.match_start = cur_match;
      best_len = len;
      if (len >= m.nice_match) break;
    }
  } while ((cur_match = m.prev[cur_match & kWMask]) > limit && --chain_length != 0);
  return best_len;
}

}  // namespace deflate
}  // namespace postrunner
