// The matcher: a sliding window of 65536 bytes over the input, hash chains
// of 3-byte strings, and lazy evaluation of matches (levels 4 to 8). It hands
// each literal and match to the block recorder and ends blocks where the
// recorder asks.
//
// The match search is a plain function of the matcher's state so tests can
// run the whole compressor with a reference search and compare the bytes.
#ifndef POSTRUNNER_DEFLATE_MATCHER_H_
#define POSTRUNNER_DEFLATE_MATCHER_H_

#include <cstdint>
#include <cstring>

#include "deflate/block_recorder.h"
#include "deflate/deflate.h"
#include "deflate/deflate_tables.h"
#include "deflate/error_slot.h"

namespace postrunner {
namespace deflate {

struct Matcher;

// Searches the hash chain starting at `cur_match` for the longest match of
// the string at m.strstart, longer than m.prev_length; sets m.match_start to
// the first candidate giving the result's length and returns that length
// (m.prev_length when nothing longer is found). The length may run past the
// lookahead; the caller clips it.
using LongestMatchFn = unsigned (*)(Matcher& m, unsigned cur_match);

// The production search: same result as the plain chain walk, faster.
[[nodiscard]] unsigned LongestMatch(Matcher& m, unsigned cur_match);

struct Matcher {
  // Window first, then the chain and head tables, in one block. Window
  // positions are below 65536, so 16 bits hold them. The window has a few
  // bytes of slack after its 65536 so wide loads near its end stay inside
  // the array; they are never part of the data.
  uint8_t window[kWindowBytes + kWindowSlack] = {};
  // Chain entries are written when their position is inserted and read only
  // through the chains, so they need no clearing (nor do the key chains and
  // ranks below); the heads and the window start cleared for every entry.
  uint16_t prev[kWSize];  // previous position with the same hash, by position % 32768
  // Per 3-byte hash: the head of its chain (latest position; 0 = none) and,
  // for the search below, how many positions were inserted with it (modulo
  // 65536). Kept side by side so an insertion touches one cache line.
  struct HashSlot {
    uint16_t head;
    uint16_t inserted;
  };
  HashSlot slot[kHashSize] = {};

  // Search accelerator, beside the basic hash chains: more chains over
  // the same positions keyed by their first kKeyBytes[k] bytes (4, 6, 8, 16),
  // and for each position its rank among the insertions of its 3-byte hash. Once a
  // match of k - 1 bytes is in hand only candidates sharing k bytes can do
  // better, so the search follows these chains and uses the ranks to keep
  // the 3-byte chain's budget exactly.
  // Per key length, by window position: an entry stays put until the
  // window slides, so the chains can be filled ahead of the search.
  uint16_t key_prev[kKeyLevels][kWindowBytes];
  uint16_t key_head[kKeyLevels][kHashLongSize] = {};
  uint16_t rank[kWSize];  // modulo 65536: ranks compared lie within 32768 insertions
  // One more chain over the same positions, keyed by their first 3 bytes
  // with a better spread than the 3-byte hash: the search finds its first
  // candidate of 3 equal bytes here, past the 3-byte chain's collisions.
  uint16_t tri_prev[kWindowBytes];
  uint16_t tri_head[kTriHashSize] = {};

  unsigned window_size = 0;
  bool sliding = false;
  int64_t block_start = 0;  // negative once the window slid past it
  unsigned ins_h = 0;
  unsigned key_next = 0;  // first position not yet in the keyed chains
  unsigned strstart = 0;
  unsigned match_start = 0;
  unsigned prev_length = 0;
  unsigned lookahead = 0;
  bool eofile = false;

  unsigned good_match = 0;
  unsigned max_lazy_match = 0;
  unsigned nice_match = 0;
  unsigned max_chain_length = 0;

  ErrorSlot* errors = nullptr;
  const DeflatePull* pull = nullptr;

  void UpdateHash(uint8_t c) { ins_h = ((ins_h << kHashShift) ^ c) & kHashMask; }

  // Inserts the string at `s` into the 3-byte chain and returns the
  // previous head of its chain. The keyed chains follow in InsertKeys.
  [[nodiscard]] unsigned InsertString(unsigned s) {
    UpdateHash(window[s + kMinMatch - 1]);
    HashSlot& hs = slot[ins_h];
    unsigned hash_head = hs.head;
    prev[s & kWMask] = static_cast<uint16_t>(hash_head);
    hs.head = static_cast<uint16_t>(s);
    rank[s & kWMask] = ++hs.inserted;
    return hash_head;
  }

  // Inserts the strings at positions from..end-1 (none when end <= from):
  // InsertString over a run, with the hash kept in a register.
  void InsertRange(unsigned from, unsigned end) {
    unsigned h = ins_h;
    for (unsigned s = from; s < end; s++) {
      h = ((h << kHashShift) ^ window[s + kMinMatch - 1]) & kHashMask;
      HashSlot& hs = slot[h];
      prev[s & kWMask] = hs.head;
      hs.head = static_cast<uint16_t>(s);
      rank[s & kWMask] = ++hs.inserted;
    }
    ins_h = h;
  }

