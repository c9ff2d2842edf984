// Reading the header fields that decide what a message is and what its file
// is called: folding, letter case, parameters in all their RFC 2045/2231
// forms, and text that no sender should have written.
#include "join/mime_header.h"

#include <gtest/gtest.h>

#include <string>

#include "join/encoded_text.h"
#include "mail/header_encoding.h"

namespace postrunner {
namespace {

TEST(HeaderBlockTest, FoldedFieldsAreJoinedAndNamesFoldCase) {
  HeaderBlock header;
  for (const char* line : {"\tcontinues nothing", "Subject: first", "CONTENT-Type: multipart/mixed;",
                           " \tboundary=\"b 1\"", "not a field", "content-type: text/plain",
                           "X-Empty:   "}) {
    EXPECT_TRUE(header.AddLine(line));
  }
  EXPECT_EQ(header.Get("content-type"), "multipart/mixed; \tboundary=\"b 1\"");  // the first
  EXPECT_EQ(ParseMimeValue(header.Get("content-type")).Param("boundary"), "b 1");
  EXPECT_EQ(header.Get("subject"), "first");
  EXPECT_EQ(header.Get("x-empty"), "");
  EXPECT_EQ(header.Get("missing"), "");

  // A block that never ends is refused once past its bound.
  const std::string line(1000, 'x');
  size_t added = 0;
  while (header.AddLine(line)) ++added;
  EXPECT_NEAR(static_cast<double>(added), HeaderBlock::kMaxBytes / 1002.0, 1.0);
  header.Clear();
  EXPECT_TRUE(header.AddLine("Subject: again"));
  EXPECT_EQ(header.Get("subject"), "again");
}

TEST(MimeValueTest, ValueAndParametersWithQuotesAndComments) {
  MimeValue v = ParseMimeValue(
      " Attachment (what it is) ; FileName = \"a \\\"b\\\"; c.txt\" ; size=12 (bytes);"
      " filename=second.txt; empty=\"\"");
  EXPECT_EQ(v.value, "attachment");
  EXPECT_EQ(v.Param("filename"), "a \"b\"; c.txt");  // the first of two
  EXPECT_EQ(v.Param("size"), "12");
  EXPECT_TRUE(v.HasParam("empty"));
  EXPECT_FALSE(v.HasParam("name"));
  EXPECT_EQ(ParseMimeValue("message/partial; id=\"x@y\"; number=2; total=3").Param("id"), "x@y");
}

TEST(MimeValueTest, Rfc2231SectionsJoinInOrderAndWinOverThePlainValue) {
  MimeValue v = ParseMimeValue(
      "attachment; filename=\"plain.txt\"; filename*1=\" menu\"; filename*2*=%2Etxt;"
      " filename*0*=utf-8'fr'caf%C3%A9");
  EXPECT_EQ(v.Param("filename"), "caf\xC3\xA9 menu.txt");
  EXPECT_EQ(ParseMimeValue("attachment; filename*=iso-8859-1''caf%E9").Param("filename"),
            "caf\xC3\xA9");
  // Only the first section carries the charset; no quotes in it is fine.
  EXPECT_EQ(ParseMimeValue("a; name*0*=''100%25; name*1*=%20sure").Param("name"), "100% sure");
}

TEST(MimeValueTest, EncodedWordsInNamesAreDecodedElsewhereNot) {
  MimeValue v = ParseMimeValue(
      "application/octet-stream; name=\"=?UTF-8?B?w6l0w6k=?=.txt\"; x=\"=?UTF-8?B?w6l0w6k=?=\"");
  EXPECT_EQ(v.Param("name"), "\xC3\xA9t\xC3\xA9.txt");
  EXPECT_EQ(v.Param("x"), "=?UTF-8?B?w6l0w6k=?=");
}

TEST(MimeValueTest, UnclosedCommentsAndQuotesEndTheValue) {
  // Each of these once read past the end of the text and stopped the join.
  EXPECT_EQ(ParseMimeValue("(").value, "");
  EXPECT_EQ(ParseMimeValue("text/plain (a \\").value, "text/plain");
  MimeValue v = ParseMimeValue("text/plain; (open; name=x");
  EXPECT_EQ(v.value, "text/plain");
  EXPECT_FALSE(v.HasParam("name"));
  EXPECT_EQ(ParseMimeValue("attachment; filename=\"open.txt").Param("filename"), "open.txt");
  EXPECT_EQ(ParseMimeValue("attachment; filename=\"a\\").Param("filename"), "a\\");
}

// Text holding "=?" went out as it stood, and the receiver decoded what
// looked like encoded-words in it: the file came back under another name.
TEST(HeaderEncodingRoundTripTest, NamesThatLookLikeEncodedWordsComeBackAsTheyWere) {
  for (const std::string name : {"=?h?=??*?==*=*?=?h?=?=?h?B?\?==*=*?\?=",
                                 "report =?utf-8?q?x?=.txt", "=?ISO-8859-1?Q?a?= b"}) {
    std::string subject = EncodeHeaderText(name);
    ASSERT_TRUE(IsPlainHeaderText(subject.substr(0, subject.find('\r')))) << subject;
    for (size_t fold; (fold = subject.find("\r\n")) != std::string::npos;) subject.erase(fold, 2);
    EXPECT_EQ(DecodeEncodedWords(subject), name);

    std::string lines = ParameterLines(" ", "filename", name);
    for (size_t fold; (fold = lines.find("\r\n")) != std::string::npos;) lines.erase(fold, 2);
    EXPECT_EQ(ParseMimeValue("attachment;" + lines).Param("filename"), name) << lines;
  }
  EXPECT_EQ(EncodeHeaderText("a plain = ? name"), "a plain = ? name");
  EXPECT_EQ(ParameterLines(" ", "name", "a=b?c"), " name=\"a=b?c\"");
}

}  // namespace
}  // namespace postrunner
