// Attachments: kinds, content-type lines, part ids, and the MIME database
// lookup behind them.
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "mail/content_type.h"
#include "mail/mail_message.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

// Points the MIME database at a file of the test's own (none by default).
class AttachmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("POSTRUNNER_MIME_TYPES", dir_.Path("mime.types").c_str(), 1);
    ::setenv("POSTRUNNER_MACHINE_REGISTRY", "", 1);
  }
  void TearDown() override {
    ::unsetenv("POSTRUNNER_MIME_TYPES");
    ::unsetenv("POSTRUNNER_MACHINE_REGISTRY");
  }
  void MimeTypes(const std::string& text) { dir_.Write("mime.types", text); }

  TempDir dir_;
  CQXMailMessage message_;
};

TEST_F(AttachmentTest, FallbacksWithoutADatabase) {
  EXPECT_EQ(LookupContentType("report.zip"), "application/x-zip-compressed");
  EXPECT_EQ(LookupContentType("REPORT.Zip"), "application/x-zip-compressed");
  EXPECT_EQ(LookupContentType("README"), "application/unknown");
  EXPECT_EQ(LookupContentType("a.zip.txt"), "application/unknown");
  EXPECT_EQ(LookupContentType(""), "application/unknown");
}

TEST_F(AttachmentTest, DatabaseLookup) {
  MimeTypes(
      "# comment\n"
      "application/zip zip\n"
      "text/x-first qqq\n"
      "text/x-second rrr qqq sss\n"
      "text/x-third sss\n");
  EXPECT_EQ(LookupContentType("a.zip"), "application/zip");
  EXPECT_EQ(LookupContentType("a.ZIP"), "application/zip");  // extension case ignored
  EXPECT_EQ(LookupContentType("a.qqq"), "text/x-first");
  EXPECT_EQ(LookupContentType("a.sss"), "text/x-third");  // first extension wins first
  EXPECT_EQ(LookupContentType("a.rrr"), "text/x-second");
  EXPECT_EQ(LookupContentType("a.unknown"), "application/unknown");
}

TEST_F(AttachmentTest, NamedFileAttachment) {
  std::string path = dir_.Write("report.zip", "PK");
  std::string part_id = "untouched";
  EXPECT_EQ(message_.AddAttachment(path, "report.zip", part_id, TRUE, "", TRUE), 1);
  EXPECT_EQ(part_id, "part1.1V02Corvuspost");
  EXPECT_EQ(message_.attachments()[0].encoded, "UEs=");
  EXPECT_EQ(message_.attachments()[0].content_type, "Content-Type: application/x-zip-compressed");
  EXPECT_EQ(message_.attachments()[0].kind, AK_FILE);
  EXPECT_EQ(message_.attachments()[0].name, "report.zip");
  EXPECT_EQ(message_.attachments()[0].size, 2u);
}

TEST_F(AttachmentTest, GivenContentTypeIsUsedAsItIs) {
  std::string path = dir_.Write("piece", "x");
  std::string part_id;
  EXPECT_EQ(message_.AddAttachment(path, "big.zip", part_id, TRUE,
                                   "message/partial; id=1; number=2; total=3", FALSE),
            1);
  EXPECT_EQ(message_.attachments()[0].content_type,
            "Content-Type: message/partial; id=1; number=2; total=3");
}

TEST_F(AttachmentTest, UnnamedImagesGetAnImageKind) {
  struct {
    const char* file;
    uint32_t kind;
  } cases[] = {{"x.JPG", AK_JPEG}, {"x.jpeg", AK_JPEG}, {"x.gif", AK_GIF},
               {"x.png.bmp", AK_BMP}, {"x.bmp.png", AK_BMP}, {"x.txt", AK_FILE}};
  for (auto& c : cases) {
    CQXMailMessage message;
    std::string part_id;
    ASSERT_EQ(message.AddAttachment(dir_.Write(c.file, "i"), "", part_id, TRUE, "", TRUE), 1);
    EXPECT_EQ(message.attachments()[0].kind, c.kind) << c.file;
    // An empty name has no extension to look up.
    EXPECT_EQ(message.attachments()[0].content_type, "Content-Type: application/unknown");
  }
  // The extension at the very start of the path does not count.
  CQXMailMessage message;
  std::string part_id;
  ::chdir(dir_.Path("").c_str());
  dir_.Write(".png", "i");
  ASSERT_EQ(message.AddAttachment(".png", "", part_id, TRUE, "", TRUE), 1);
  EXPECT_EQ(message.attachments()[0].kind, AK_FILE);
  ::chdir("/");
}

TEST_F(AttachmentTest, StringAttachmentsAreData) {
  std::string part_id;
  EXPECT_EQ(message_.AddAttachment("hello.png", "x.png", part_id, FALSE, "", TRUE), 1);
  EXPECT_EQ(message_.attachments()[0].kind, AK_DATA);
  EXPECT_EQ(message_.attachments()[0].encoded, "aGVsbG8ucG5n");
}

TEST_F(AttachmentTest, EmptyFileIsStillAnAttachment) {
  std::string part_id;
  EXPECT_EQ(message_.AddAttachment(dir_.Write("empty.zip", ""), "empty.zip", part_id, TRUE, "",
                                   TRUE),
            1);
  EXPECT_EQ(message_.attachments()[0].encoded, "");
}

TEST_F(AttachmentTest, UnreadableSourceAddsNothing) {
  std::string part_id;
  ASSERT_EQ(message_.AddAttachment(dir_.Write("a", "1"), "a", part_id, TRUE, "", TRUE), 1);
  ASSERT_EQ(::mkfifo(dir_.Path("fifo").c_str(), 0600), 0);
  for (std::string bad : {dir_.Path("missing"), dir_.Path("fifo"), dir_.Path("")}) {
    part_id = "kept";
    EXPECT_EQ(message_.AddAttachment(bad, "b", part_id, TRUE, "", TRUE), 0) << bad;
    EXPECT_EQ(part_id, "kept");
  }
  EXPECT_EQ(message_.attachments().size(), 1u);
  // A failed call does not use up a number.
  EXPECT_EQ(message_.AddAttachment(dir_.Write("c", "3"), "c", part_id, TRUE, "", TRUE), 2);
  EXPECT_EQ(part_id, "part2.1V02Corvuspost");
}

}  // namespace
}  // namespace postrunner