  // Inserts the positions from..end-1 into the keyed chains. Their key
  // bytes must be final: read from the input, or past its end for good. Keys
  // are taken this late because a position is inserted into the 3-byte
  // chain while up to 16 bytes of its key may not have been read yet; a key
  // hashed from those stale bytes would put the position on the wrong chain
  // and the search would miss it.
  void InsertKeys(unsigned from, unsigned end) {
    for (unsigned s = from; s < end; s++) {
      uint64_t w[2];
      std::memcpy(w, window + s, sizeof w);
      for (int k = 0; k < kKeyLevels; k++) {
        unsigned h = KeyHash(kKeyBytes[k], w);
        key_prev[k][s] = key_head[k][h];
        key_head[k][h] = static_cast<uint16_t>(s);
      }
      unsigned t = TriHash(w[0]);
      tri_prev[s] = tri_head[t];
      tri_head[t] = static_cast<uint16_t>(s);
    }
  }

  // Brings the keyed chains up to `end`: inserts the positions from
  // key_next to end-1 (none when end <= key_next), whose key bytes must be
  // final.
  void InsertKeysTo(unsigned end) {
    if (end <= key_next) return;
    InsertKeys(key_next, end);
    key_next = end;
  }

  // Moves the keyed chains down with the window by 32768 positions.
  void SlideKeys();

  // Positions below the result have final key bytes (see InsertKeys).
  [[nodiscard]] unsigned KeysFinal() const {
    unsigned data_end = strstart + lookahead;
    if (eofile) return data_end;
    return data_end >= kMaxKeyBytes ? data_end - (kMaxKeyBytes - 1) : 0;
  }

  // Hash of the first `bytes` bytes of w (4, 6, 8 or 16): the top bits of
  // the key times an odd constant, the key being the first bytes shifted to
  // the top of a word. Shifting the product instead is the same modulo 2^64,
  // so the 4-, 6- and 8-byte hashes share one multiplication.
  [[nodiscard]] static unsigned KeyHash(unsigned bytes, const uint64_t* w) {
    switch (bytes) {
      case 4: return TopBits((w[0] * kKeyMul) << 32);
      case 6: return TopBits((w[0] * kKeyMul) << 16);
      case 8: return TopBits(w[0] * kKeyMul);
      default: return TopBits((w[0] ^ (w[1] * 0xC2B2AE3D27D4EB4Full)) * kKeyMul);
    }
  }
  // Hash of the first 3 bytes of w0, kTriHashBits wide.
  [[nodiscard]] static unsigned TriHash(uint64_t w0) {
    return static_cast<unsigned>(((w0 * kKeyMul) << 40) >> (64 - kTriHashBits));
  }
  static constexpr uint64_t kKeyMul = 0x9E3779B97F4A7C15ull;
  [[nodiscard]] static unsigned TopBits(uint64_t product) {
    return static_cast<unsigned>(product >> (64 - kHashLongBits));
  }

  // Reads input so the lookahead reaches 262 bytes or the input ends,
  // sliding the window by 32768 bytes first when the position is near its
  // end.
  void FillWindow();

  // Initialises the matcher for `level` (4..8, checked by the caller):
  // window, tables, parameters, the dictionary (the last kWSize of its
  // `dictionary_size` bytes, none when 0), the first window of input and the
  // hash seed. A matcher may be initialised again for each new input; it
  // then behaves exactly as a new one.
  void Init(int level, const DeflatePull* input, ErrorSlot* error_slot,
            const uint8_t* dictionary = nullptr, unsigned dictionary_size = 0);

  // Runs the lazy matcher over the whole input; returns the compressed size
  // in bytes. Stops early when the output fails. With `final` the last
  // block is marked final; without, the output ends after an empty stored
  // block on a byte boundary, for more to follow.
  [[nodiscard]]
  uint64_t DeflateLazy(BlockRecorder* recorder, const BitWriter& out, LongestMatchFn search,
                       bool final = true);

 private:
  [[nodiscard]] uint64_t FlushBlock(BlockRecorder* recorder, bool last);
  // When the recorder reported its block `full`, emits it and starts the
  // next block at the current position.
  void FlushIfFull(bool full, BlockRecorder* recorder);
  // Inserts the strings of the `preset` dictionary bytes at the start of
  // the window, once the first input is in.
  void LoadDictionary(unsigned preset);
  [[nodiscard]] long Read(uint8_t* buffer, unsigned capacity);
};

// Runs the whole compressor with the given match search on a new matcher.
[[nodiscard]]
DeflateResult DeflateCompressWith(int level, uint16_t* general_flags, const DeflatePull& pull,
                                  const DeflatePush& push, LongestMatchFn search);

// Runs the whole compressor on `matcher`, which must not be in use
// elsewhere, for a run of `shape`.
[[nodiscard]]
DeflateResult RunDeflate(Matcher* matcher, int level, uint16_t* general_flags,
                         const DeflatePull& pull, const DeflatePush& push,
                         LongestMatchFn search, const DeflateRunShape& shape);

}  // namespace deflate
}  // namespace postrunner

#endif  // POSTRUNNER_DEFLATE_MATCHER_H_
