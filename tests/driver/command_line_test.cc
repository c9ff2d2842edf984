#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace postrunner {
namespace {

// Replaces the process command line with `args` (args[0] is the program).
void Use(std::vector<std::string> args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  ASSERT_TRUE(SetRawCommandLine(static_cast<int>(args.size()), argv.data()));
  ASSERT_EQ(SplitCommandLine(), static_cast<int>(std::max<size_t>(args.size(), 1)));
}

TEST(CommandLineTest, ProgramPathAloneGivesOneTokenAndNoOptions) {
  Use({"/File:/usr/bin/postrunner"});
  EXPECT_EQ(TokenList().size(), 1u);
  // Token 0 never matches, even when it begins like an option.
  EXPECT_FALSE(HasOption("/File:"));
  EXPECT_EQ(GetOptionValue("/File:"), "");
}

TEST(CommandLineTest, MissingArgumentVectorStillGivesOneToken) {
  ASSERT_TRUE(SetRawCommandLine(0, std::vector<const char*>{nullptr}.data()));
  EXPECT_EQ(SplitCommandLine(), 1);
  EXPECT_FALSE(HasOption("/Zip"));
  EXPECT_FALSE(SetRawCommandLine(1, nullptr));
}

TEST(CommandLineTest, MatchesByCaseInsensitivePrefix) {
  Use({"prog", "/file:D:\\a.txt", "/ZIPX", "/zip/Recurse"});
  EXPECT_TRUE(HasOption("/File:"));
  EXPECT_EQ(GetOptionValue("/File:"), "D:\\a.txt");
  EXPECT_TRUE(HasOption("/Zip"));
  // "/zip/Recurse" counts as "/Zip" only: a token never holds two options.
  EXPECT_FALSE(HasOption("/Recurse"));
  EXPECT_FALSE(HasOption(""));
  EXPECT_EQ(GetOptionValue(""), "");
}

TEST(CommandLineTest, EmptyValueIsPresentAndFirstMatchWins) {
  Use({"prog", "/File:", "/File:b.txt"});
  EXPECT_TRUE(HasOption("/File:"));
  EXPECT_EQ(GetOptionValue("/File:"), "");
  Use({"prog", "/File:a.txt", "/File:b.txt"});
  EXPECT_EQ(GetOptionValue("/File:"), "a.txt");
}

TEST(CommandLineTest, ArgumentsStayWholeWithBlanksQuotesAndHighBytes) {
  // The shell has split and unquoted: a quoted path with blanks is one token.
  Use({"prog", "/File:/home/me/My Report.pdf", "/Sender:\"x\"", "/Zip:caf\xE9.zip"});
  EXPECT_EQ(GetOptionValue("/File:"), "/home/me/My Report.pdf");
  EXPECT_EQ(GetOptionValue("/Sender:"), "\"x\"");
  EXPECT_EQ(GetOptionValue("/Zip:"), "caf\xE9.zip");
  EXPECT_EQ(TokenList().size(), 4u);
}

TEST(CommandLineTest, HighBytesAreNotFoldedAndEmptyTokensNeverMatch) {
  Use({"prog", "", "/Dir:\xC9t\xE9"});
  EXPECT_FALSE(HasOption("/dir:\xE9"));
  EXPECT_TRUE(HasOption("/DIR:\xC9"));
  EXPECT_FALSE(HasOption("/Dir:\xE9"));  // 0xC9 and 0xE9 are different bytes
}

TEST(CommandLineTest, ValueOptionNeedsItsColon) {
  Use({"prog", "/Filename:x", "/Zip:out.zip"});
  EXPECT_FALSE(HasOption("/File:"));
  EXPECT_EQ(GetOptionValue("/Filename:"), "x");
  // "/Zip:out.zip" also matches the flag "/Zip".
  EXPECT_TRUE(HasOption("/Zip"));
}

}  // namespace
}  // namespace postrunner
