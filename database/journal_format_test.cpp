// database/journal_format_test.cpp - the bytes a journaled file puts on disk:
// the new-file header, the journal of a commit (read back through a hook that
// stops after saving), size-only commits, and what open does with damaged,
// foreign and hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "core/raise_test_support.h"
#include "database/journal_image_test_support.h"
#include "database/journal_test_support.h"

namespace bw::testing_journal {
namespace {

using soupcheck::Expect;

std::vector<uint8_t> committedData(const std::vector<uint8_t>& image) {
  int64_t size = getBig64(image.data() + 12);
  return std::vector<uint8_t>(image.begin() + 28, image.begin() + 28 + size);
}

std::vector<uint8_t> header(int64_t dataSize, int64_t journalPosition) {
  return makeImage({}, journalPosition, dataSize);
}

TEST_F(JournalTest, NewFileIsExactlyTheHeader) {
  auto f = openMemory("soup");
  const std::vector<uint8_t> expected = {0x4A, 0x6F, 0x75, 0x72, 0x6E, 0x61, 0x6C, 0x07, 0, 0, 0, 1, 0, 0,
                                         0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0x1C};
  EXPECT_EQ(image("soup"), expected);
  EXPECT_EQ(backend->durableImage(native("soup")), expected);
  f->close();
  EXPECT_EQ(image("soup"), expected);
  expectChecked(image("soup"), Expect::kClosed);
}

TEST_F(JournalTest, GrowthJournalHoldsOneRecordPerRun) {
  auto f = openMemory("soup");
  std::vector<uint8_t> journal;
  f->setAfterSaveJournalHook([&] {
    journal = image("soup");
    throw SimulatedCrash();
  });
  {
    JournalTransaction t(*f);
    f->setSize(2000);
    f->setPosition(0);
    f->write("0123456789", 10, 0, false);
    f->setPosition(1990);
    f->write("abcdefghij", 10, 0, false);
    EXPECT_THROW(t.finish(), SimulatedCrash);
  }
  ASSERT_EQ(journal.size(), 2028u + 88u);
  EXPECT_EQ(getBig64(journal.data() + 20), 2028);  // journalPosition
  EXPECT_EQ(getBig64(journal.data() + 12), 0);     // dataSize still the old one
  const uint8_t* j = journal.data() + 2028;
  EXPECT_EQ(getBig64(j), 2000);
  EXPECT_EQ(getBig32(j + 12), 0xFFFFFFFFu);
  EXPECT_EQ(getBig64(j + 16), 0);
  EXPECT_EQ(getBig32(j + 24), 10u);
  EXPECT_EQ(getBig32(j + 42), 0xFFFFFFFFu);
  EXPECT_EQ(getBig64(j + 46), 1990);
  EXPECT_EQ(getBig32(j + 54), 10u);
  EXPECT_EQ(getBig32(j + 72), 0u);
  EXPECT_EQ(getBig64(j + 76), 2104);
  std::vector<uint8_t> rebuilt(journal.begin(), journal.begin() + 2028);
  appendJournal(rebuilt, 2000, {{0, bytesOf("0123456789")}, {1990, bytesOf("abcdefghij")}});
  EXPECT_EQ(rebuilt, journal);
  expectChecked(journal, Expect::kOpen);
  EXPECT_TRUE(f->infoFailed());
  f.reset();  // a failed file closes without writing

  // The journal left behind is replayed by the next open.
  backend->setImage(native("soup2"), journal);
  auto g = openMemory("soup2");
  EXPECT_EQ(g->infoCommittedSize(), 2000);
  std::vector<uint8_t> want(2000, 0);
  std::copy_n("0123456789", 10, want.begin());
  std::copy_n("abcdefghij", 10, want.begin() + 1990);
  EXPECT_EQ(readAllData(*g), want);
  g->close();
  EXPECT_EQ(image("soup2").size(), 2028u);
  expectChecked(image("soup2"), Expect::kClosed);
}

TEST_F(JournalTest, ShrinkPlacesTheJournalBehindTheOldData) {
  auto f = openMemory("soup");
  writeAt(*f, 0, std::vector<uint8_t>(5000, 7));
  int64_t journalAt = 0;
  f->setAfterSaveJournalHook([&] { journalAt = f->infoJournalPosition(); });
  {
    JournalTransaction t(*f);
    f->setSize(100);
  }
  EXPECT_EQ(journalAt, 5028);
  f->flush();
  // The applied journal stays behind the old data until the close cuts it.
  EXPECT_GT(image("soup").size(), 5028u);
  f->close();
  EXPECT_EQ(image("soup").size(), 128u);
  expectChecked(image("soup"), Expect::kClosed);
}

TEST_F(JournalTest, SizeOnlyCommitWritesNoRecords) {
  auto f = openMemory("soup");
  std::vector<uint8_t> journal;
  f->setAfterSaveJournalHook([&] { journal = image("soup"); });
  {
    JournalTransaction t(*f);
    f->setSize(300);
  }
  std::vector<uint8_t> rebuilt = header(0, 328);
  rebuilt.resize(328, 0);
  appendJournal(rebuilt, 300, {});
  EXPECT_EQ(journal, rebuilt);
  f->close();
  std::vector<uint8_t> after = header(300, 328);
  after.resize(328, 0);
  EXPECT_EQ(image("soup"), after);
}

TEST_F(JournalTest, DamagedJournalsAreDiscarded) {
  std::vector<uint8_t> good = makeImage(bytesOf("abcdef"));
  appendJournal(good, 6, {{2, bytesOf("ZZ")}});
  std::vector<std::vector<uint8_t>> bad(5, good);
  bad[0].back() ^= 1;                    // end check
  bad[1].push_back(0);                   // one trailing byte
  bad[2].resize(good.size() - 20);       // cut inside the data
  bad[3][28 + 6 + 12] = 0x12;            // marker
  bad[4] = makeImage(bytesOf("abcdef"));  // a record far beyond any chunk
  appendJournal(bad[4], 6, {{int64_t{960} << 31, bytesOf("Z")}});
  for (size_t i = 0; i < bad.size(); ++i) {
    std::string name = "bad" + std::to_string(i);
    backend->setImage(native(name), bad[i]);
    auto f = openMemory(name);
    EXPECT_EQ(readAllData(*f), bytesOf("abcdef")) << i;
    EXPECT_EQ(image(name), makeImage(bytesOf("abcdef"))) << i;
    f->close();
    expectChecked(image(name), Expect::kClosed);
  }
  backend->setImage(native("good"), good);
  auto f = openMemory("good");
  EXPECT_EQ(readAllData(*f), bytesOf("abZZef"));
}

TEST_F(JournalTest, HostileJournalRecordsAreDiscardedNotCached) {
  // Checksums are valid throughout: only the bounds refuse these.
  std::vector<std::vector<JournalRecord>> hostile = {
      {{-5, bytesOf("ab")}},                          // position < 0
      {{0, {}, -2}},                                  // length < 0
      {{0, {}, 0x7FFFFFFF}},                          // longer than the file
      {{(int64_t{960} << 31) - 1, bytesOf("ab")}},    // past the last chunk
      {{INT64_MAX - 1, bytesOf("ab")}},               // position + length overflows
  };
  for (size_t i = 0; i < hostile.size(); ++i) {
    std::vector<uint8_t> bytes = makeImage(bytesOf("abcdef"));
    appendJournal(bytes, 6, hostile[i]);
    std::string name = "hostile" + std::to_string(i);
    backend->setImage(native(name), bytes);
    auto f = openMemory(name);
    EXPECT_FALSE(f->infoCommitPending()) << i;
    EXPECT_EQ(f->infoCache()->infoChunkCount(), 0u) << i;
    EXPECT_EQ(readAllData(*f), bytesOf("abcdef")) << i;
    EXPECT_EQ(image(name), makeImage(bytesOf("abcdef"))) << i;
  }
  // A new size the journal's own position contradicts.
  std::vector<uint8_t> bytes = makeImage(bytesOf("abcdef"));
  appendJournal(bytes, 7, {});
  backend->setImage(native("newsize"), bytes);
  auto f = openMemory("newsize");
  EXPECT_EQ(f->getSize(), 6);
  EXPECT_EQ(image("newsize"), makeImage(bytesOf("abcdef")));
}

TEST_F(JournalTest, GrownAreaNeverShowsWhatTheFileHeldBeyondItsEnd) {
  // A power cut may keep a complete journal while the gap before it lost
  // its pad bytes; the replay still pads the grown area.
  std::vector<uint8_t> bytes = makeImage(bytesOf("abc"), 28 + 1000);
  bytes.resize(28 + 1000, 0xEE);
  appendJournal(bytes, 1000, {{990, bytesOf("tail")}});
  backend->setImage(native("gap"), bytes);
  auto f = openMemory("gap");
  std::vector<uint8_t> want = bytesOf("abc");
  want.resize(990, 0);
  for (char c : std::string("tail")) want.push_back(static_cast<uint8_t>(c));
  want.resize(1000, 0);
  EXPECT_EQ(readAllData(*f), want);
  f->close();
  EXPECT_EQ(committedData(image("gap")), want);

  // Bytes past the committed end without a journal (a cut that did not
  // reach the disk) stay invisible when the area grows again.
  std::vector<uint8_t> stale = makeImage(bytesOf("abc"), 28 + 500);
  stale.resize(28 + 400, 0xEE);
  backend->setImage(native("stale"), stale);
  auto g = openMemory("stale");
  {
    JournalTransaction t(*g);
    g->setSize(300);
    EXPECT_EQ(readAllData(*g)[200], 0);
  }
  g->close();
  std::vector<uint8_t> grown = bytesOf("abc");
  grown.resize(300, 0);
  EXPECT_EQ(committedData(image("stale")), grown);
}

TEST_F(JournalTest, OpenCutsAJournalWhoseChangesAreAlreadyApplied) {
  // The crash came after the header took the new size: nothing is left to
  // write, but the journal must still go.
  std::vector<uint8_t> bytes = makeImage(bytesOf("abcdef"), 28 + 10);
  bytes.resize(28 + 10, 0);
  appendJournal(bytes, 6, {});
  backend->setImage(native("applied"), bytes);
  auto f = openMemory("applied");
  f->close();
  EXPECT_EQ(image("applied"), makeImage(bytesOf("abcdef"), 28 + 10));
  expectChecked(image("applied"), Expect::kClosed);
}

TEST_F(JournalTest, OverlappingAndCrossingRecordsAreReplayedInOrder) {
  std::vector<uint8_t> data(2000, 1);
  std::vector<uint8_t> image0 = makeImage(data);
  appendJournal(image0, 2000, {{950, std::vector<uint8_t>(20, 2)}, {955, std::vector<uint8_t>(3, 3)}});
  backend->setImage(native("soup"), image0);
  auto f = openMemory("soup");
  std::vector<uint8_t> want = data;
  std::fill_n(want.begin() + 950, 20, 2);
  std::fill_n(want.begin() + 955, 3, 3);
  EXPECT_EQ(readAllData(*f), want);
  f->close();

  // Records beyond the new size come first: the ones below it still apply.
  std::vector<uint8_t> unordered = makeImage(bytesOf("abcdef"));
  appendJournal(unordered, 6, {{8192, bytesOf("far")}, {1, bytesOf("B")}});
  backend->setImage(native("unordered"), unordered);
  auto g = openMemory("unordered");
  EXPECT_EQ(readAllData(*g), bytesOf("aBcdef"));
  g->close();
  expectChecked(image("unordered"), Expect::kClosed);
}

TEST_F(JournalTest, ForeignAndHostileHeadersAreRefusedUntouched) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* error;
  };
  std::vector<uint8_t> wrongMagic = makeImage(bytesOf("abc"));
  wrongMagic[7] = 8;
  std::vector<uint8_t> version = makeImage(bytesOf("abc"));
  version[11] = 2;
  std::vector<Case> cases = {
      {makeImage(bytesOf("abc")), "corrupt journal header (2)"},
      {wrongMagic, "not a journaled file"},
      {version, "unknown journaled file versions"},
      {makeImage(bytesOf("abc"), -1, -1 - (int64_t{1} << 40)), "corrupt journal header (1)"},
      {makeImage(bytesOf("abc"), -1, int64_t{1} << 40), "corrupt journal header (1)"},
  };
  cases[0].bytes[20] = 0x80;  // a negative journalPosition
  cases[3].bytes[12] = 0x80;  // a negative dataSize
  for (size_t i = 0; i < cases.size(); ++i) {
    std::string name = "foreign" + std::to_string(i);
    backend->setImage(native(name), cases[i].bytes);
    damagedOnPurpose.insert(native(name));
    auto f = std::make_unique<cJournaledFile>();
    f->newFile(0, 0);
    f->setIoBackend(backend);
    EXPECT_FALSE(f->open(Text(internal(name)), false, false, false)) << i;
    EXPECT_EQ(f->infoError().view(), cases[i].error) << i;
    EXPECT_STREQ(f->infoErrorSource(), "cJournaledFile.open()");
    EXPECT_FALSE(f->isOpen());
    EXPECT_EQ(image(name), cases[i].bytes) << i;
  }
  // An empty file on disk holds no magic either.
  tree.file("empty", "");
  cJournaledFile f;
  f.newFile(0, 0);
  EXPECT_FALSE(f.open(Text(internal("empty")), false, false, false));
  EXPECT_EQ(f.infoError().view(), "not a journaled file");
  EXPECT_EQ(std::filesystem::file_size(tree.host("empty")), 0u);
}

