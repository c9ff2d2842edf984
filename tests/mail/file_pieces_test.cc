// The text of a piece read from its file: the base64 lines of exactly its
// bytes, whatever the block boundaries; a stand-in as long; a file that
// shrank stops it.
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

}  // namespace
}  // namespace postrunner
