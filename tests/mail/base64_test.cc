// Base64 text of strings, files and pieces of files.
#include "mail/base64.h"

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

TEST(Base64, StandardAlphabetAndPadding) {
  // RFC 4648 section 10.
  const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                              {"foo", "Zm9v"},  {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (auto& v : vectors) {
    EXPECT_EQ(EncodeStringBase64(v[0], TRUE), v[1]) << v[0];
    // A complete last group gets no padding, final or not; a partial one is
    // always padded.
    EXPECT_EQ(EncodeStringBase64(v[0], FALSE), v[1]) << v[0];
  }
  EXPECT_EQ(EncodeBase64(std::string("\xff\xfe\xfd\x00", 4), TRUE), "//79AA==");
  EXPECT_EQ(EncodeBase64(std::string("\xfb\xef\xbe", 3), TRUE), "++++");
}

TEST(Base64, PiecesJoinIntoTheTextOfTheWhole) {
  std::string whole;
  for (int i = 0; i < 3000; ++i) whole.push_back(static_cast<char>(i * 7919 % 251));
  for (size_t last : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{300}}) {
    std::string data = whole.substr(0, 2700 + last);
    std::string joined = EncodeBase64(std::string_view(data).substr(0, 1350), FALSE) +
                         EncodeBase64(std::string_view(data).substr(1350, 1350), FALSE) +
                         EncodeBase64(std::string_view(data).substr(2700), TRUE);
    EXPECT_EQ(joined, EncodeBase64(data, TRUE)) << last;
    EXPECT_EQ(joined.size(), EncodedBase64Length(data.size()));
    // Padding only where a partial last group needs it.
    size_t padding = (last % 3) ? 3 - last % 3 : 0;
    EXPECT_EQ(joined.find('='), padding ? joined.size() - padding : std::string::npos) << last;
  }
  EXPECT_EQ(EncodeStringBase64("abc", FALSE) + EncodeStringBase64("de", TRUE),
            EncodeStringBase64("abcde", TRUE));
}

TEST(Base64, Files) {
  TempDir dir;
  std::string text;
  EXPECT_TRUE(EncodeFileBase64(dir.Write("abc", "abc"), TRUE, &text));
  EXPECT_EQ(text, "YWJj");
  text = "stale";
  EXPECT_TRUE(EncodeFileBase64(dir.Write("empty", ""), TRUE, &text));
  EXPECT_EQ(text, "");
  text = "stale";
  EXPECT_FALSE(EncodeFileBase64(dir.Path("missing"), TRUE, &text));
  EXPECT_EQ(text, "");
  ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(EncodeFileBase64(dir.Path("fifo"), TRUE, &text));

  std::string big(998001 * 2 + 5, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 % 256);
  EXPECT_TRUE(EncodeFileBase64(dir.Write("big", big), TRUE, &text));
  EXPECT_EQ(text, EncodeBase64(big, TRUE));
}

}  // namespace
}  // namespace postrunner
