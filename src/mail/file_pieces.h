// A file mailed in message/partial pieces (RFC 2046 section 5.2.2): how it
// is cut, what each piece's message is called, and the base64 text of a
// piece, read from the open file and encoded a block at a time while it is
// sent, so a piece is never copied to disk nor held whole in memory.
//
// Every piece but the last holds a multiple of three bytes, so the texts of
// all pieces, joined in order, are exactly the text of the whole file.
#ifndef POSTRUNNER_MAIL_FILE_PIECES_H_
#define POSTRUNNER_MAIL_FILE_PIECES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/binary_file.h"

namespace postrunner {

// The file of a split send and what all its pieces share. Not owned: the
// caller keeps the file open while pieces are sent.
struct FilePieces {
  // Open for reading; pieces are read by position, its own position stays.
  const CBinaryFile* file = nullptr;
  std::string name;        // the bare name: subjects, enclosed header, reasons
  int64_t size = 0;        // the whole file's bytes, measured when the send starts
  int64_t piece_size = 0;  // bytes per piece, a multiple of 3 (at least 3)
  std::string id;          // the id that ties the pieces together (partial_id.h)
  std::string content_type;  // the whole file's, which piece 1's enclosed header states
};

// The pieces of `file`, `size` bytes mailed as `name` from `sender`, at
// `piece_size` bytes each: with a fresh id and the content type looked up
// by the name (content_type.h).
FilePieces CutIntoPieces(const CBinaryFile& file, std::string name, int64_t size,
                         int64_t piece_size, const std::string& sender);

// The number of pieces a file of `size` bytes is cut into at `piece_size`
// bytes each (at least 1, also for an empty file), and the length of piece
// `number` (1-based; the last one holds what is left). `piece_size` > 0.
int64_t PieceCount(int64_t size, int64_t piece_size);
int64_t PieceLength(int64_t size, int64_t piece_size, int64_t number);

// The bytes of the base64 lines WritePieceBase64 hands over for a piece of
// `piece_bytes` bytes: the text (4 characters per 3 bytes, the last group
// padded) and CR LF after every kBase64LineLength characters and the last.
uint64_t Base64LinesBytes(int64_t piece_bytes);

// The largest piece size (a multiple of 3) whose message fits `limit`
// bytes when all of it but the piece's base64 lines takes `frame_bytes`:
// frame_bytes + Base64LinesBytes(piece) <= limit. 0 when not even 3 bytes
// fit. At most 2^50 whatever the limit.
int64_t LargestFittingPiece(uint64_t limit, uint64_t frame_bytes);

// "NAME (part K of N)": the subject of piece `number`.
std::string PieceSubject(const FilePieces& pieces, int64_t number);

// "message/partial; id=ID; number=K; total=N": the content type of piece
// `number`'s message.
std::string PartialContentType(const FilePieces& pieces, int64_t number);

// Receives consecutive parts of a text.
using PieceTextSink = std::function<void(std::string_view)>;

// Hands the base64 text of piece `number` to `sink` in lines of
// kBase64LineLength characters, each ending in CR LF, reading and encoding a
// block at a time. False when the piece could not be read in full: `*error`
// is then the errno of the failed read, or 0 when the file ended before the
// piece did (it shrank since it was measured).
bool WritePieceBase64(const FilePieces& pieces, int64_t number, const PieceTextSink& sink,
                      int* error);

// Hands `sink` a text of exactly the lines WritePieceBase64 would, with no
// line starting with ".", without reading the file: for measuring a message.
void WritePieceStandIn(const FilePieces& pieces, int64_t number, const PieceTextSink& sink);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_FILE_PIECES_H_
