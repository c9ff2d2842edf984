#include "platform/secret_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

class SecretFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }

  std::string Write(const std::string& content, mode_t mode) {
    std::string path = dir_ + "/secret";
    std::ofstream(path, std::ios::binary) << content;
    ::chmod(path.c_str(), mode);
    return path;
  }

  TempDir temp_{"pr_secret"};
  const std::string dir_ = temp_.path();
};

TEST_F(SecretFileTest, ReadsThePrivateFirstLineWithoutItsEnd) {
  const struct {
    const char* content;
    const char* secret;
  } cases[] = {{"pw\r\nrest\n", "pw"}, {"pw", "pw"}, {" a b \n", " a b "}};
  for (const auto& c : cases) {
    std::string secret, error;
    EXPECT_TRUE(ReadSecretFile(Write(c.content, 0600), &secret, &error)) << error;
    EXPECT_EQ(secret, c.secret);
  }
}

TEST_F(SecretFileTest, RefusesSharedEmptySpecialAndMissingFiles) {
  std::string secret = "stale", error;
  for (mode_t shared : {0640, 0604, 0620}) {
    EXPECT_FALSE(ReadSecretFile(Write("pw\n", shared), &secret, &error));
    EXPECT_NE(error.find("accessible by other users"), std::string::npos) << error;
    EXPECT_EQ(secret, "");
  }
  EXPECT_FALSE(ReadSecretFile(Write("\npw\n", 0600), &secret, &error));
  EXPECT_EQ(error, "the password file " + dir_ + "/secret has nothing on its first line");
  std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(ReadSecretFile(fifo, &secret, &error));  // must not hang
  EXPECT_EQ(error, "the password file " + fifo + " is not a regular file");
  EXPECT_FALSE(ReadSecretFile(dir_ + "/missing", &secret, &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST_F(SecretFileTest, TakesAFirstLineOfUpTo16KiBOnly) {
  std::string secret, error;
  const std::string longest(16 * 1024, 'p');
  EXPECT_TRUE(ReadSecretFile(Write(longest + "\r\nnext\n", 0600), &secret, &error)) << error;
  EXPECT_EQ(secret, longest);
  EXPECT_TRUE(ReadSecretFile(Write(longest, 0600), &secret, &error)) << error;
  EXPECT_EQ(secret, longest);
  EXPECT_FALSE(ReadSecretFile(Write(longest + "p\n", 0600), &secret, &error));
  EXPECT_EQ(error, "the password file " + dir_ +
                       "/secret has a first line over 16 KiB: no password or token");
  EXPECT_EQ(secret, "");
}

}  // namespace
}  // namespace postrunner
