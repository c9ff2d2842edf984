#include "deflate/block_recorder.h"

#include <algorithm>

namespace postrunner {
namespace deflate {

BlockRecorder::BlockRecorder(BitWriter* out, ErrorSlot* errors, int level)
    : out_(out), errors_(errors), level_(level), builder_(errors) {
  l_desc_ = TreeDesc{&dyn_ltree_, &static_ltree_, kExtraLBits, kLiterals + 1, kLCodes, kMaxBits};
  d_desc_ = TreeDesc{&dyn_dtree_, &static_dtree_, kExtraDBits, 0, kDCodes, kMaxBits};
  bl_desc_ = TreeDesc{&bl_tree_, nullptr, kExtraBlBits, 0, kBlCodes, kMaxBlBits};
}

void BlockRecorder::Init() {
  compressed_len_ = 0;
  input_len_ = 0;

  // Length code of each match length - 3. Codes 0..27 take 2^extra lengths
  // each; length 258 then gets code 28 of its own instead of code 27 with
  // all extra bits set.
  int length = 0;
  int code;
  for (code = 0; code < kLengthCodes - 1; code++) {
    base_length_[code] = length;
    for (int n = 0; n < (1 << kExtraLBits[code]); n++) {
      length_code_[length++] = static_cast<uint8_t>(code);
    }
  }
  if (length != 256) errors_->Record("ct_init: length != 256");
  base_length_[code] = length - 1;
  length_code_[length - 1] = static_cast<uint8_t>(code);

  // Distance codes: 0..15 looked up by distance, 16..29 by distance / 128.
  int dist = 0;
  for (code = 0; code < 16; code++) {
    base_dist_[code] = dist;
    for (int n = 0; n < (1 << kExtraDBits[code]); n++) {
      dist_code_[dist++] = static_cast<uint8_t>(code);
    }
  }
  if (dist != 256) errors_->Record("ct_init: dist != 256");
  dist >>= 7;
  for (; code < kDCodes; code++) {
    base_dist_[code] = dist << 7;
    for (int n = 0; n < (1 << (kExtraDBits[code] - 7)); n++) {
      dist_code_[256 + dist++] = static_cast<uint8_t>(code);
    }
  }
  if (dist != 256) errors_->Record("ct_init: 256+dist != 512");

  // The fixed codes.
  unsigned bl_count[kMaxBits + 1] = {};
  int n = 0;
  while (n <= 143) static_ltree_.len[n++] = 8, bl_count[8]++;
  while (n <= 255) static_ltree_.len[n++] = 9, bl_count[9]++;
  while (n <= 279) static_ltree_.len[n++] = 7, bl_count[7]++;
  while (n <= 287) static_ltree_.len[n++] = 8, bl_count[8]++;
  GenCodes(static_ltree_.code, static_ltree_.len, kStaticLCodes - 1, bl_count, errors_);
  for (n = 0; n < kDCodes; n++) {
    static_dtree_.len[n] = 5;
    static_dtree_.code[n] = static_cast<uint16_t>(BitReverse(n, 5));
  }

  InitBlock();
}

void BlockRecorder::InitBlock() {
  std::fill_n(dyn_ltree_.freq, kLCodes, 0u);
  std::fill_n(dyn_dtree_.freq, kDCodes, 0u);
  std::fill_n(bl_tree_.freq, kBlCodes, 0u);
  dyn_ltree_.freq[kEndBlock] = 1;
  opt_len_ = static_len_ = 0;
  last_lit_ = last_dist_ = last_flags_ = 0;
  flags_ = 0;
  flag_bit_ = 1;
}

bool BlockRecorder::TallyMatch(unsigned dist, unsigned lc, int64_t block_input) {
  l_buf_[last_lit_++] = static_cast<uint8_t>(lc);
  dist--;
  unsigned dcode = DCode(dist & 0x7FFF);
  if (dist >= kMaxDist || lc > kMaxMatch - kMinMatch || dcode >= kDCodes) {
    errors_->Record("ct_tally: bad match");
  }
  dyn_ltree_.freq[length_code_[lc & 0xFF] + kLiterals + 1]++;
  dyn_dtree_.freq[dcode]++;
  d_buf_[last_dist_++] = static_cast<uint16_t>(dist);
  flags_ |= flag_bit_;
  flag_bit_ <<= 1;
  return EndOfSymbol(block_input);
}

bool BlockRecorder::EndFlagGroup(int64_t block_input) {
  flag_buf_[last_flags_++] = static_cast<uint8_t>(flags_);
  flags_ = 0;
  flag_bit_ = 1;
  // End the block early when it compresses well: estimate its size from
  // the symbols so far.
  if (level_ > 2 && (last_lit_ & 0xFFF) == 0) {
    uint64_t out_length = uint64_t{last_lit_} * 8;
    for (int dcode = 0; dcode < kDCodes; dcode++) {
      out_length += uint64_t{dyn_dtree_.freq[dcode]} * (5 + kExtraDBits[dcode]);
    }
    out_length >>= 3;
    uint64_t in_length = static_cast<uint64_t>(block_input);
    if (last_dist_ < last_lit_ / 2 && out_length < in_length / 2) return true;
  }
  return BufferFull();
}

namespace {

// Walks the code lengths of `tree` up to `max_code` as runs, the way they
// are sent with the run-length codes 16, 17 and 18: calls
// run(length, count, previous length, min_count) once for each run, where a
// run is cut at 7 repeats of a non-zero length (6 after it was sent once)
// and at 138 zeros, and a run shorter than min_count is sent length by
// length.
template <typename RunFn>
void ForEachLengthRun(const CodeTree& tree, int max_code, RunFn run) {
  int prevlen = -1;
  int nextlen = tree.len[0];
  int count = 0;
  int max_count = 7;
  int min_count = 4;
  if (nextlen == 0) max_count = 138, min_count = 3;
  for (int n = 0; n <= max_code; n++) {
    int curlen = nextlen;
    nextlen = n + 1 <= max_code ? tree.len[n + 1] : -1;  // the end differs from all
    if (++count < max_count && curlen == nextlen) continue;
    run(curlen, count, prevlen, min_count);
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      max_count = 138, min_count = 3;
    } else if (curlen == nextlen) {
      max_count = 6, min_count = 3;
    } else {
      max_count = 7, min_count = 4;
    }
  }
}

}  // namespace

// Counts in the bit-length tree how the code lengths of `tree` will be
// sent.
void BlockRecorder::ScanTree(const CodeTree& tree, int max_code) {
  ForEachLengthRun(tree, max_code, [&](int curlen, int count, int prevlen, int min_count) {
    if (count < min_count) {
      bl_tree_.freq[curlen] += count;
    } else if (curlen != 0) {
      if (curlen != prevlen) bl_tree_.freq[curlen]++;
      bl_tree_.freq[kRep3To6]++;
    } else if (count <= 10) {
      bl_tree_.freq[kRepZero3To10]++;
    } else {
      bl_tree_.freq[kRepZero11To138]++;
    }
  });
}

// Sends the code lengths of `tree` exactly as ScanTree counted them.
void BlockRecorder::SendTree(const CodeTree& tree, int max_code) {
  ForEachLengthRun(tree, max_code, [&](int curlen, int count, int prevlen, int min_count) {
    if (count < min_count) {
      do {
        SendCode(curlen, bl_tree_);
      } while (--count != 0);
    } else if (curlen != 0) {
      if (curlen != prevlen) {
        SendCode(curlen, bl_tree_);
        count--;
      }
      if (count < 3 || count > 6) errors_->Record(" 3_6?");
      SendCode(kRep3To6, bl_tree_);
      out_->SendBits(count - 3, 2);
    } else if (count <= 10) {
      SendCode(kRepZero3To10, bl_tree_);
      out_->SendBits(count - 3, 3);
    } else {
      SendCode(kRepZero11To138, bl_tree_);
      out_->SendBits(count - 11, 7);
    }
  });
}

// Builds the tree for sending the code lengths; returns the index in the
// send order of the last bit-length code to send.
int BlockRecorder::BuildBlTree() {
  ScanTree(dyn_ltree_, l_desc_.max_code);
  ScanTree(dyn_dtree_, d_desc_.max_code);
  builder_.Build(&bl_desc_, &opt_len_, &static_len_);
  int max_blindex;
  for (max_blindex = kBlCodes - 1; max_blindex >= 3; max_blindex--) {
    if (bl_tree_.len[kBlOrder[max_blindex]] != 0) break;
  }
  opt_len_ += 3 * (max_blindex + 1) + 5 + 5 + 4;
  return max_blindex;
}

void BlockRecorder::SendAllTrees(int lcodes, int dcodes, int blcodes) {
  if (lcodes < 257 || dcodes < 1 || blcodes < 4) errors_->Record("not enough codes");
  if (lcodes > kLCodes || dcodes > kDCodes || blcodes > kBlCodes) errors_->Record("too many codes");
  out_->SendBits(lcodes - 257, 5);
  out_->SendBits(dcodes - 1, 5);
  out_->SendBits(blcodes - 4, 4);
  for (int rank = 0; rank < blcodes; rank++) out_->SendBits(bl_tree_.len[kBlOrder[rank]], 3);
  SendTree(dyn_ltree_, lcodes - 1);
  SendTree(dyn_dtree_, dcodes - 1);
}

void BlockRecorder::CompressBlock(const uint16_t* lcode, const uint16_t* llen,
                                  const uint16_t* dcode, const uint16_t* dlen) {
  unsigned flag = 0;
  unsigned lx = 0, dx = 0, fx = 0;
  if (last_lit_ != 0) {
    do {
      if ((lx & 7) == 0) flag = flag_buf_[fx++];
      unsigned lc = l_buf_[lx++];
      if ((flag & 1) == 0) {
        out_->SendBits(lcode[lc], llen[lc]);
      } else {
        unsigned code = length_code_[lc];
        out_->SendBits(lcode[code + kLiterals + 1], llen[code + kLiterals + 1]);
        int extra = kExtraLBits[code];
        if (extra != 0) out_->SendBits(lc - base_length_[code], extra);
        unsigned dist = d_buf_[dx++];
        code = DCode(dist);
        if (code >= kDCodes) {
          errors_->Record("bad d_code");
          code = kDCodes - 1;
        }
        out_->SendBits(dcode[code], dlen[code]);
        extra = kExtraDBits[code];
        if (extra != 0) out_->SendBits(dist - base_dist_[code], extra);
      }
      flag >>= 1;
    } while (lx < last_lit_);
  }
  out_->SendBits(lcode[kEndBlock], llen[kEndBlock]);
}

uint64_t BlockRecorder::FlushBlock(const uint8_t* input, uint64_t stored_len, bool last) {
  flag_buf_[last_flags_] = static_cast<uint8_t>(flags_);

  builder_.Build(&l_desc_, &opt_len_, &static_len_);
  builder_.Build(&d_desc_, &opt_len_, &static_len_);
  int max_blindex = BuildBlTree();

  input_len_ += stored_len;

  uint64_t opt_lenb = static_cast<uint64_t>(opt_len_ + 3 + 7) >> 3;
  uint64_t static_lenb = static_cast<uint64_t>(static_len_ + 3 + 7) >> 3;
  if (static_lenb <= opt_lenb) opt_lenb = static_lenb;

  const unsigned eof = last ? 1 : 0;
  if (stored_len + 4 <= opt_lenb && input != nullptr) {
    out_->SendBits((kStoredBlock << 1) + eof, 3);
    compressed_len_ = (compressed_len_ + 3 + 7) & ~uint64_t{7};
    compressed_len_ += (stored_len + 4) << 3;
    out_->CopyStored(input, static_cast<unsigned>(stored_len));
  } else if (static_lenb == opt_lenb) {
    out_->SendBits((kStaticTrees << 1) + eof, 3);
    CompressBlock(static_ltree_.code, static_ltree_.len, static_dtree_.code, static_dtree_.len);
    compressed_len_ += 3 + static_cast<uint64_t>(static_len_);
  } else {
    out_->SendBits((kDynTrees << 1) + eof, 3);
    SendAllTrees(l_desc_.max_code + 1, d_desc_.max_code + 1, max_blindex + 1);
    CompressBlock(dyn_ltree_.code, dyn_ltree_.len, dyn_dtree_.code, dyn_dtree_.len);
    compressed_len_ += 3 + static_cast<uint64_t>(opt_len_);
  }
  if (compressed_len_ != out_->bits_sent()) errors_->Record("bad compressed size");

  InitBlock();
  if (last) {
    out_->Windup();
    compressed_len_ += 7;
  }
  return compressed_len_ >> 3;
}

uint64_t BlockRecorder::EndOnByteBoundary() {
  out_->SendBits(kStoredBlock << 1, 3);
  compressed_len_ = (compressed_len_ + 3 + 7) & ~uint64_t{7};
  compressed_len_ += 4 << 3;  // the length and its complement
  out_->CopyStored(nullptr, 0);
  if (compressed_len_ != out_->bits_sent()) errors_->Record("bad compressed size");
  return compressed_len_ >> 3;
}

}  // namespace deflate
}  // namespace postrunner
