// The message text after DATA: dot-stuffing that holds across the pieces the
// text arrives in, blocks of bounded size, the end-of-data line.
#include "mail/smtp_data_writer.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace postrunner {
namespace {

TEST(SmtpDataWriter, DoublesLineStartDotsAcrossPiecesAndEndsTheData) {
  std::vector<std::string> blocks;
  SmtpDataWriter writer([&](const std::string& block) {
    blocks.push_back(block);
    return true;
  });
  // A line end split between pieces, a dot opening the next piece, a lone
  // LF (not a line end), and a last line without its line end.
  for (const char* piece : {".a\r", "\n", ".b\r\n", "c\n.d", "\r\n..e", "\r\nlast"}) {
    writer.Write(piece);
  }
  writer.Write(std::string(3 * kDataBlockBytes, 'x'));
  ASSERT_TRUE(writer.Finish());
  std::string sent;
  for (const std::string& b : blocks) {
    EXPECT_LE(b.size(), 2 * kDataBlockBytes);
    sent += b;
  }
  EXPECT_EQ(sent, "..a\r\n..b\r\nc\n.d\r\n...e\r\nlast" + std::string(3 * kDataBlockBytes, 'x') +
                      "\r\n.\r\n");
  EXPECT_GE(blocks.size(), 3u);
}

TEST(SmtpDataWriter, StopsSendingAfterAFailure) {
  int calls = 0;
  SmtpDataWriter writer([&](const std::string&) {
    ++calls;
    return false;
  });
  for (int i = 0; i < 3; ++i) writer.Write(std::string(kDataBlockBytes, 'y'));
  EXPECT_FALSE(writer.Finish());
  EXPECT_EQ(calls, 1);
}

// A text whose source failed half-way must never reach the server as a
// whole message: what was already sent stays, nothing more follows, not even
// the end-of-data line.
TEST(SmtpDataWriter, AbandonedTextGetsNoEndOfData) {
  std::string sent;
  SmtpDataWriter writer([&](const std::string& block) {
    sent += block;
    return true;
  });
  writer.Write(std::string(kDataBlockBytes + 10, 'z'));
  writer.Abandon("f.bin: gone");
  writer.Write("more\r\n");
  EXPECT_FALSE(writer.Finish());
  EXPECT_EQ(sent, std::string(kDataBlockBytes, 'z'));
  EXPECT_TRUE(writer.abandoned());
  EXPECT_EQ(writer.abandon_reason(), "f.bin: gone");
}

}  // namespace
}  // namespace postrunner
