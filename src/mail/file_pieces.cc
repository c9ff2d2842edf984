#include "mail/file_pieces.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "mail/base64.h"
#include "mail/content_type.h"
#include "mail/partial_id.h"

namespace postrunner {
namespace {

// Bytes of the file one line of text holds, and bytes read and encoded at a
// time: whole lines, so the blocks' texts join line for line.
constexpr size_t kLineBytes = kBase64LineLength / 4 * 3;
constexpr size_t kBlockBytes = 1024 * kLineBytes;

}  // namespace

FilePieces CutIntoPieces(const CBinaryFile& file, std::string name, int64_t size,
                         int64_t piece_size, const std::string& sender) {
  FilePieces pieces;
  pieces.file = &file;
  pieces.content_type = LookupContentType(name);
  pieces.name = std::move(name);
  pieces.size = size;
  pieces.piece_size = piece_size;
  pieces.id = MakePartialId(CurrentPartialIdSources(), sender);
  return pieces;
}

int64_t PieceCount(int64_t size, int64_t piece_size) {
  return size <= 0 ? 1 : (size + piece_size - 1) / piece_size;
}

int64_t PieceLength(int64_t size, int64_t piece_size, int64_t number) {
  const int64_t offset = (number - 1) * piece_size;
  return std::max<int64_t>(0, std::min<int64_t>(piece_size, size - offset));
}

uint64_t Base64LinesBytes(int64_t piece_bytes) {
  if (piece_bytes <= 0) return 0;
  const uint64_t characters = (static_cast<uint64_t>(piece_bytes) + 2) / 3 * 4;
  const uint64_t lines = (characters + kBase64LineLength - 1) / kBase64LineLength;
  return characters + 2 * lines;
}

int64_t LargestFittingPiece(uint64_t limit, uint64_t frame_bytes) {
  if (frame_bytes >= limit) return 0;
  const uint64_t room = limit - frame_bytes;
  // Groups of 3 bytes; the text grows with every group, so the largest
  // fitting count is found by halving the range.
  int64_t low = 0;
  int64_t high = (int64_t{1} << 50) / 3;
  while (low < high) {
    const int64_t middle = low + (high - low + 1) / 2;
    if (Base64LinesBytes(middle * 3) <= room) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return low * 3;
}

std::string PieceSubject(const FilePieces& pieces, int64_t number) {
  return pieces.name + " (part " + std::to_string(number) + " of " +
         std::to_string(PieceCount(pieces.size, pieces.piece_size)) + ")";
}

std::string PartialContentType(const FilePieces& pieces, int64_t number) {
  return "message/partial; id=" + pieces.id + "; number=" + std::to_string(number) +
         "; total=" + std::to_string(PieceCount(pieces.size, pieces.piece_size));
}

bool WritePieceBase64(const FilePieces& pieces, int64_t number, const PieceTextSink& sink,
                      int* error) {
  const int64_t start = (number - 1) * pieces.piece_size;
  const int64_t end = start + PieceLength(pieces.size, pieces.piece_size, number);
  std::string block(kBlockBytes, '\0');
  std::string text;
  for (int64_t at = start; at < end; at += static_cast<int64_t>(kBlockBytes)) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(kBlockBytes, end - at));
    const ssize_t got = pieces.file->ReadAt(block.data(), want, at);
    if (got < 0 || static_cast<size_t>(got) < want) {
      *error = got < 0 ? errno : 0;
      return false;
    }
    text.clear();
    AppendBase64Lines(std::string_view(block.data(), want), &text);
    sink(text);
  }
  return true;
}

void WritePieceStandIn(const FilePieces& pieces, int64_t number, const PieceTextSink& sink) {
  static const std::string kLine = std::string(kBase64LineLength, 'A') + "\r\n";
  const int64_t length = PieceLength(pieces.size, pieces.piece_size, number);
  const int64_t lines = length / static_cast<int64_t>(kLineBytes);
  for (int64_t i = 0; i < lines; ++i) sink(kLine);
  const size_t rest = static_cast<size_t>(length % static_cast<int64_t>(kLineBytes));
  if (rest > 0) sink(std::string(EncodedBase64Length(rest), 'A') + "\r\n");
}

}  // namespace postrunner
