// Sizes and constant tables of the DEFLATE compressor: the format's own
// tables (extra bits, code-length send order), the fixed sizes of the
// matcher's window and hash, and the parameter row of each level.
#ifndef POSTRUNNER_DEFLATE_DEFLATE_TABLES_H_
#define POSTRUNNER_DEFLATE_DEFLATE_TABLES_H_

#include <cstdint>

namespace postrunner {
namespace deflate {

// Matcher.
inline constexpr unsigned kMinMatch = 3;
inline constexpr unsigned kMaxMatch = 258;
inline constexpr unsigned kWSize = 32768;  // greatest window distance
inline constexpr unsigned kWMask = kWSize - 1;
inline constexpr unsigned kWindowBytes = 2 * kWSize;
// Lookahead the matcher wants before searching: a whole match plus the
// string that follows it.
inline constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
inline constexpr unsigned kMaxDist = kWSize - kMinLookahead;          // 32506
// A 3-byte match farther back than this costs more than its literals.
inline constexpr unsigned kTooFar = 4096;
inline constexpr unsigned kHashBits = 15;
inline constexpr unsigned kHashSize = 1u << kHashBits;
inline constexpr unsigned kHashMask = kHashSize - 1;
inline constexpr unsigned kHashShift = 5;  // three bytes fill the hash
// Bytes after the window that wide loads may touch; never data.
inline constexpr unsigned kWindowSlack = 16;
// The search's keyed chains: key lengths and the size of their hash.
inline constexpr int kKeyLevels = 4;
inline constexpr unsigned kKeyBytes[kKeyLevels] = {4, 6, 8, 16};
inline constexpr unsigned kMaxKeyBytes = 16;
static_assert(kKeyBytes[kKeyLevels - 1] == kMaxKeyBytes, "the longest key comes last");
inline constexpr unsigned kHashLongBits = 15;
inline constexpr unsigned kHashLongSize = 1u << kHashLongBits;
inline constexpr unsigned kTriHashBits = 16;
inline constexpr unsigned kTriHashSize = 1u << kTriHashBits;

// Block recorder and trees.
inline constexpr int kMaxBits = 15;    // longest literal/length or distance code
inline constexpr int kMaxBlBits = 7;   // longest bit-length code
inline constexpr int kLengthCodes = 29;
inline constexpr int kLiterals = 256;
inline constexpr int kEndBlock = 256;
inline constexpr int kLCodes = kLiterals + 1 + kLengthCodes;  // 286
inline constexpr int kDCodes = 30;
inline constexpr int kBlCodes = 19;
inline constexpr int kHeapSize = 2 * kLCodes + 1;  // 573: leaves and inner nodes
inline constexpr int kStaticLCodes = kLCodes + 2;  // 288 in the fixed tree
inline constexpr unsigned kLitBufSize = 0x8000;
inline constexpr unsigned kDistBufSize = 0x8000;
inline constexpr int kRep3To6 = 16;     // repeat previous length 3..6 times
inline constexpr int kRepZero3To10 = 17;
inline constexpr int kRepZero11To138 = 18;

// Block types (the value sent is type * 2 + last-block bit).
inline constexpr unsigned kStoredBlock = 0;
inline constexpr unsigned kStaticTrees = 1;
inline constexpr unsigned kDynTrees = 2;

// Output transfer buffer.
inline constexpr unsigned kOutBufSize = 16384;

inline constexpr uint8_t kExtraLBits[kLengthCodes] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr uint8_t kExtraDBits[kDCodes] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8,
    9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
inline constexpr uint8_t kExtraBlBits[kBlCodes] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
// Order in which the bit-length code lengths are sent.
inline constexpr uint8_t kBlOrder[kBlCodes] = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct LevelConfig {
  unsigned good_length;  // above this previous length, search a quarter of the chain
  unsigned max_lazy;     // no lazy search once the previous match is this long
  unsigned nice_length;  // stop searching at a match this long
  unsigned max_chain;    // candidates examined at most
};

inline constexpr LevelConfig kLevelTable[10] = {
    {0, 0, 0, 0},         {4, 4, 8, 4},       {4, 5, 16, 8},      {4, 6, 32, 32},
    {4, 4, 16, 16},       {8, 16, 32, 32},    {8, 16, 128, 128},  {8, 32, 128, 256},
    {32, 128, 258, 1024}, {32, 258, 258, 4096}};

// Levels this compressor runs: the lazy matcher. Levels 1 to 3 would use a
// greedy variant and level 9 is refused; all of them fail with
// "bad pack level".
inline constexpr int kMinLevel = 4;
inline constexpr int kMaxLevel = 8;

}  // namespace deflate
}  // namespace postrunner

#endif  // POSTRUNNER_DEFLATE_DEFLATE_TABLES_H_
