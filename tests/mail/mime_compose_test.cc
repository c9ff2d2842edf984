// The exact text of composed messages.
#include <stdlib.h>
#include <time.h>

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mail/mail_message.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// Lines of `text`, the values of the Date line and of a well-formed
// Message-ID line replaced by "*".
std::vector<std::string> LinesWithoutDate(const std::string& text) {
  static const std::regex kMessageId("Message-ID: <[0-9]+\\.[0-9]+\\.[0-9a-f]{16}@[-.A-Za-z0-9]+>");
  std::vector<std::string> lines = Lines(text);
  for (std::string& line : lines) {
    if (line.rfind("Date: ", 0) == 0) line = "Date: *";
    if (std::regex_match(line, kMessageId)) line = "Message-ID: *";
  }
  return lines;
}

class ComposeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("POSTRUNNER_MIME_TYPES", "", 1);  // no MIME database
    ::setenv("POSTRUNNER_MACHINE_REGISTRY", "", 1);
    m_.SetSender("from@src.test");
    m_.AddReceiver("to@dst.test");
    m_.SetSubject("Veltrona Dropcart sent a.zip");
  }
  void TearDown() override {
    ::unsetenv("POSTRUNNER_MIME_TYPES");
    ::unsetenv("POSTRUNNER_MACHINE_REGISTRY");
  }
  // Adds a string attachment of `bytes` bytes.
  void Attach(size_t bytes, const std::string& name, const std::string& type = "") {
    std::string part_id;
    m_.AddAttachment(std::string(bytes, 'A'), name, part_id, FALSE, type, TRUE);
  }

  CQXMailMessage m_;
};

const std::vector<std::string> kTopHeader = {
    "Received: (Corvuspost build 1.0.2)", "From: from@src.test", "To: to@dst.test", "Date: *",
    "Subject: Veltrona Dropcart sent a.zip", "XMailer: Corvuspost 1.0.2", "X-Priority: 3",
    "MIME-Version: 1.0"};

// Base64 of 60 'A' bytes: one full line.
const std::string kLine = [] {
  std::string line;
  for (int i = 0; i < 20; ++i) line += "QUFB";
  return line;
}();

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(ComposeTest, HtmlMessageWithOneAttachment) {
  m_.SetMessageType(MT_HTML);
  m_.AddBodyText("<h4>hi</h4>");
  Attach(3, "a.zip");
  EXPECT_EQ(LinesWithoutDate(m_.ComposeMessage(0, TRUE)),
            Concat(kTopHeader,
                   {"Content-Type: multipart/mixed ;",
                    "              boundary=\"---------------1V02Corvuspost\"", "Message-ID: *",
                    "", "-----------------1V02Corvuspost", "Content-Type: text/html ;",
                    "              charset=\"us-ascii\"", "Content-Transfer-Encoding: 7bit", "",
                    "<h4>hi</h4>", "", "-----------------1V02Corvuspost",
                    "Content-Type: application/x-zip-compressed;", "     name=\"a.zip\"",
                    "Content-Transfer-Encoding: base64", "Content-Disposition: Attachment;",
                    "     size=3;", "     filename=\"a.zip\"", "", "QUFB", "", "",
                    "-----------------1V02Corvuspost--", ".", ""}));
}

// The enclosed header names the whole file; composing prints nothing (the
// dispatch prints the progress lines).
TEST_F(ComposeTest, FirstPieceCarriesTheInnerHeader) {
  m_.SetMessageType(MT_PARTIAL_FIRST);
  m_.AddBodyText("not sent");
  Attach(60, "a.zip", "message/partial; id=12345a.b; number=1; total=2");
  m_.SetWholeFileSize(120);
  ::testing::internal::CaptureStdout();
  std::string text = m_.ComposeMessage(0, TRUE);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(LinesWithoutDate(text),
            Concat(kTopHeader, {"Content-Type: message/partial; id=12345a.b; number=1; total=2",
                                "Message-ID: *", "", "MIME-Version: 1.0",
                                "Content-Type: application/x-zip-compressed",
                                "Content-Transfer-Encoding: base64",
                                "Content-Disposition: Attachment;", "     size=120;",
                                "     filename=\"a.zip\"", "", kLine,
                                "", "", "", ".", ""}));
}

TEST_F(ComposeTest, LaterPiece) {
  m_.SetMessageType(MT_PARTIAL_NEXT);
  Attach(61, "a.zip", "message/partial; id=1; number=2; total=2");
  ::testing::internal::CaptureStdout();
  std::string text = m_.ComposeMessage(0, TRUE);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(LinesWithoutDate(text),
            Concat(kTopHeader, {"Content-Type: message/partial; id=1; number=2; total=2",
                                "Message-ID: *", "", kLine,
                                "QQ==", "", "", "", ".", ""}));
}

TEST_F(ComposeTest, PieceWithoutAttachmentCarriesTheBodyText) {
  m_.SetMessageType(MT_PARTIAL_NEXT);
  m_.AddBodyText("note");
  EXPECT_EQ(LinesWithoutDate(m_.ComposeMessage(0, TRUE)),
            Concat(kTopHeader, {"Message-ID: *", "", "note", ".", ""}));
}

