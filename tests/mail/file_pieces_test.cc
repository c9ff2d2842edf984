// The text of a piece read from its file: the base64 lines of exactly its
// bytes, whatever the block boundaries; a stand-in as long; a file that
// shrank stops it. The piece size that fits a server's limit.
#include "mail/file_pieces.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "mail/base64.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

// The lines of the base64 text of `bytes`: 80 characters and CR LF each.
std::string Lines(std::string_view bytes) {
  const std::string text = EncodeBase64(bytes, TRUE);
  std::string lines;
  for (size_t at = 0; at < text.size(); at += 80) lines += text.substr(at, 80) + "\r\n";
  return lines;
}

TEST(FilePiecesTest, PieceTextIsTheLinesOfItsBytes) {
  TempDir dir;
  std::string data;
  for (int i = 0; i < 200000; ++i) data.push_back(static_cast<char>(i * 7919 % 253));
  const std::string path = dir.Write("f.bin", data);
  CBinaryFile file;
  ASSERT_GE(file.Open(path, kBinaryReadOnly), 0);
  // Pieces larger than a read block, their last line short.
  const FilePieces pieces{&file, "f.bin", 200000, 123456, "id", "application/x-f"};
  EXPECT_EQ(PieceSubject(pieces, 2), "f.bin (part 2 of 2)");
  EXPECT_EQ(PartialContentType(pieces, 1), "message/partial; id=id; number=1; total=2");
  for (int64_t k : {1, 2}) {
    std::string text;
    int error = -1;
    ASSERT_TRUE(WritePieceBase64(pieces, k, [&](std::string_view t) { text += t; }, &error));
    EXPECT_EQ(text, Lines(std::string_view(data).substr((k - 1) * 123456, 123456))) << k;
    std::string stand_in;
    WritePieceStandIn(pieces, k, [&](std::string_view t) { stand_in += t; });
    EXPECT_EQ(stand_in.size(), text.size());
    EXPECT_EQ(stand_in.find('.'), std::string::npos);
  }
  EXPECT_EQ(file.Tell(), 0);  // read by position; the file's own stays

  ASSERT_EQ(::truncate(path.c_str(), 150000), 0);  // the file shrank
  int error = -1;
  EXPECT_FALSE(WritePieceBase64(pieces, 2, [](std::string_view) {}, &error));
  EXPECT_EQ(error, 0);
  file.Close();
  EXPECT_FALSE(WritePieceBase64(pieces, 1, [](std::string_view) {}, &error));
  EXPECT_EQ(error, EBADF);
}

// A piece sized for a SIZE limit: its lines as long as the real ones, the
// piece the largest that fits (3 bytes more do not), none when the frame
// alone fills the limit; a 300 MiB file to a server taking 35,882,577
// bytes, with a few KiB of header, goes in 12 pieces.
TEST(FilePiecesTest, PieceSizedForALimitIsTheLargestThatFits) {
  std::string data(4000, 'x');
  for (size_t n : {0, 1, 59, 60, 61, 120, 3999}) {
    EXPECT_EQ(Base64LinesBytes(static_cast<int64_t>(n)), Lines(data.substr(0, n)).size()) << n;
  }
  for (uint64_t limit : {1000u, 1082u, 1083u, 200000u, 35882577u}) {
    const uint64_t frame = 1000;
    const int64_t piece = LargestFittingPiece(limit, frame);
    EXPECT_EQ(piece % 3, 0);
    EXPECT_LE(frame + Base64LinesBytes(piece), limit) << limit;
    EXPECT_GT(frame + Base64LinesBytes(piece + 3), limit) << limit;
  }
  EXPECT_EQ(LargestFittingPiece(1000, 1000), 0);
  EXPECT_EQ(LargestFittingPiece(1005, 1000), 0);  // 4 characters and CR LF: 6 bytes
  EXPECT_EQ(LargestFittingPiece(1006, 1000), 3);
  EXPECT_LE(PieceCount(int64_t{300} << 20, LargestFittingPiece(35882577, 4096)), 12);
}

}  // namespace
}  // namespace postrunner
