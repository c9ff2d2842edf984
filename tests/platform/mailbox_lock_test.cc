// Reading an mbox waits for a delivery's fcntl lock or dot-lock to go, and
// gives up when one stays for the whole wait. The delivery is played by an
// open-file-description lock of this process, which conflicts with the
// reader's lock as another process's would.
#include "platform/mailbox_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/scoped_fd.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

class MailboxLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.ok());
    box_ = temp_.Path("box");
    std::ofstream(box_) << "From a@b.test\n\n";
    EXPECT_TRUE(reader_.Reset(::open(box_.c_str(), O_RDONLY)));
    ASSERT_TRUE(reader_.valid());
  }

  // Takes a delivery's write lock; it lasts while the returned descriptor is open.
  ScopedFd Deliver() {
    ScopedFd fd(::open(box_.c_str(), O_RDWR));
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    EXPECT_EQ(::fcntl(fd.get(), F_OFD_SETLK, &lock), 0);
    return fd;
  }

  TempDir temp_{"pr_lock"};
  std::string box_;
  ScopedFd reader_;
};

TEST_F(MailboxLockTest, WaitsForAFileLockAndGivesUpWhenItStays) {
  ScopedFd delivery = Deliver();
  EXPECT_EQ(LockMailboxForReading(reader_.get(), box_, 50), MailboxLock::kFileLock);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(delivery.Reset());
  });
  EXPECT_EQ(LockMailboxForReading(reader_.get(), box_, 10000), MailboxLock::kHeld);
  release.join();
  // Held now: a delivery cannot lock the file until the reader is done.
  ScopedFd late(::open(box_.c_str(), O_RDWR));
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  EXPECT_EQ(::fcntl(late.get(), F_OFD_SETLK, &lock), -1);
}

TEST_F(MailboxLockTest, WaitsForADotLockAndGivesUpWhenItStays) {
  const std::string dot_lock = box_ + ".lock";
  std::ofstream(dot_lock).close();
  EXPECT_EQ(LockMailboxForReading(reader_.get(), box_, 50), MailboxLock::kDotLock);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::unlink(dot_lock.c_str());
  });
  EXPECT_EQ(LockMailboxForReading(reader_.get(), box_, 10000), MailboxLock::kHeld);
  release.join();
}

}  // namespace
}  // namespace postrunner
