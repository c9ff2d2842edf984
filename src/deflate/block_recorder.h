// Block recorder and emitter: collects the literals and matches the matcher
// finds, decides when a block should end, and writes each block as a stored,
// fixed-code or dynamic-code DEFLATE block through the bit writer, whichever
// is smallest. Keeps the compressed length, which is the entry's compressed
// size.
#ifndef POSTRUNNER_DEFLATE_BLOCK_RECORDER_H_
#define POSTRUNNER_DEFLATE_BLOCK_RECORDER_H_

#include <cstdint>

#include "deflate/bit_writer.h"
#include "deflate/deflate_tables.h"
#include "deflate/error_slot.h"
#include "deflate/huffman_tree.h"

namespace postrunner {
namespace deflate {

class BlockRecorder {
 public:
  // `out` and `errors` must outlive the recorder. `level` enables the early
  // block end (levels above 2).
  BlockRecorder(BitWriter* out, ErrorSlot* errors, int level);
  BlockRecorder(const BlockRecorder&) = delete;
  BlockRecorder& operator=(const BlockRecorder&) = delete;

  // Builds the length and distance code tables and the fixed trees, and
  // starts the first block.
  void Init();

  // Records a literal (dist 0, lc the byte) or a match (dist >= 1, lc =
  // length - 3). `block_input` is the count of input bytes since the block
  // started. Returns true when the block should end now.
  [[nodiscard]] bool Tally(unsigned dist, unsigned lc, int64_t block_input) {
    if (dist != 0) return TallyMatch(dist, lc, block_input);
    // Literals, most symbols, stay inline.
    l_buf_[last_lit_++] = static_cast<uint8_t>(lc);
    dyn_ltree_.freq[lc]++;
    flag_bit_ <<= 1;
    return EndOfSymbol(block_input);
  }

  // Emits the current block and starts a new one. `input` points at the
  // block's input bytes, or is null when they have left the window (the
  // block then cannot be stored); `stored_len` is its length. A last block
  // is byte-aligned and the output handed over. Returns the compressed
  // length in whole bytes so far.
  [[nodiscard]] uint64_t FlushBlock(const uint8_t* input, uint64_t stored_len, bool last);

  // After a block that is not the last: sends an empty stored block, which
  // ends the output on a byte boundary and hands it over, so that another
  // stream's blocks may follow. Returns the compressed length in bytes.
  [[nodiscard]] uint64_t EndOnByteBoundary();

  // Compressed length so far in bits.
  [[nodiscard]] uint64_t compressed_bits() const { return compressed_len_; }

  // Distance code of a distance already decremented by one.
  [[nodiscard]] unsigned DCode(unsigned dist) const {
    return dist < 256 ? dist_code_[dist] : dist_code_[256 + (dist >> 7)];
  }

  // Lengths of the dynamic trees as last built (for tests).
  const CodeTree& literal_tree() const { return dyn_ltree_; }
  const CodeTree& distance_tree() const { return dyn_dtree_; }

 private:
  [[nodiscard]] bool TallyMatch(unsigned dist, unsigned lc, int64_t block_input);
  // After each symbol: closes a group of eight flags, and says whether the
  // block should end now.
  [[nodiscard]] bool EndOfSymbol(int64_t block_input) {
    if ((last_lit_ & 7) == 0) return EndFlagGroup(block_input);
    return BufferFull();
  }
  [[nodiscard]] bool EndFlagGroup(int64_t block_input);
  [[nodiscard]] bool BufferFull() const {
    return last_lit_ == kLitBufSize - 1 || last_dist_ == kDistBufSize;
  }
  void InitBlock();
  void ScanTree(const CodeTree& tree, int max_code);
  void SendTree(const CodeTree& tree, int max_code);
  [[nodiscard]] int BuildBlTree();
  void SendAllTrees(int lcodes, int dcodes, int blcodes);
  void CompressBlock(const uint16_t* lcode, const uint16_t* llen, const uint16_t* dcode,
                     const uint16_t* dlen);
  void SendCode(int c, const CodeTree& tree) { out_->SendBits(tree.code[c], tree.len[c]); }

  BitWriter* out_;
  ErrorSlot* errors_;
  int level_;
  TreeBuilder builder_;

  CodeTree dyn_ltree_ = {};
  CodeTree dyn_dtree_ = {};
  CodeTree bl_tree_ = {};
  StaticTree static_ltree_ = {};
  StaticTree static_dtree_ = {};
  TreeDesc l_desc_;
  TreeDesc d_desc_;
  TreeDesc bl_desc_;

  uint8_t length_code_[256] = {};
  int base_length_[kLengthCodes] = {};
  uint8_t dist_code_[512] = {};
  int base_dist_[kDCodes] = {};

  // Symbols of the current block.
  uint8_t l_buf_[kLitBufSize];
  uint16_t d_buf_[kDistBufSize];
  uint8_t flag_buf_[kLitBufSize / 8];
  unsigned last_lit_ = 0;
  unsigned last_dist_ = 0;
  unsigned last_flags_ = 0;
  unsigned flags_ = 0;
  unsigned flag_bit_ = 1;

  int64_t opt_len_ = 0;     // bits of the block with its own codes
  int64_t static_len_ = 0;  // bits of the block with the fixed codes
  uint64_t compressed_len_ = 0;  // bits
  uint64_t input_len_ = 0;
};

}  // namespace deflate
}  // namespace postrunner

#endif  // POSTRUNNER_DEFLATE_BLOCK_RECORDER_H_
