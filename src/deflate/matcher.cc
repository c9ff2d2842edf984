#include "deflate/matcher.h"

#include <algorithm>
#include <iterator>
#include <cstring>

namespace postrunner {
namespace deflate {

long Matcher::Read(uint8_t* buffer, unsigned capacity) {
  long n = (*pull)(buffer, capacity);
  if (n > static_cast<long>(capacity)) n = capacity;
  return n;
}

void Matcher::Init(int level, const DeflatePull* input, ErrorSlot* error_slot,
                   const uint8_t* dictionary, unsigned dictionary_size) {
  pull = input;
  errors = error_slot;
  window_size = kWindowBytes;
  sliding = true;
  // Reads near the end of the data may look at bytes past it; a reused
  // window must hold the zeros a new one would.
  std::memset(window, 0, sizeof window);
  std::fill(std::begin(slot), std::end(slot), HashSlot{});
  for (auto& heads : key_head) std::fill(std::begin(heads), std::end(heads), 0);
  std::fill(std::begin(tri_head), std::end(tri_head), 0);

  const LevelConfig& config = kLevelTable[level];
  good_match = config.good_length;
  max_lazy_match = config.max_lazy;
  nice_match = config.nice_length;
  max_chain_length = config.max_chain;

  // The dictionary, when there is one, fills the window up to the input.
  const unsigned preset = std::min(dictionary_size, kWSize);
  if (preset != 0) std::memcpy(window, dictionary + (dictionary_size - preset), preset);
  strstart = preset;
  key_next = 0;
  block_start = preset;
  long n = Read(window + preset, kWindowBytes - preset);
  if (n <= 0) {
    eofile = true;
    lookahead = 0;
    return;
  }
  eofile = false;
  lookahead = static_cast<unsigned>(n);
  if (lookahead < kMinLookahead) FillWindow();
  if (preset != 0) LoadDictionary(preset);

  ins_h = 0;
  for (unsigned j = 0; j < kMinMatch - 1; j++) UpdateHash(window[strstart + j]);
}

void Matcher::LoadDictionary(unsigned preset) {
  // A string joins the chains only once its three bytes are in the window:
  // the search takes the third byte of a chain's candidates as equal.
  const unsigned known = preset + lookahead;
  const unsigned end = std::min(preset, known >= kMinMatch - 1 ? known - (kMinMatch - 1) : 0);
  ins_h = 0;
  for (unsigned j = 0; j < kMinMatch - 1; j++) UpdateHash(window[j]);
  InsertRange(0, end);
}

namespace {

// Copies `size` chain entries from `from` to `to` (the same table, or its
// upper half to its lower), moved down with the window; those that leave it
// become 0.
void RebaseInto(uint16_t* to, const uint16_t* from, unsigned size) {
  for (unsigned n = 0; n < size; n++) {
    unsigned m = from[n];
    to[n] = static_cast<uint16_t>(m >= kWSize ? m - kWSize : 0);
  }
}

void Rebase(uint16_t* table, unsigned size) { RebaseInto(table, table, size); }

}  // namespace

void Matcher::FillWindow() {
  do {
    unsigned more = window_size - lookahead - strstart;
    if (strstart >= kWSize + kMaxDist && sliding) {
      // Keep the upper half as the new lower half; positions that leave the
      // window drop out of the chains. Inserted positions whose keys are
      // complete join the keyed chains first; the others wait for their
      // bytes.
      InsertKeysTo(std::min(strstart, KeysFinal()));
      std::memcpy(window, window + kWSize, kWSize);
      match_start -= kWSize;
      strstart -= kWSize;
      block_start -= kWSize;
      for (HashSlot& hs : slot) {
        hs.head = static_cast<uint16_t>(hs.head >= kWSize ? hs.head - kWSize : 0);
      }
      Rebase(prev, kWSize);
      SlideKeys();
      more += kWSize;
    }
    if (eofile) return;
    if (more < 2) errors->Record("more < 2");

    long n = Read(window + strstart + lookahead, more);
    if (n <= 0) {
      eofile = true;
    } else {
      lookahead += static_cast<unsigned>(n);
    }
  } while (lookahead < kMinLookahead && !eofile);
}

void Matcher::SlideKeys() {
  for (auto& heads : key_head) Rebase(heads, kHashLongSize);
  for (auto& links : key_prev) RebaseInto(links, links + kWSize, kWSize);
  Rebase(tri_head, kTriHashSize);
  RebaseInto(tri_prev, tri_prev + kWSize, kWSize);
  key_next -= kWSize;
}

uint64_t Matcher::FlushBlock(BlockRecorder* recorder, bool last) {
  const uint8_t* input = block_start >= 0 ? window + block_start : nullptr;
  return recorder->FlushBlock(input, static_cast<uint64_t>(strstart - block_start), last);
}

void Matcher::FlushIfFull(bool full, BlockRecorder* recorder) {
  if (!full) return;
  // The running compressed size is wanted only after the last block.
  (void)FlushBlock(recorder, false);
  block_start = strstart;
}

uint64_t Matcher::DeflateLazy(BlockRecorder* recorder, const BitWriter& out,
                              LongestMatchFn search, bool final) {
  unsigned prev_match;
  bool match_available = false;
  unsigned match_length = kMinMatch - 1;

  while (lookahead != 0) {
    if (out.failed()) return 0;
    unsigned hash_head = 0;
    if (lookahead >= kMinMatch) hash_head = InsertString(strstart);

    prev_length = match_length;
    prev_match = match_start;
    match_length = kMinMatch - 1;

    if (hash_head != 0 && prev_length < max_lazy_match && strstart - hash_head <= kMaxDist) {
      // Never look past the end of the input for a match worth stopping at.
      if (nice_match > lookahead) nice_match = lookahead;
      match_length = search(*this, hash_head);
      if (match_length > lookahead) match_length = lookahead;
      // A 3-byte match far back costs more than three literals.
      if (match_length == kMinMatch && strstart - match_start > kTooFar) match_length--;
    }

    if (prev_length >= kMinMatch && match_length <= prev_length) {
      // The match at the previous position wins; take it.
      bool flush = recorder->Tally(strstart - 1 - prev_match, prev_length - kMinMatch,
                                   static_cast<int64_t>(strstart) - block_start);
      // Insert the strings it covers, but none that run past the input.
      unsigned max_insert = strstart + lookahead - kMinMatch;
      lookahead -= prev_length - 1;
      unsigned end = strstart + prev_length - 1;  // the position after the match
      InsertRange(strstart + 1, std::min(end, max_insert + 1));
      strstart = end;
      match_available = false;
      match_length = kMinMatch - 1;
      FlushIfFull(flush, recorder);
    } else if (match_available) {
      // No better match here: the previous byte goes out as a literal.
      FlushIfFull(recorder->Tally(0, window[strstart - 1],
                                  static_cast<int64_t>(strstart) - block_start),
                  recorder);
      strstart++;
      lookahead--;
    } else {
      // Wait one byte to see whether the next position matches better.
      match_available = true;
      strstart++;
      lookahead--;
    }

    if (lookahead < kMinLookahead) FillWindow();
  }
  if (out.failed()) return 0;
  if (match_available) {
    // Whether this block is full does not matter: it is the last, flushed next.
    (void)recorder->Tally(0, window[strstart - 1], static_cast<int64_t>(strstart) - block_start);
  }
  if (final) return FlushBlock(recorder, true);
  (void)FlushBlock(recorder, false);
  return recorder->EndOnByteBoundary();
}

}  // namespace deflate
}  // namespace postrunner
