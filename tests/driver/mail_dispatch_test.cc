// Mail dispatch where the system fails under it: a split send reads its
// pieces from the file itself, so it makes no copy of any part of the file
// and has nothing to remove, even where removing would fail.
#include "driver/mail_dispatch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fake_system.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

TEST(MailDispatchTest, SplitSendMakesAndRemovesNoFile) {
  TempDir dir("pr_dispatch");
  ASSERT_TRUE(dir.ok());
  char old_cwd[4096];
  ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  std::ofstream("big.bin", std::ios::binary) << std::string(kPieceSize + 1, 'x');

  FakeSystemApi system;
  system.remove_errno = EACCES;
  testing::internal::CaptureStderr();
  // Port 1 on loopback refuses at once: the first piece fails.
  EXPECT_EQ(SendFileByMail("big.bin", "s@src.test", "r@dst.test",
                           MailServer{"127.0.0.1:1", {"127.0.0.1", 1}}, true), 0);
  const std::string reasons = testing::internal::GetCapturedStderr();

  EXPECT_EQ(reasons,
            "postrunner: cannot connect to the mail server 127.0.0.1:1: Connection refused\n");
  EXPECT_TRUE(system.removed.empty());
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"big.bin"});
  ASSERT_EQ(chdir(old_cwd), 0);
}

}  // namespace
}  // namespace postrunner