TEST_F(ComposeTest, SingleBodyWithoutAttachments) {
  m_.SetMessageType(MT_HTML);
  m_.AddBodyText("a");
  m_.AddBodyText("b");
  EXPECT_EQ(LinesWithoutDate(m_.ComposeMessage(0, TRUE)),
            Concat(kTopHeader, {"Content-Type: text/html ;", "Message-ID: *", "", "ab", ".", ""}));
  const std::string first_id = Lines(m_.header_text()).rbegin()[1];
  m_.SetMessageType(MT_PLAIN);
  m_.ComposeMessage(0, TRUE);
  EXPECT_EQ(Lines(m_.header_text()).rbegin()[2], "Content-Type: text/plain ;");
  EXPECT_NE(Lines(m_.header_text()).rbegin()[1], first_id);  // every message its own id
}

TEST_F(ComposeTest, Base64LinesOfEightyCharacters) {
  m_.SetMessageType(MT_PARTIAL_NEXT);
  Attach(60, "x", "t");  // 80 characters: one line
  m_.BuildBody();
  EXPECT_EQ(m_.composed_body(), kLine + "\r\n\r\n\r\n");
  m_.Reset(FALSE);
  m_.SetMessageType(MT_PARTIAL_NEXT);
  Attach(61, "x", "t");  // 84 characters: two lines, the second of 4
  m_.BuildBody();
  EXPECT_EQ(m_.composed_body(), kLine + "\r\nQQ==\r\n\r\n\r\n");
}

TEST_F(ComposeTest, SeveralAttachmentsAndImageKinds) {
  m_.SetMessageType(MT_PLAIN);
  Attach(3, "first.txt");
  Attach(3, "");
  std::string text = m_.ComposeMessage(0, TRUE);
  size_t count = 0;
  for (size_t at = text.find("-----------------1V02Corvuspost\r\n"); at != std::string::npos;
       at = text.find("-----------------1V02Corvuspost\r\n", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(text.substr(text.size() - 42), "\r\n\r\n-----------------1V02Corvuspost--\r\n.\r\n");
  EXPECT_NE(text.find("Content-Type: text/plain ;\r\n"), std::string::npos);
  // A data attachment without a name: an empty name line, no filename line.
  EXPECT_NE(text.find("     name=\"\"\r\nContent-Transfer-Encoding: base64\r\n"
                      "Content-Disposition: Attachment;\r\n     size=3\r\n\r\nQUFB"),
            std::string::npos);
  EXPECT_EQ(text.find("Content-ID"), std::string::npos);

}

TEST_F(ComposeTest, UnnamedImagesGetAContentIdAndAGeneratedName) {
  TempDir dir;
  m_.SetMessageType(MT_INLINE);
  std::string part_id;
  ASSERT_EQ(m_.AddAttachment(dir.Write("logo.gif", "GIF"), "", part_id, TRUE, "image/gif", TRUE), 1);
  ASSERT_EQ(m_.AddAttachment(dir.Write("photo.jpg", "JPG"), "", part_id, TRUE, "image/jpeg", TRUE),
            2);
  EXPECT_EQ(part_id, "part2.1V02Corvuspost");
  m_.BuildBody();
  const std::string& body = m_.composed_body();
  EXPECT_NE(body.find("-----------------1V02Corvuspost\r\nContent-Type: image/gif\r\n"
                      "Content-ID: <part1.1V02Corvuspost>\r\n     name=\"0.gif\"\r\n"
                      "Content-Transfer-Encoding: base64\r\nContent-Disposition: inline;\r\n\r\n"
                      "R0lG\r\n"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("Content-ID: <part2.1V02Corvuspost>\r\n     name=\"1.jpg\"\r\n"),
            std::string::npos);
}

TEST_F(ComposeTest, SubjectAndSenderReplacements) {
  m_.SetSubject(" a\r\nb ");
  std::vector<std::string> lines = Lines(m_.ComposeMessage(0, TRUE));
  EXPECT_EQ(lines[4], "Subject: a  b");
  EXPECT_EQ(m_.subject(), "a  b");
  m_.SetSubject(" \r\n ");
  m_.SetSender("");
  lines = Lines(m_.ComposeMessage(5, TRUE));  // no such receiver: no To line
  EXPECT_EQ(lines[1], "From: Unknown User");
  EXPECT_EQ(lines[3], "Subject: No Subject");
}

TEST_F(ComposeTest, DateLineShowsTheZoneOffset) {
  const char* old = ::getenv("TZ");
  std::string saved = old ? old : "";
  struct {
    const char* tz;
    const char* zone;
  } cases[] = {{"UTC0", "+0000"}, {"XST-5:30", "+0530"}, {"XST5", "-0500"}, {"XST3:30", "-0330"}};
  for (auto& c : cases) {
    ::setenv("TZ", c.tz, 1);
    ::tzset();
    std::string date = Lines(m_.ComposeMessage(0, TRUE))[3];
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d\d )"
                                                  R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
                                                  R"(\d{4} \d\d:\d\d:\d\d [+-]\d{4})")))
        << date;
    EXPECT_EQ(date.substr(date.size() - 5), c.zone) << c.tz;
  }
  if (old) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

}  // namespace
}  // namespace postrunner
