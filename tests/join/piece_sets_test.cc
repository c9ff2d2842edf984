// How pieces are filed into sets and what a set is found to lack or to
// contradict: the checks every mailbox source (mbox, Maildir, IMAP) relies on.
#include "join/piece_sets.h"

#include <gtest/gtest.h>

#include <string>

namespace postrunner {
namespace {

PieceRef At(uint64_t offset) { return PieceRef{0, offset, offset + 10, false}; }

// Files piece `number` of set `id`, found at `offset`.
PieceFiled Add(PieceSets* sets, const std::string& id, const std::string& number,
               const std::string& total = "", const std::string& subject = "") {
  static uint64_t offset = 0;
  offset += 100;
  return sets->Add(id, number, total, subject, At(offset), MailboxPosition{0, offset});
}

TEST(PieceSetsTest, GroupsByIdInTheOrderFoundWithCopiesKept) {
  PieceSets sets;
  EXPECT_EQ(Add(&sets, "a", "2", "2", "f (part 2 of 2)"), PieceFiled::kKept);
  EXPECT_EQ(Add(&sets, "b", "1", "", "g (part 1 of 1)"), PieceFiled::kKept);
  EXPECT_EQ(Add(&sets, "a", "1", "", "f (part 1 of 2)"), PieceFiled::kKept);
  EXPECT_EQ(Add(&sets, "a", "1", "2", "another copy"), PieceFiled::kKept);
  ASSERT_EQ(sets.sets().size(), 2u);
  const PieceSet& a = sets.sets()[0];
  EXPECT_EQ(a.id, "a");
  EXPECT_EQ(a.total, 2u);
  EXPECT_EQ(a.first_subject, "f (part 1 of 2)");  // piece 1's first copy
  EXPECT_EQ(a.pieces.at(1).size(), 2u);
  EXPECT_LT(a.found_at, sets.sets()[1].found_at);
  EXPECT_TRUE(IsComplete(a));
  // "b" never says how many pieces there are.
  EXPECT_FALSE(IsComplete(sets.sets()[1]));
  EXPECT_EQ(MissingPieces(sets.sets()[1]), "");
}

TEST(PieceSetsTest, ContradictionsMakeASetInconsistent) {
  const struct {
    const char* number;
    const char* total;
    const char* problem;
  } cases[] = {
      {"0", "3", "piece number \"0\" is not from 1 to 65536"},
      {"x1", "3", "piece number \"x1\" is not from 1 to 65536"},
      {"65537", "3", "piece number \"65537\" is not from 1 to 65536"},
      {"2", "4", "two totals, 3 and 4"},
      {"2", "-3", "total \"-3\" is not from 1 to 65536"},
      {"4", "", "piece 4 is beyond the total of 3"},
  };
  for (const auto& c : cases) {
    PieceSets sets;
    Add(&sets, "s", "1", "3");
    Add(&sets, "s", c.number, c.total);
    Add(&sets, "s", "2");
    Add(&sets, "s", "3");
    EXPECT_EQ(sets.sets()[0].problem, c.problem) << c.number << " " << c.total;
    EXPECT_FALSE(IsComplete(sets.sets()[0]));
  }
  // A piece beyond the total is found whichever arrives first.
  PieceSets sets;
  Add(&sets, "s", "5");
  Add(&sets, "s", "1", "2");
  EXPECT_EQ(sets.sets()[0].problem, "piece 5 is beyond the total of 2");
}

TEST(PieceSetsTest, MissingPiecesAreListedAsRanges) {
  PieceSets sets;
  for (const char* n : {"1", "3", "7"}) Add(&sets, "t", n, "8");
  for (const char* n : {"2", "5"}) Add(&sets, "u", n);  // no total: up to the highest
  for (int n = 2; n <= 100; n += 2) Add(&sets, "v", std::to_string(n), "100");
  EXPECT_EQ(MissingPieces(sets.sets()[0]), "2, 4-6, 8");
  EXPECT_EQ(MissingPieces(sets.sets()[1]), "1, 3-4");
  const std::string many = MissingPieces(sets.sets()[2]);
  EXPECT_EQ(many.substr(0, 9), "1, 3, 5, ");
  EXPECT_EQ(many.substr(many.size() - 9), ", 59, ...");  // 30 gaps shown
}

TEST(PieceSetsTest, LongIdsFillTheIndexMemoryBeforeItsPieceCount) {
  // What was filed stays; nothing more is taken, not even an empty set.
  PieceSets sets;
  size_t filed = 0;
  while (Add(&sets, std::to_string(filed) + std::string(kMaxIdLength - 8, 'i'), "1", "1") ==
         PieceFiled::kKept) {
    ++filed;
  }
  EXPECT_LT(filed * 2 * kMaxIdLength, kMaxIndexBytes);
  EXPECT_GT(filed * 2 * kMaxIdLength, kMaxIndexBytes * 3 / 4);
  EXPECT_EQ(sets.sets().size(), filed);
}

}  // namespace
}  // namespace postrunner