// The word-wise and folded checksum against the byte-wise road: random
// bytes (every value of the sign bit) and stretches of 0x80 and 0xFF, any
// start and length, and chains of pieces of any size.
TEST(JournalChecksum, WordWiseRoadMatchesTheByteWiseRoad) {
  std::mt19937 random(19);
  std::vector<uint8_t> bytes(5000);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  std::fill(bytes.begin() + 1000, bytes.begin() + 1100, 0x80);
  std::fill(bytes.begin() + 1100, bytes.begin() + 1163, 0xFF);
  for (int round = 0; round < 2000; ++round) {
    const size_t at = round % 3 == 0 ? 1000 + random() % 100 : random() % 64;
    const size_t n = round < 200 ? static_cast<size_t>(round) : random() % (bytes.size() - at);
    const auto seed = static_cast<uint32_t>(random());
    ASSERT_EQ(journalChecksum(seed, bytes.data() + at, n), journalChecksumBytewise(seed, bytes.data() + at, n))
        << at << " " << n;
    uint32_t chained = seed;
    for (size_t done = 0; done < n;) {
      size_t piece = std::min<size_t>(n - done, random() % 100);
      chained = journalChecksum(chained, bytes.data() + at + done, piece);
      done += piece;
    }
    ASSERT_EQ(chained, journalChecksumBytewise(seed, bytes.data() + at, n)) << at << " " << n;
  }
}

}  // namespace
}  // namespace bw::testing_journal
