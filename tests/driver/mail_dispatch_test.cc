// Mail dispatch where the system fails under it: a piece file that cannot be
// removed after its message must not go unnoticed, as it is a plain copy of
// part of the file.
#include "driver/mail_dispatch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/fake_system.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

TEST(MailDispatchTest, PieceFileThatCannotBeRemovedIsReported) {
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
            "postrunner: cannot connect to the mail server 127.0.0.1:1: Connection refused\n"
            "postrunner: cannot remove piece file big.bin_(part_1_of_2): Permission denied\n");
  EXPECT_EQ(access("big.bin_(part_1_of_2)", F_OK), 0);
  ASSERT_EQ(chdir(old_cwd), 0);
}

}  // namespace
}  // namespace postrunner
