// Names from mail, which anybody may have written, on their way to a file
// name: encoded-words and percent escapes decoded, then reduced to one safe
// component of the output folder.
#include <gtest/gtest.h>

#include <string>

#include "join/encoded_text.h"
#include "join/safe_name.h"

namespace postrunner {
namespace {

TEST(EncodedWordsTest, DecodesWordsAndDropsOnlyTheBlanksBetweenThem) {
  EXPECT_EQ(DecodeEncodedWords("=?UTF-8?Q?caf=C3=A9_cr=C3=A8me?="), "caf\xC3\xA9 cr\xC3\xA8me");
  EXPECT_EQ(DecodeEncodedWords("=?utf-8?q?a?= \t =?UTF-8?b?Yg==?= c =?UTF-8?Q?d?="), "ab c d");
  EXPECT_EQ(DecodeEncodedWords("=?ISO-8859-1?B?6Q==?=t=?windows-1252?Q?=E9?="),
            "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(DecodeEncodedWords("=?UTF-8*en?Q?x?="), "x");  // language suffix
  // An unknown charset keeps its bytes.
  EXPECT_EQ(DecodeEncodedWords("=?KOI8-R?B?wQ==?="), "\xC1");
}

TEST(EncodedWordsTest, MalformedWordsStayAsTheyAre) {
  for (const char* text : {"=?UTF-8?X?abc?=", "=?UTF-8?B?@@?=", "=?UTF-8?Q?a b?=", "=?UTF-8?Q?a",
                           "=?UTF-8?", "=?" "?=", "a =? b ?= c"}) {
    EXPECT_EQ(DecodeEncodedWords(text), text);
  }
  EXPECT_EQ(DecodeEncodedWords("=?UTF-8?Q?=4?="), "=4");
  EXPECT_EQ(DecodePercent("100% %zz %4 %41%42"), "100% %zz %4 AB");
}

TEST(SafeFileNameTest, KeepsOnlyTheLastComponent) {
  const struct {
    const char* raw;
    const char* safe;
  } cases[] = {
      {"../../etc/passwd", "passwd"},
      {"..\\..\\Windows\\win.ini", "win.ini"},
      {"C:\\Users\\a\\report.pdf", "report.pdf"},
      {"/abs/path/", ""},
      {".", ""},
      {"..", ""},
      {" . - ..", ""},
      {".bashrc", "bashrc"},
      {".postrunner-join.x1.tmp", "postrunner-join.x1.tmp"},  // never a temporary name
      {"-rf", "rf"},
      {"name.  ", "name."},
      {"a\tb\r\nc\x7f" "d\x1b[0m", "a_b__c_d_[0m"},
      {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.raw), c.safe) << c.raw;
  EXPECT_EQ(SafeFileName(std::string("a\0b", 3)), "a_b");
}

TEST(SafeFileNameTest, LongNamesAreCutBetweenCharacters) {
  std::string accents;
  for (int i = 0; i < 150; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(SafeFileName(accents).size(), kMaxNameBytes);
  const std::string odd = std::string(kMaxNameBytes - 1, 'a') + "\xE2\x82\xAC" + "tail";
  EXPECT_EQ(SafeFileName(odd), std::string(kMaxNameBytes - 1, 'a'));
}

TEST(SafeFileNameTest, AlternativesAndNamesFromSubjects) {
  EXPECT_EQ(NumberedName("backup.zip", 1), "backup (1).zip");
  EXPECT_EQ(NumberedName("README", 12), "README (12)");
  EXPECT_EQ(NumberedName("db.tar.gz", 2), "db.tar (2).gz");
  EXPECT_EQ(NameFromPartSubject("big.bin (part 1 of 3)"), "big.bin");
  EXPECT_EQ(NameFromPartSubject("a (part 1 of 2) (part 1 of 3)"), "a (part 1 of 2)");
  for (const char* other : {"big.bin (part 2 of 3)", "big.bin (part 1 of 3) again",
                            "big.bin (part 1 of x)", "big.bin (part 1 of )", ""}) {
    EXPECT_EQ(NameFromPartSubject(other), "") << other;
  }
}

}  // namespace
}  // namespace postrunner
