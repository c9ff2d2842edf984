// What a join keeps of a mailbox: pieces bounded by their own budget, and
// messages sent whole a batch at a time, each later batch from a scan that
// begins where the last one stopped, with nothing lost or taken twice.
#include "join/mailbox_index.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support/temp_dir.h"

namespace postrunner {
namespace {

std::string Whole(const std::string& id) {
  return "From a@b.test Wed Dec  9 01:00:00 2026\nMessage-ID: <" + id +
         ">\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b--\n\n";
}

std::string Piece(int number) {
  return "From a@b.test Wed Dec  9 01:00:00 2026\nContent-Type: message/partial; id=s; "
         "number=" + std::to_string(number) + "; total=2\n\nbody\n\n";
}

class MailboxIndexTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.ok()); }

  std::string Write(const std::string& name, const std::string& text) {
    return temp_.Write(name, text);
  }

  TempDir temp_{"pr_index"};
};

std::vector<std::string> Labels(const MailboxIndex& index) {
  std::vector<std::string> labels;
  for (const WholeMessage& m : index.batch()) labels.push_back(m.label);
  return labels;
}

TEST_F(MailboxIndexTest, BatchesOfWholeMessagesResumeWhereTheLastStopped) {
  MailboxFiles files({Write("1", Whole("w1") + Piece(1) + Whole("w2") + Whole("w3")),
                      Write("2", Whole("w4") + Piece(2) + Whole("w5"))});
  MailboxIndex index(2);
  std::string reason;
  ASSERT_TRUE(index.Scan(&files, MailboxPosition{}, &reason)) << reason;
  ASSERT_EQ(index.sets().sets().size(), 1u);  // the first scan goes on for the pieces
  const PieceSet& set = index.sets().sets()[0];
  EXPECT_TRUE(IsComplete(set));
  std::vector<std::vector<std::string>> batches{Labels(index)};
  std::vector<MailboxPosition> starts{index.batch()[0].at, index.batch()[1].at};
  while (index.overflow()) {
    const MailboxPosition from = index.resume();
    index.NextBatch();
    ASSERT_TRUE(index.Scan(&files, from, &reason)) << reason;
    batches.push_back(Labels(index));
    for (const WholeMessage& m : index.batch()) starts.push_back(m.at);
  }
  EXPECT_EQ(batches, (std::vector<std::vector<std::string>>{
                         {"<w1>", "<w2>"}, {"<w3>", "<w4>"}, {"<w5>"}}));
  EXPECT_EQ(index.sets().sets().size(), 1u);  // later scans take no pieces
  EXPECT_TRUE(starts[0] < set.found_at && set.found_at < starts[1]);
  EXPECT_EQ(starts[3].file, 1u);
  EXPECT_EQ(starts[3].offset, 0u);
}

TEST(PieceSetsTest, BudgetBoundsPiecesKeptAndUnusablePiecesAreCountedApart) {
  MailboxIndex index;
  HeaderBlock header;
  auto offer = [&](const std::string& params) {
    index.Piece(ParseMimeValue("message/partial; " + params), header, PieceRef{},
                MailboxPosition{});
  };
  for (uint32_t n = 1; n <= kMaxPieces; ++n) offer("id=a; number=" + std::to_string(n));
  EXPECT_EQ(index.refused(), 0);
  offer("id=b; number=1");
  offer("number=1");
  offer("id=" + std::string(kMaxIdLength + 1, 'x') + "; number=1");
  EXPECT_EQ(index.refused(), 2);  // without id= is no piece at all
  EXPECT_EQ(index.Notes(), (std::vector<std::string>{
                               "1 message/partial piece without id= passed over",
                               "1 message/partial piece with an id longer than 1024 bytes ignored",
                               "the mailbox holds more pieces than one run keeps (65536); "
                               "1 piece ignored"}));
  ASSERT_EQ(index.sets().sets().size(), 1u);
  EXPECT_EQ(index.sets().sets()[0].pieces.size(), kMaxPieces);
}

}  // namespace
}  // namespace postrunner
