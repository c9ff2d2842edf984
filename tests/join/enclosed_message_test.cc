// A rebuilt file is published only with the size its header gives, where it
// gives one; a file of another length leaves nothing behind.
#include "join/enclosed_message.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

class EnclosedMessageTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }

  std::vector<JoinedFile> Rebuild(const std::vector<std::string>& lines) {
    EnclosedMessage message(dir_, "fallback");
    for (const std::string& line : lines) message.Line(line, "\n");
    return message.Finish();
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  TempDir temp_{"pr_enclosed"};
  const std::string dir_ = temp_.path();
};

TEST_F(EnclosedMessageTest, SinglePartWithSizeGiven) {
  const std::string head = "Content-Disposition: attachment; filename=f.bin; size=";
  std::vector<JoinedFile> files =
      Rebuild({"Content-Transfer-Encoding: base64", head + "7", "", "YWJjZGVm", "Zw=="});
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0].written);
  EXPECT_EQ(files[0].bytes, 7u);

  files = Rebuild({"Content-Transfer-Encoding: base64", head + "8", "", "YWJjZGVm", "Zw=="});
  ASSERT_EQ(files.size(), 1u);
  EXPECT_FALSE(files[0].written);
  EXPECT_EQ(files[0].name, "f.bin");
  EXPECT_EQ(files[0].reason, "rebuilt 7 bytes where the header gives size=8");
  EXPECT_EQ(Names(), std::vector<std::string>{"f.bin"});  // only the first
}

TEST_F(EnclosedMessageTest, AttachmentOfAMultipartWithSizeGiven) {
  std::vector<JoinedFile> files = Rebuild(
      {"Content-Type: multipart/mixed; boundary=b", "", "--b",
       "Content-Disposition: attachment; filename=ok.txt; size=3", "", "abc", "--b",
       "Content-Disposition: attachment; filename=short.txt;", " size=4", "", "abc", "--b",
       "Content-Disposition: attachment; filename=any.txt; size=unknown", "", "abc", "--b--"});
  ASSERT_EQ(files.size(), 3u);
  EXPECT_TRUE(files[0].written);
  EXPECT_FALSE(files[1].written);
  EXPECT_EQ(files[1].reason, "rebuilt 3 bytes where the header gives size=4");
  EXPECT_TRUE(files[2].written);  // a size that is no number checks nothing
  std::vector<std::string> names = Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"any.txt", "ok.txt"}));
}

}  // namespace
}  // namespace postrunner
