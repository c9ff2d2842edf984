// Deflating one big input on several threads with the same bytes on any
// thread count. The input is cut into pieces of kPieceBytes; each piece is
// compressed on its own with the last 32 KiB of the input before it as its
// dictionary, and every piece but the last ends on a byte boundary with an
// empty stored block that is not final, so the pieces' outputs joined in
// order are one DEFLATE stream. Where the cuts fall depends on the input
// alone, so the stream is the same whether one thread or many compress it.
//
// The caller's thread reads the input in order (a source that takes its
// CRC-32 on the way sees every byte in order), writes the joined output in
// order and compresses while it would otherwise wait; up to threads - 1
// more threads compress pieces side by side. At most two pieces per thread
// are in memory at once, each holding its input and its output: under
// 5 MiB per thread with the compressor's working state.
#ifndef POSTRUNNER_ZIP_PIECE_DEFLATE_H_
#define POSTRUNNER_ZIP_PIECE_DEFLATE_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "deflate/deflate.h"
#include "zip/archive.h"

namespace postrunner {

// Inputs of this many bytes or more are deflated in pieces; smaller ones as
// one stream, as before.
inline constexpr uint64_t kPieceThreshold = uint64_t{4} << 20;
// Input bytes of a piece (the last may be shorter).
inline constexpr size_t kPieceBytes = size_t{1} << 20;

// Fills up to `capacity` bytes of `buffer`; returns the count, 0 at the end
// of the input.
using PieceSourceRead = std::function<size_t(unsigned char* buffer, size_t capacity)>;
// Takes `length` bytes of output; false when they did not all go out.
using PieceSinkWrite = std::function<bool(const unsigned char* data, size_t length)>;

// Deflates everything `read` gives at `level` in pieces on at most `threads`
// threads (the caller's included; `own` is its compressor) and hands the
// stream to `write` in order. Adds the level's bits to `*general_flags` as
// DeflateCompress does. Returns ResultOk, ErrCompressor when a piece failed
// to compress (a compressor error, memory), or ErrSizeMismatch when `write`
// failed; nothing more is written after a failure.
[[nodiscard]]
ArchiveResult DeflateInPieces(Deflater* own, unsigned threads, int level, uint16_t* general_flags,
                              const PieceSourceRead& read, const PieceSinkWrite& write);

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_PIECE_DEFLATE_H_
