// database/journal_file_test.cpp - cJournaledFile as its users see it:
// positions, padded and terminated reads, nested transactions and their
// misuse, the commit policy on a stood clock, shrink and regrow, close with
// a transaction, the transaction guard, copies and the self-test.
#include "database/journal_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include <unistd.h>

#include "core/raise_test_support.h"
#include "platform/assigns.h"
#include "platform/path.h"
#include "database/journal_test_support.h"
#include "database/self_test.h"

namespace bw::testing_journal {
namespace {

using soupcheck::Expect;

std::vector<uint8_t> bytes(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

// The committed data area as the disk holds it now.
std::vector<uint8_t> committedData(const std::vector<uint8_t>& image) {
  int64_t size = getBig64(image.data() + 12);
  return std::vector<uint8_t>(image.begin() + 28, image.begin() + 28 + size);
}

TEST_F(JournalTest, MisuseIsRefusedWithItsMessage) {
  auto f = openMemory("soup");
  expectRaise([&] { f->write("", 0, 0, false); }, "EMU",
              "cJournaledFile.write(); no transactions have been started yet using beginTransaction()");
  expectRaise([&] { f->setSize(5); }, "EMU",
              "cJournaledFile.setSize(); no transactions have been started yet using beginTransaction()");
  expectRaise([&] { f->setSize(-1); }, "EMU", "cJournaledFile.setSize(); sizeInBytes<0");
  expectRaise([&] { f->finishTransaction(1); }, "TRAN",
              "cJournaledFile.finishTransaction(); there are no outstanding transactions");
  int32_t t = f->beginTransaction();
  expectRaise([&] { f->write(nullptr, 1, 0, false); }, "EMU", "cJournaledFile.write(); buffer=NILA");
  expectRaise([&] { f->write("x", -1, 0, false); }, "EMU", "cJournaledFile.write(); lengthInBytes<0");
  expectRaise([&] { f->write("x", 1, -1, false); }, "EMU", "cJournaledFile.write(); offsetInBytes<0");
  char c;
  expectRaise([&] { f->read(&c, -1, 0, -1); }, "EMU", "cJournaledFile.read(); lengthInBytes<0");
  expectRaise([&] { f->read(nullptr, 1, 0, -1); }, "EMU", "cJournaledFile.read(); buffer=NILA");
  expectRaise([&] { f->read(&c, 1, -1, -1); }, "EMU", "cJournaledFile.read(); offsetInBytes<0");
  expectRaise([&] { f->open(Text(internal("other")), false, false, false); }, "EMU",
              "cJournaledFile.open(); a file is already open");
  f->finishTransaction(t);
  cJournaledFile unopened;
  unopened.newFile(0, 0);
  expectRaise([&] { unopened.read(&c, 1, 0, -1); }, "EMU", "cJournaledFile.read(); file not open");
  EXPECT_FALSE(unopened.open(Text(internal("x")), true, false, false));  // for reading: a missing file is not made
  EXPECT_FALSE(cPath::ExistsPath(Text(internal("x")), false));
  unopened.close();  // closing, flushing or discarding an unopened file touches nothing
  unopened.flush();
  unopened.discardChanges();
}

TEST_F(JournalTest, PositionsReadsAndTerminators) {
  auto f = openMemory("soup", 0, '#');
  writeAt(*f, 0, bytes("ab\ncd"));
  f->setPosition(-1);
  EXPECT_EQ(f->getPosition(false), 5);
  EXPECT_EQ(f->getPosition(true), -1);
  expectRaise([&] { f->setPosition(-7); }, "EMU",
              "cJournaledFile.setPosition(); position before start of file is illegal");
  f->setPosition(-6);
  EXPECT_EQ(f->getPosition(false), 0);

  char buf[10];
  f->setPosition(1);  // 10 bytes from 4 before the end
  ReadResult r = f->read(buf, 10, 0, -1);
  EXPECT_EQ(r.next, 11);
  EXPECT_EQ(r.numOfPadBytes, 6);
  EXPECT_EQ(std::string(buf, 10), "b\ncd######");

  f->setPosition(0);  // a, b, line feed, c, d with terminator 10
  r = f->read(buf, 5, 0, 10);
  EXPECT_EQ(r.next, 3);
  EXPECT_EQ(r.numOfPadBytes, 2);
  EXPECT_EQ(std::string(buf, 5), "ab\n##");

  // Two writes without setPosition land at the same place; a write beyond
  // the end leaves a gap of pad bytes, before and after the commit.
  {
    JournalTransaction t(*f);
    f->setPosition(8);
    f->write("Goodbye", 7, 0, false);
    f->write("GOOD", 4, 0, false);
    EXPECT_EQ(readAllData(*f), bytes("ab\ncd###GOODbye"));
  }
  EXPECT_EQ(readAllData(*f), bytes("ab\ncd###GOODbye"));
  {
    JournalTransaction t(*f);  // noGrow keeps the size and cuts the write
    f->setPosition(13);
    WriteResult w = f->write("XYZW", 4, 0, true);
    EXPECT_EQ(w.next, 15);
    EXPECT_EQ(w.notWritten, 2);
  }
  EXPECT_EQ(readAllData(*f), bytes("ab\ncd###GOODbXY"));
  f->close();
  EXPECT_EQ(committedData(image("soup")), bytes("ab\ncd###GOODbXY"));
  expectChecked(image("soup"), Expect::kClosed, '#');
}

TEST_F(JournalTest, NestedTransactionsCommitAtTheOutermostFinish) {
  auto f = openMemory("soup");
  int32_t outer = f->beginTransaction();
  f->write("outer", 5, 0, false);
  int32_t inner = f->beginTransaction();
  f->setPosition(5);
  f->write("inner", 5, 0, false);
  f->finishTransaction(inner);
  EXPECT_EQ(committedData(image("soup")), bytes(""));
  f->finishTransaction(outer);
  EXPECT_EQ(committedData(image("soup")), bytes("outerinner"));

  // An inner transaction finished out of order loses the outer writes too.
  outer = f->beginTransaction();
  f->setPosition(0);
  f->write("OUTER", 5, 0, false);
  inner = f->beginTransaction();
  expectRaise([&] { f->finishTransaction(outer); }, "TRAN",
              "cJournaledFile.finishTransaction(); the wrong transaction was finished");
  EXPECT_EQ(f->infoTransactionDepth(), 0);
  EXPECT_FALSE(f->infoCommitPending());
  EXPECT_EQ(readAllData(*f), bytes("outerinner"));
  (void)inner;
  // The file goes on: the next transaction commits normally.
  writeAt(*f, 0, bytes("O"));
  EXPECT_EQ(committedData(image("soup")), bytes("Outerinner"));
}

TEST_F(JournalTest, CommitPolicyOnAStoodClock) {
  auto f = openMemory("soup", 2);  // opened at now = 1000
  now = 1001;
  writeAt(*f, 0, bytes("one"));
  EXPECT_TRUE(f->infoCommitPending());
  now = 1002;  // 2 seconds are not more than 2
  writeAt(*f, 3, bytes("two"));
  EXPECT_EQ(committedData(image("soup")), bytes(""));
  now = 1003;
  writeAt(*f, 6, bytes("three"));
  EXPECT_EQ(committedData(image("soup")), bytes("onetwothree"));

  f->setCommitDelay(-1);
  now = 5000;
  writeAt(*f, 0, bytes("ONE"));
  EXPECT_EQ(committedData(image("soup")), bytes("onetwothree"));
  f->flush();
  EXPECT_EQ(committedData(image("soup")), bytes("ONEtwothree"));

  // 2 MiB written since the last commit force one whatever the delay.
  std::vector<uint8_t> big(kJournalForceCommitBytes - 1, 'x');
  writeAt(*f, 0, big);
  EXPECT_TRUE(f->infoCommitPending());
  writeAt(*f, 0, bytes("y"));
  EXPECT_FALSE(f->infoCommitPending());
  EXPECT_EQ(committedData(image("soup")).size(), big.size());
  f->close();
  expectChecked(image("soup"), Expect::kClosed);
}

TEST_F(JournalTest, ShrinkThenRegrowKeepsTheCachedBytes) {
  auto f = openMemory("soup", 0, '#');
  writeAt(*f, 0, bytes("0123456789"));
  {
    JournalTransaction t(*f);
    f->setPosition(12);
    f->write("ab", 2, 0, false);
    f->setSize(4);
    EXPECT_EQ(readAllData(*f), bytes("0123"));
    char past[4];
    f->setPosition(11);
    EXPECT_EQ(f->read(past, 4, 0, -1).numOfPadBytes, 4);
    EXPECT_EQ(std::string(past, 4), "####");  // the cached "ab" stays hidden
    f->setSize(14);
    EXPECT_EQ(readAllData(*f), bytes("0123456789##ab"));
  }
  EXPECT_EQ(committedData(image("soup")), bytes("0123456789##ab"));
  // Across commits: cut to 3, then grow again: the old bytes stay gone.
  {
    JournalTransaction t(*f);
    f->setSize(3);
  }
  {
    JournalTransaction t(*f);
    f->setSize(6);
  }
  EXPECT_EQ(readAllData(*f), bytes("012###"));
  f->close();
  EXPECT_EQ(committedData(image("soup")), bytes("012###"));
  expectChecked(image("soup"), Expect::kClosed, '#');
}

TEST_F(JournalTest, CloseWithATransactionDiscardsThenClosesTheSecondTime) {
  auto f = openMemory("soup");
  writeAt(*f, 0, bytes("kept"));
  f->beginTransaction();
  f->write("lost", 4, 0, false);
  expectRaise([&] { f->close(); }, "TRAN", "cJournaledFile.close(); there were outstanding transactions");
  EXPECT_TRUE(f->isOpen());
  EXPECT_EQ(readAllData(*f), bytes("kept"));
  f->close();
  EXPECT_FALSE(f->isOpen());
  EXPECT_EQ(committedData(image("soup")), bytes("kept"));
  expectChecked(image("soup"), Expect::kClosed);

  // closeDiscarding and the destructor go back to the last commit when a
  // transaction is open; without one they commit what waits.
  auto g = openMemory("soup", -1);
  writeAt(*g, 0, bytes("K"));
  g->beginTransaction();
  g->write("L", 1, 0, false);
  g->closeDiscarding();
  EXPECT_EQ(committedData(image("soup")), bytes("kept"));
  auto h = openMemory("soup", -1);
  writeAt(*h, 1, bytes("E"));
  h->beginTransaction();
  h.reset();
  EXPECT_EQ(committedData(image("soup")), bytes("kept"));
  auto k = openMemory("soup", -1);
  writeAt(*k, 1, bytes("E"));
  k->closeDiscarding();
  EXPECT_EQ(committedData(image("soup")), bytes("kEpt"));
  auto m = openMemory("soup", -1);
  writeAt(*m, 2, bytes("P"));
  m.reset();
  EXPECT_EQ(committedData(image("soup")), bytes("kEPt"));
  expectChecked(image("soup"), Expect::kClosed);
}

// A layer above that mirrors the file and counts the discards.
class MirroringFile : public cJournaledFile {
 public:
  int discarded = 0;

 protected:
  void changesDiscarded() override { ++discarded; }
};

TEST_F(JournalTest, GuardDiscardsOnExceptionSoNothingDangles) {
  MirroringFile f;
  f.newFile(0, 0);
  f.setIoBackend(backend);
  ASSERT_TRUE(f.open(Text(internal("soup")), false, false, false));
  writeAt(f, 0, bytes("base"));
  try {
    JournalTransaction outer(f);
    f.write("XX", 2, 0, false);
    JournalTransaction inner(f);
    raise("BUG", "an operation failed half-way");
  } catch (const eException& e) {
    EXPECT_EQ(e.message(), "an operation failed half-way");
  }
  EXPECT_EQ(f.discarded, 1);
  EXPECT_EQ(f.infoTransactionDepth(), 0);
  EXPECT_EQ(readAllData(f), bytes("base"));
  // Later changes commit: the failed operation left no transaction behind.
  writeAt(f, 4, bytes("+"));
  EXPECT_EQ(committedData(image("soup")), bytes("base+"));
  // Misuse and explicit discards run the hook as well.
  expectRaise([&] { f.finishTransaction(99); }, "TRAN",
              "cJournaledFile.finishTransaction(); there are no outstanding transactions");
  EXPECT_EQ(f.discarded, 2);
  f.close();
  expectChecked(image("soup"), Expect::kClosed);
}

TEST_F(JournalTest, CopyHoldsTheCachedChangesCommitted) {
  tree.file("x");  // the folder exists on disk for the copy
  auto f = std::make_unique<cJournaledFile>();
  f->newFile(0, -1);
  ASSERT_TRUE(f->open(Text(internal("source")), false, false, false));
  writeAt(*f, 0, bytes("committed"));
  f->flush();
  writeAt(*f, 0, bytes("C"));  // waiting in the cache
  f->beginTransaction();
  expectRaise([&] { f->makeCopy(Text(internal("copy"))); }, "EMU",
              "cJournaledFile.makeCopy(); there are outstanding transactions");
  f->discardChanges();
  writeAt(*f, 0, bytes("C"));
  auto copy = f->makeCopy(Text(internal("copy")));
  ASSERT_TRUE(copy);
  auto* journaled = dynamic_cast<cJournaledFile*>(copy.get());
  ASSERT_TRUE(journaled);
  EXPECT_EQ(readAllData(*journaled), bytes("Committed"));
  EXPECT_FALSE(journaled->infoCommitPending());
  copy->close();
  f->close();
  auto read = [&](const char* name) {
    std::string all = testing_paths::readAll(tree.host(name));
    return std::vector<uint8_t>(all.begin(), all.end());
  };
  EXPECT_EQ(committedData(read("copy")), bytes("Committed"));
  expectChecked(read("copy"), Expect::kClosed);
  expectChecked(read("source"), Expect::kClosed);
}

// Reads of every shape (inside one chunk or across several; cached, partly
// cached, from the file or past the end) against a model of the data area,
// through writes, size changes, commits and discards, over a file larger
// than the page memo.
// Two files take the same seeded operations: one through readAt and writeAt
// (the block layers' roads, short for a range inside one chunk), the other through setPosition and read or write. Every read of either must
// match a model of the data area, and the files must end byte for byte the
// same. Positions crowd at chunk, bitmap word and page edges and on a few
// hot chunks, lengths are mostly short; transactions nest and are discarded.
// A third file on the disk takes the roads' operations, its reads served by
// its mapping.
TEST_F(JournalTest, PositionedRoadsMatchTheGeneralRoadAndTheModel) {
  std::unique_ptr<cJournaledFile> files[] = {openMemory("roads", -1, '#'), openMemory("general", -1, '#'),
                                             openDisk("mapped", -1, '#')};
  cJournaledFile& roads = *files[0];
  cJournaledFile& mapped = *files[2];
  std::mt19937_64 random(36);
  auto below = [&](int64_t n) { return static_cast<int64_t>(random() % static_cast<uint64_t>(n)); };
  constexpr int64_t kSpan = 1200000;
  auto position = [&]() -> int64_t {
    switch (below(5)) {
      case 0: return below(kSpan);
      case 1: return std::max<int64_t>(0, kChunkSize * below(kSpan / kChunkSize) + below(80) - 40);
      case 2: return std::max<int64_t>(0, 4096 * below(kSpan / 4096) + below(80) - 40);
      case 3: return std::max<int64_t>(0, 32 * below(kSpan / 32) + below(8) - 4);
      default: return 48000 + below(5000);  // a few chunks, again and again
    }
  };
  auto length = [&]() -> int64_t {
    const int64_t k = below(100);
    return k < 80 ? 1 + below(32) : (k < 97 ? 1 + below(200) : 1 + below(4000));
  };
  std::vector<uint8_t> committed;
  std::vector<int16_t> cached;  // -1: not written since the last commit
  int64_t size = 0;
  std::vector<int32_t> open;    // the ids of both files' open transactions
  auto expected = [&](int64_t q) -> uint8_t {
    auto i = static_cast<size_t>(q);
    if (q >= size) return '#';
    if (i < cached.size() && cached[i] >= 0) return static_cast<uint8_t>(cached[i]);
    return i < committed.size() ? committed[i] : '#';
  };
  auto commitModel = [&] {
    std::vector<uint8_t> now(static_cast<size_t>(size));
    for (int64_t q = 0; q < size; ++q) now[static_cast<size_t>(q)] = expected(q);
    committed = std::move(now);
    cached.clear();
  };
  auto begin = [&] {
    const int32_t id = roads.beginTransaction();
    ASSERT_EQ(files[1]->beginTransaction(), id);
    ASSERT_EQ(mapped.beginTransaction(), id);
    open.push_back(id);
  };
  auto finish = [&] {  // the outermost finish commits at 2 MiB written
    const bool due = open.size() == 1 && roads.infoBytesWritten() >= kJournalForceCommitBytes;
    for (auto& f : files) f->finishTransaction(open.back());
    open.pop_back();
    if (due) commitModel();
  };
  for (int step = 0; step < 6000; ++step) {
    const int64_t kind = below(100);
    if (kind < 40) {
      std::vector<uint8_t> data(static_cast<size_t>(length()));
      for (auto& b : data) b = static_cast<uint8_t>(random());
      const int64_t at = position();
      const bool own = open.empty();
      if (own) begin();
      roads.writeAt(at, data.data(), static_cast<int64_t>(data.size()));
      mapped.writeAt(at, data.data(), static_cast<int64_t>(data.size()));
      files[1]->setPosition(at);
      files[1]->write(data.data(), static_cast<int64_t>(data.size()), 0, false);
      if (own) finish();
      cached.resize(std::max(cached.size(), static_cast<size_t>(at) + data.size()), -1);
      std::copy(data.begin(), data.end(), cached.begin() + at);
      size = std::max<int64_t>(size, at + static_cast<int64_t>(data.size()));
    } else if (kind < 42) {
      size = below(kSpan);
      begin();
      for (auto& f : files) f->setSize(size);
      finish();
    } else if (kind < 46 && open.size() < 4) {
      begin();
    } else if (kind < 50 && !open.empty()) {
      finish();
    } else if (kind < 51 && open.empty()) {
      for (auto& f : files) f->flush();
      commitModel();
    } else if (kind < 52) {
      for (auto& f : files) f->discardChanges();
      open.clear();
      cached.clear();
      size = static_cast<int64_t>(committed.size());
    } else {
      const int64_t at = below(2) ? below(size + 100) : position();
      std::vector<uint8_t> got[2];
      for (auto& g : got) g.resize(static_cast<size_t>(length()));
      got[1].resize(got[0].size());
      std::vector<uint8_t> view(got[0].size());
      mapped.readAt(at, view.data(), static_cast<int64_t>(view.size()));
      roads.readAt(at, got[0].data(), static_cast<int64_t>(got[0].size()));
      files[1]->setPosition(at);
      files[1]->read(got[1].data(), static_cast<int64_t>(got[1].size()), 0, -1);
      for (size_t i = 0; i < got[0].size(); ++i) {
        const int64_t q = at + static_cast<int64_t>(i);
        ASSERT_EQ(got[0][i], expected(q)) << "step " << step << " at " << q << " (readAt)";
        ASSERT_EQ(got[1][i], expected(q)) << "step " << step << " at " << q << " (read)";
        ASSERT_EQ(view[i], expected(q)) << "step " << step << " at " << q << " (mapped readAt)";
      }
    }
  }
  while (!open.empty()) finish();
  for (auto& f : files) f->flush();
  mapped.closeDiscarding();
  for (int k = 0; k < 2; ++k) files[k]->close();
  EXPECT_EQ(image("roads"), image("general"));
}

TEST_F(JournalTest, SelfTestOutput) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  journaledFileSelfTest(out);
  std::fclose(out);
  EXPECT_EQ(std::string(text, size),
            "CACHED Read \"Hello world.# GOODbye!\" (size=22)\n"
            "Direct Read \"Hello world.# GOODbye!\"\n"
            "They are the same.\n"
            "Finished.\n");
  std::free(text);
  std::string host = dos::lookupDevice("RAM").folders.at(0) + "/testJournal.txt";
  std::string all = testing_paths::readAll(host);
  expectChecked(std::vector<uint8_t>(all.begin(), all.end()), Expect::kClosed, '#');
}

}  // namespace
}  // namespace bw::testing_journal
