// The match search written as directly as possible: the plain chain walk
// the optimised search must equal. The unit tests and the compressor's fuzz
// target run the whole compressor with each and compare the bytes.
#ifndef POSTRUNNER_TESTS_DEFLATE_REFERENCE_MATCH_H_
#define POSTRUNNER_TESTS_DEFLATE_REFERENCE_MATCH_H_

#include "deflate/matcher.h"

namespace postrunner {
namespace deflate {

// Walks the chain from cur_match; keeps the first candidate of the greatest
// length (longer than prev_length), stops at nice_match, at the distance
// limit or when the chain budget runs out.
inline unsigned ReferenceLongestMatch(Matcher& m, unsigned cur_match) {
  unsigned chain = m.max_chain_length;
  if (m.prev_length >= m.good_match) chain >>= 2;
  const unsigned limit = m.strstart > kMaxDist ? m.strstart - kMaxDist : 0;
  unsigned best = m.prev_length;
  const uint8_t* scan = m.window + m.strstart;
  do {
    const uint8_t* match = m.window + cur_match;
    if (match[best] != scan[best] || match[best - 1] != scan[best - 1] || match[0] != scan[0] ||
        match[1] != scan[1]) {
      continue;
    }
    unsigned len = 2;
    while (len < kMaxMatch && match[len] == scan[len]) len++;
    if (len > best) {
      m.match_start = cur_match;
      best = len;
      if (len >= m.nice_match) break;
    }
  } while ((cur_match = m.prev[cur_match & kWMask]) > limit && --chain != 0);
  return best;
}

}  // namespace deflate
}  // namespace postrunner

#endif  // POSTRUNNER_TESTS_DEFLATE_REFERENCE_MATCH_H_
