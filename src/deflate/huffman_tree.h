// Huffman tree construction for one block: code lengths limited to a
// maximum, the cost of the block under these codes and under the fixed
// codes, and canonical codes from the lengths.
//
// Ties between equal frequencies decide the bytes of nearly every dynamic
// block, so the heap follows one exact discipline (see TreeBuilder::Build).
#ifndef POSTRUNNER_DEFLATE_HUFFMAN_TREE_H_
#define POSTRUNNER_DEFLATE_HUFFMAN_TREE_H_

#include <cstdint>

#include "deflate/deflate_tables.h"
#include "deflate/error_slot.h"

namespace postrunner {
namespace deflate {

// A dynamic tree: leaves 0 .. elems-1, then the inner nodes built for the
// current block.
struct CodeTree {
  uint32_t freq[kHeapSize];
  uint16_t code[kHeapSize];  // bit-reversed, ready to send
  uint16_t len[kHeapSize];
  uint16_t dad[kHeapSize];
};

// A fixed tree (the literal/length tree has 288 codes).
struct StaticTree {
  uint16_t code[kStaticLCodes];
  uint16_t len[kStaticLCodes];
};

struct TreeDesc {
  CodeTree* tree;
  const StaticTree* static_tree;  // null for the bit-length tree
  const uint8_t* extra_bits;      // per code from extra_base on
  int extra_base;
  int elems;       // number of leaves
  int max_length;  // longest allowed code
  int max_code = -1;  // largest code with a non-zero frequency, set by Build
};

// Returns the low `len` bits of `code` in reverse order.
[[nodiscard]] unsigned BitReverse(unsigned code, int len);

// Assigns canonical codes (bit-reversed) to codes 0..max_code from their
// lengths, given the number of codes of each length in bl_count[0..15].
// Records "inconsistent bit counts" when the lengths do not form a complete
// code.
void GenCodes(uint16_t* code, const uint16_t* len, int max_code,
              const unsigned bl_count[kMaxBits + 1], ErrorSlot* errors);

class TreeBuilder {
 public:
  explicit TreeBuilder(ErrorSlot* errors) : errors_(errors) {}
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  // Builds the tree of desc->tree's frequencies (leaves 0..elems-1): sets
  // the lengths (at most max_length) and codes of the leaves and
  // desc->max_code, and adds the block's cost in bits under these codes to
  // *opt_len and under the fixed codes (if any) to *static_len. A tree with
  // fewer than two used codes gets dummy codes of frequency 1.
  void Build(TreeDesc* desc, int64_t* opt_len, int64_t* static_len);

 private:
  [[nodiscard]] bool Smaller(const CodeTree& tree, int n, int m) const {
    return tree.freq[n] < tree.freq[m] ||
           (tree.freq[n] == tree.freq[m] && depth_[n] <= depth_[m]);
  }
  void DownHeap(const CodeTree& tree, int k);
  void GenBitlen(TreeDesc* desc, int64_t* opt_len, int64_t* static_len);

  ErrorSlot* errors_;
  int heap_[kHeapSize];  // heap in [1, heap_len_], taken nodes in [heap_max_, kHeapSize)
  int heap_len_ = 0;
  int heap_max_ = 0;
  uint8_t depth_[kHeapSize] = {};
  unsigned bl_count_[kMaxBits + 1] = {};
};

}  // namespace deflate
}  // namespace postrunner

#endif  // POSTRUNNER_DEFLATE_HUFFMAN_TREE_H_
