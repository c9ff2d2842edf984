#include "deflate/huffman_tree.h"

#include <algorithm>
#include <iterator>

namespace postrunner {
namespace deflate {

unsigned BitReverse(unsigned code, int len) {
  unsigned res = 0;
  do {
    res |= code & 1;
    code >>= 1;
    res <<= 1;
  } while (--len > 0);
  return res >> 1;
}

void GenCodes(uint16_t* code, const uint16_t* len, int max_code,
              const unsigned bl_count[kMaxBits + 1], ErrorSlot* errors) {
  unsigned next_code[kMaxBits + 1];
  unsigned c = 0;
  for (int bits = 1; bits <= kMaxBits; bits++) {
    c = (c + bl_count[bits - 1]) << 1;
    next_code[bits] = c;
  }
  if (c + bl_count[kMaxBits] - 1 != (1u << kMaxBits) - 1) {
    errors->Record("inconsistent bit counts");
  }
  for (int n = 0; n <= max_code; n++) {
    int l = len[n];
    if (l == 0) continue;
    code[n] = static_cast<uint16_t>(BitReverse(next_code[l]++, l));
  }
}

// Sifts the node at heap position k down until both children are not
// smaller. Among two equal children the left one is taken.
void TreeBuilder::DownHeap(const CodeTree& tree, int k) {
  int v = heap_[k];
  int j = k << 1;
  while (j <= heap_len_) {
    if (j < heap_len_ && Smaller(tree, heap_[j + 1], heap_[j])) j++;
    if (Smaller(tree, v, heap_[j])) break;
    heap_[k] = heap_[j];
    k = j;
    j <<= 1;
  }
  heap_[k] = v;
}

// Gives every node its depth from the root, capped at max_length, then mends
// an over-long tree by moving leaves until the lengths form a complete code
// again. Every capped node is counted, inner nodes included: counting leaves
// alone runs the mending too few rounds when a capped subtree hangs three or
// more levels below the maximum, and leaves the code over-subscribed.
void TreeBuilder::GenBitlen(TreeDesc* desc, int64_t* opt_len, int64_t* static_len) {
  CodeTree& tree = *desc->tree;
  const int max_code = desc->max_code;
  const int max_length = desc->max_length;
  int overflow = 0;

  std::fill(std::begin(bl_count_), std::end(bl_count_), 0u);

  // Walk the taken nodes from the root down; a parent comes before its
  // children in this order.
  tree.len[heap_[heap_max_]] = 0;
  int h;
  for (h = heap_max_ + 1; h < kHeapSize; h++) {
    int n = heap_[h];
    int bits = tree.len[tree.dad[n]] + 1;
    if (bits > max_length) {
      bits = max_length;
      overflow++;
    }
    tree.len[n] = static_cast<uint16_t>(bits);
    if (n > max_code) continue;  // inner node
    bl_count_[bits]++;
    int xbits = n >= desc->extra_base ? desc->extra_bits[n - desc->extra_base] : 0;
    int64_t f = tree.freq[n];
    *opt_len += f * (bits + xbits);
    if (desc->static_tree != nullptr) *static_len += f * (desc->static_tree->len[n] + xbits);
  }
  if (overflow == 0) return;

  do {
    int bits = max_length - 1;
    while (bl_count_[bits] == 0) bits--;
    bl_count_[bits]--;         // one leaf moves down a level
    bl_count_[bits + 1] += 2;  // and takes a capped leaf as its brother
    bl_count_[max_length]--;
    overflow -= 2;
  } while (overflow > 0);

  // Hand the lengths out again, longest first, to the leaves in the order
  // they left the heap (least frequent first).
  for (int bits = max_length; bits != 0; bits--) {
    unsigned n = bl_count_[bits];
    while (n != 0) {
      int m = heap_[--h];
      if (m > max_code) continue;
      if (tree.len[m] != bits) {
        *opt_len += (static_cast<int64_t>(bits) - tree.len[m]) * tree.freq[m];
        tree.len[m] = static_cast<uint16_t>(bits);
      }
      n--;
    }
  }
}

void TreeBuilder::Build(TreeDesc* desc, int64_t* opt_len, int64_t* static_len) {
  CodeTree& tree = *desc->tree;
  const int elems = desc->elems;
  int max_code = -1;

  heap_len_ = 0;
  heap_max_ = kHeapSize;
  for (int n = 0; n < elems; n++) {
    if (tree.freq[n] != 0) {
      heap_[++heap_len_] = max_code = n;
      depth_[n] = 0;
    } else {
      tree.len[n] = 0;
    }
  }

  // A code needs at least two codes; unused dummies get frequency 1 and are
  // taken out of the cost again.
  while (heap_len_ < 2) {
    int node = max_code < 2 ? ++max_code : 0;
    heap_[++heap_len_] = node;
    tree.freq[node] = 1;
    depth_[node] = 0;
    *opt_len -= 1;
    if (desc->static_tree != nullptr) *static_len -= desc->static_tree->len[node];
  }
  desc->max_code = max_code;

  for (int n = heap_len_ / 2; n >= 1; n--) DownHeap(tree, n);

  int node = elems;  // inner nodes are numbered from here
  do {
    int n = heap_[1];  // least frequent
    heap_[1] = heap_[heap_len_--];
    DownHeap(tree, 1);
    int m = heap_[1];  // next least frequent

    heap_[--heap_max_] = n;
    heap_[--heap_max_] = m;

    tree.freq[node] = tree.freq[n] + tree.freq[m];
    depth_[node] = static_cast<uint8_t>(std::max(depth_[n], depth_[m]) + 1);
    tree.dad[n] = tree.dad[m] = static_cast<uint16_t>(node);

    heap_[1] = node++;
    DownHeap(tree, 1);
  } while (heap_len_ >= 2);

  heap_[--heap_max_] = heap_[1];

  GenBitlen(desc, opt_len, static_len);
  GenCodes(tree.code, tree.len, max_code, bl_count_, errors_);
}

}  // namespace deflate
}  // namespace postrunner
