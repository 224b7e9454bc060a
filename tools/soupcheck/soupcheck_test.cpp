// tools/soupcheck/soupcheck_test.cpp - the checker against hand-built journaled file
// images: clean files, complete and damaged journals, bad headers.
#include "tools/soupcheck/soupcheck.h"

#include <gtest/gtest.h>

#include "database/journal_image_test_support.h"

namespace bw::soupcheck {
namespace {

using testing_journal::appendJournal;
using testing_journal::bytesOf;
using testing_journal::makeImage;

TEST(SoupCheck, NewFileAndChecksumVector) {
  std::vector<uint8_t> fresh = makeImage({});
  const uint8_t expected[28] = {0x4A, 0x6F, 0x75, 0x72, 0x6E, 0x61, 0x6C, 0x07, 0, 0, 0, 1, 0, 0,
                                0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0x1C};
  EXPECT_EQ(fresh, std::vector<uint8_t>(expected, expected + 28));
  Report r = check(fresh, Expect::kClosed);
  EXPECT_TRUE(r.clean()) << describe(r);
  EXPECT_EQ(r.journal, Journal::kNone);
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(journalChecksum(journalSeed, abc, 3), 0x4C3B2B3Eu);
}

TEST(SoupCheck, CompleteJournalGivesTheReplayedArea) {
  // Data "hello" (5 bytes); a commit grows it to 12 and writes two runs,
  // the second beyond the new size (the commit clips it).
  std::vector<uint8_t> image = makeImage(bytesOf("hello"), 28 + 12);
  image.resize(28 + 12, 0);  // the grown area as the file layer padded it
  appendJournal(image, 12, {{1, bytesOf("EL")}, {10, bytesOf("xyz")}});
  Report r = check(image, Expect::kOpen);
  EXPECT_TRUE(r.clean()) << describe(r);
  EXPECT_EQ(r.journal, Journal::kComplete);
  EXPECT_EQ(r.journalRecords, 2);
  std::vector<uint8_t> want = bytesOf("hELlo");
  want.resize(10, 0);
  want.push_back('x');
  want.push_back('y');
  EXPECT_EQ(r.effectiveData, want);
  EXPECT_FALSE(check(image, Expect::kClosed).clean());
}

TEST(SoupCheck, DamagedJournalsAreIncomplete) {
  std::vector<uint8_t> good = makeImage(bytesOf("abcdef"));
  appendJournal(good, 6, {{2, bytesOf("ZZ")}});
  ASSERT_EQ(check(good, Expect::kOpen).journal, Journal::kComplete);

  std::vector<std::vector<uint8_t>> bad;
  bad.push_back(good);
  bad.back().back() ^= 1;  // end check
  bad.push_back(good);
  bad.back().push_back(0);  // one trailing byte
  bad.push_back(std::vector<uint8_t>(good.begin(), good.end() - 20));  // cut inside
  bad.push_back(good);
  bad.back()[28 + 6 + 12] = 0x12;  // the first marker
  std::vector<uint8_t> negative = makeImage(bytesOf("abcdef"));
  appendJournal(negative, 6, {{-5, bytesOf("ZZ")}});
  bad.push_back(negative);
  std::vector<uint8_t> tooBig = makeImage(bytesOf("abcdef"));
  appendJournal(tooBig, 7, {});  // new size beyond the journal's position
  bad.push_back(tooBig);
  for (const auto& image : bad) {
    Report r = check(image, Expect::kOpen);
    EXPECT_EQ(r.journal, Journal::kIncomplete) << describe(r);
    EXPECT_FALSE(r.clean());
    EXPECT_EQ(r.effectiveData, bytesOf("abcdef"));
    EXPECT_TRUE(check(image, Expect::kCrashed).clean());
  }
}

TEST(SoupCheck, BadHeaders) {
  EXPECT_FALSE(check({}, Expect::kOpen).clean());
  std::vector<uint8_t> image = makeImage(bytesOf("abc"));
  image[0] = 'j';
  EXPECT_EQ(check(image, Expect::kOpen).findings.at(0), "not a journaled file");
  image = makeImage(bytesOf("abc"), -1, 4);  // dataSize beyond the file
  EXPECT_FALSE(check(image, Expect::kCrashed).clean());
  image = makeImage(bytesOf("abc"), 29);  // journal position inside the data
  EXPECT_FALSE(check(image, Expect::kCrashed).clean());
  image = makeImage(bytesOf("abc"));
  image[11] = 2;
  EXPECT_FALSE(check(image, Expect::kOpen).clean());
}

}  // namespace
}  // namespace bw::soupcheck
