// A rebuilt file appears whole under the first free name or not at all.
#include "join/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/fake_system.h"
#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }

  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(temp_.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(temp_.Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TempDir temp_{"pr_output"};
};

TEST_F(OutputFileTest, WritesEveryByteAndTakesTheFirstFreeName) {
  temp_.Write("f.bin", "old");
  temp_.Write("f (1).bin", "older");
  std::string expected;
  OutputFile out(temp_.path());
  ASSERT_TRUE(out.Create()) << out.error();
  // Small writes that fill the buffer, then one larger than it.
  for (int i = 0; i < 300; ++i) {
    const std::string chunk(1000, static_cast<char>('a' + i % 26));
    ASSERT_TRUE(out.Write(chunk.data(), chunk.size()));
    expected += chunk;
  }
  const std::string big(600000, 'z');
  ASSERT_TRUE(out.Write(big.data(), big.size()));
  expected += big;
  EXPECT_EQ(Names().size(), 3u);  // hidden until published
  std::string name;
  ASSERT_TRUE(out.Publish("f.bin", &name)) << out.error();
  EXPECT_EQ(name, "f (2).bin");
  EXPECT_EQ(out.bytes(), expected.size());
  EXPECT_EQ(Read("f (2).bin"), expected);
  EXPECT_EQ(Read("f.bin"), "old");
  EXPECT_EQ(Read("f (1).bin"), "older");
  EXPECT_EQ(Names(), (std::set<std::string>{"f.bin", "f (1).bin", "f (2).bin"}));
}

TEST_F(OutputFileTest, AFileNeverPublishedLeavesNothing) {
  {
    OutputFile out(temp_.path());
    ASSERT_TRUE(out.Create());
    ASSERT_TRUE(out.Write("abc", 3));
    EXPECT_EQ(Names().size(), 1u);
  }
  EXPECT_TRUE(Names().empty());
  // A removal that fails is told, not passed over.
  FakeSystemApi system;
  system.remove_errno = EACCES;
  OutputFile out(temp_.path());
  ASSERT_TRUE(out.Create());
  std::string reason;
  EXPECT_FALSE(out.Discard(&reason));
  ASSERT_EQ(system.removed.size(), 1u);
  EXPECT_EQ(reason, "cannot remove " + system.removed[0] + ": Permission denied");
  EXPECT_EQ(system.removed[0].rfind(temp_.Path(".postrunner-join."), 0), 0u);
  // A folder that cannot take the file fails at once.
  OutputFile nowhere(temp_.Path("missing"));
  EXPECT_FALSE(nowhere.Create());
  EXPECT_EQ(nowhere.error(), "cannot create a file in " + temp_.Path("missing") +
                                 ": No such file or directory");
}

}  // namespace
}  // namespace postrunner
