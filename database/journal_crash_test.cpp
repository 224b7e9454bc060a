// database/journal_crash_test.cpp - crash simulation on the recording
// backend. A seeded workload is cut before every backend operation k, under a
// process crash (the operations before k reached the file) and under power
// loss (the last synced image plus random, torn parts of what followed).
// Every image must reopen to the contents of the last acknowledged commit or
// the one in flight, and the independent checker must agree. An ordering
// audit checks what reaches the backend during each commit.
#include <gtest/gtest.h>

#include <algorithm>

#include "database/journal_test_support.h"
#include "database/journal_workload_test_support.h"

namespace bw::testing_journal {
namespace {

using soupcheck::Expect;

constexpr int kOperations = 50;
constexpr int kPowerLossVariants = 8;

class JournalCrashTest : public JournalTest {
 protected:
  // A file holding some committed data, as the workloads start from.
  std::vector<uint8_t> startImage() {
    auto f = openMemory("seed", 0, pad_);
    writeAt(*f, 0, std::vector<uint8_t>(1500, 0x5A));
    f->close();
    return image("seed");
  }

  struct Run {
    std::vector<std::vector<uint8_t>> acknowledged;
    std::shared_ptr<CrashingIoBackend> backend;
    bool crashed = false;
  };
  // The workload on a fresh backend holding start, crashing before op k
  // (-1: never).
  Run runUntil(const std::vector<uint8_t>& start, int64_t k, uint64_t seed) {
    Run run;
    run.backend = std::make_shared<CrashingIoBackend>();
    run.backend->setImage(native("soup"), start);
    run.backend->crashBefore(k);
    auto f = std::make_unique<cJournaledFile>();
    f->newFile(pad_, 0);
    f->setIoBackend(run.backend);
    try {
      EXPECT_TRUE(f->open(Text(internal("soup")), false, false, false));
      runWorkload(*f, seed, kOperations, [&](const std::vector<uint8_t>& data) { run.acknowledged.push_back(data); });
      f->close();
    } catch (const SimulatedCrash&) {
      run.crashed = true;
    }
    f.reset();
    return run;
  }

  // Reopens an image left by a crash: the data must be commit i or i + 1.
  void expectRecovers(const std::vector<uint8_t>& crashImage, const Run& run, const std::string& what) {
    SCOPED_TRACE(what);
    soupcheck::Report before = soupcheck::check(crashImage, Expect::kCrashed, pad_);
    ASSERT_TRUE(before.clean()) << soupcheck::describe(before);
    size_t i = run.acknowledged.size() - 1;
    bool isI = before.effectiveData == run.acknowledged[i];
    bool isNext = i + 1 < expectedCommits_ && before.effectiveData == expectedAfter_[i + 1];
    EXPECT_TRUE(isI || isNext) << "checker's view is neither commit " << i << " nor the next";

    auto reopened = std::make_shared<CrashingIoBackend>();
    reopened->setImage(native("soup"), crashImage);
    cJournaledFile f;
    f.newFile(pad_, 0);
    f.setIoBackend(reopened);
    ASSERT_TRUE(f.open(Text(internal("soup")), false, false, false)) << f.infoError().view();
    EXPECT_EQ(readAllData(f), before.effectiveData) << "open disagrees with the checker";
    // The recovered file takes new commits.
    std::vector<uint8_t> want = before.effectiveData;
    want.resize(std::max<size_t>(want.size(), 40), pad_);
    std::fill_n(want.begin() + 30, 10, 0xAB);
    writeAt(f, 30, std::vector<uint8_t>(10, 0xAB));
    EXPECT_EQ(readAllData(f), want);
    f.close();
    expectChecked(reopened->image(native("soup")), Expect::kClosed, pad_);
  }

  // What every commit of the uncrashed workload leaves.
  void learnCommits(const std::vector<uint8_t>& start, uint64_t seed) {
    Run full = runUntil(start, -1, seed);
    expectedAfter_ = full.acknowledged;
    expectedCommits_ = full.acknowledged.size();
    totalOps_ = full.backend->opCount();
    fullLog_ = full.backend->log();
  }

  uint8_t pad_ = 0;
  std::vector<std::vector<uint8_t>> expectedAfter_;
  size_t expectedCommits_ = 0;
  int64_t totalOps_ = 0;
  std::vector<RecordedOp> fullLog_;
};

TEST_F(JournalCrashTest, EveryCrashPointRecoversACommittedState) {
  // Pad 0 grows the area over holes; another pad byte is written.
  for (auto [seed, pad] : {std::pair<uint64_t, uint8_t>{1, 0}, {2, 0}, {3, '#'}}) {
    pad_ = pad;
    const std::vector<uint8_t> start = startImage();
    learnCommits(start, seed);
    ASSERT_GT(totalOps_, 20);
    for (int64_t k = 0; k < totalOps_; ++k) {
      Run run = runUntil(start, k, seed);
      ASSERT_TRUE(run.crashed) << k;
      std::string where = "seed " + std::to_string(seed) + " crash before op " + std::to_string(k);
      expectRecovers(run.backend->image(native("soup")), run, where + " (process)");
      for (uint64_t v = 0; v < kPowerLossVariants; ++v) {
        expectRecovers(run.backend->powerLossImage(native("soup"), k * 131 + v), run,
                       where + " (power loss " + std::to_string(v) + ")");
      }
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(JournalCrashTest, CommitsSyncTwiceAndWriteNoDataBeforeTheJournalIsSynced) {
  auto f = openMemory("soup");
  writeAt(*f, 0, std::vector<uint8_t>(3000, 1));
  std::mt19937_64 random(7);
  for (int commit = 0; commit < 40; ++commit) {
    const int64_t committedBefore = f->infoCommittedSize();
    const size_t logFrom = backend->log().size();
    const std::vector<uint8_t> imageAtStart = image("soup");
    {
      JournalTransaction t(*f);
      int64_t size = f->getSize();
      if (commit % 5 == 4) f->setSize(static_cast<int64_t>(random() % 6000));
      std::vector<uint8_t> bytes(1 + random() % 2000, static_cast<uint8_t>(commit));
      f->setPosition(static_cast<int64_t>(random() % static_cast<uint64_t>(size + 100)));
      f->write(bytes.data(), static_cast<int64_t>(bytes.size()), 0, false);
    }
    const auto& log = backend->log();
    int syncs = 0;
    for (size_t i = logFrom; i < log.size(); ++i) {
      const RecordedOp& op = log[i];
      if (op.kind == RecordedOp::kSync) ++syncs;
      if (syncs > 0) continue;
      // Before the journal is synced no byte of dataSize or of the committed
      // data area may change. The file layer writes back whole chunk
      // prefixes, so unchanged neighbours may be written again as they are.
      const int64_t protectedEnd = 28 + committedBefore;
      if (op.kind == RecordedOp::kWrite) {
        for (size_t b = 0; b < op.bytes.size(); ++b) {
          int64_t at = op.offset + static_cast<int64_t>(b);
          bool guarded = (at >= 12 && at < 20) || (at >= 28 && at < protectedEnd);
          if (guarded && op.bytes[b] != imageAtStart[static_cast<size_t>(at)]) {
            ADD_FAILURE() << "commit " << commit << " changes byte " << at << " before the journal is synced";
            break;
          }
        }
      } else if (op.kind == RecordedOp::kTruncate) {
        EXPECT_GE(op.offset, protectedEnd) << "commit " << commit;
      }
    }
    EXPECT_EQ(syncs, 2) << "commit " << commit;
  }
  f->close();
  expectChecked(image("soup"), Expect::kClosed);
}

// A commit writes its journal with one write and then each stretch of
// changed bytes once, where it belongs (growth over the last journal's bytes
// before the journal); in a commit of many runs, changes a page or two apart
// in one write that puts back the bytes between them as they were; no pad bytes before a journal
// that lies past the end (the hole reads as pad 0).
TEST_F(JournalCrashTest, ACommitWritesItsJournalOnceAndEachChangedStretchOnce) {
  struct Write {
    int64_t at, length;
    bool operator==(const Write&) const = default;
  };
  struct Case {
    const char* what;
    std::vector<Write> changes;  // data positions
    std::vector<Write> writes;   // file offsets, in order
  };
  // count one-byte runs from at, step bytes apart.
  auto runs = [](int64_t at, int64_t step, int count) {
    std::vector<Write> r;
    for (int k = 0; k < count; ++k) r.push_back({at + k * step, 1});
    return r;
  };
  std::vector<Write> lastFarOff = runs(100, 40, 63);
  lastFarOff.push_back({9000, 1});
  const int64_t journal64 = 12 + 64 * 21 + 16;
  const Case cases[] = {
      {"one run", {{100, 10}}, {{13028, 12 + 30 + 16}, {128, 10}}},
      {"a run over a chunk's end: two records, one write", {{950, 100}}, {{13028, 12 + 30 + 110 + 16}, {978, 100}}},
      // A commit of many runs joins those on one page or the next.
      {"many runs on one page", runs(100, 40, 64), {{13028, journal64}, {128, 63 * 40 + 1}}},
      {"many runs on neighbouring pages", runs(100, 70, 64), {{13028, journal64}, {128, 63 * 70 + 1}}},
      {"many runs, the last a page beyond", lastFarOff, {{13028, journal64}, {128, 62 * 40 + 1}, {9028, 1}}},
      // A commit of a few runs writes no gap.
      {"two runs on one page", {{100, 10}, {3000, 5}}, {{13028, 12 + 40 + 15 + 16}, {128, 10}, {3028, 5}}},
      {"two runs on neighbouring pages", {{100, 10}, {5000, 5}}, {{13028, 12 + 40 + 15 + 16}, {128, 10}, {5028, 5}}},
      {"a page between two runs", {{100, 10}, {9000, 5}}, {{13028, 12 + 40 + 15 + 16}, {128, 10}, {9028, 5}}},
      // The last journal's 83 bytes lie where the area grows: that part of
      // the run goes before the new journal, the rest after it.
      {"growth: both header words",
       {{13000, 100}},
       {{20, 8}, {13028, 83}, {13128, 12 + 120 + 16}, {12, 8}, {13111, 17}}},
  };
  auto f = openMemory("soup");
  std::vector<uint8_t> data(13000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 % 251);
  writeAt(*f, 0, data);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    size_t from = backend->log().size();
    {
      JournalTransaction t(*f);
      for (const Write& w : c.changes) {
        f->setPosition(w.at);
        f->write(std::vector<uint8_t>(static_cast<size_t>(w.length), 7).data(), w.length, 0, false);
        data.resize(std::max(data.size(), static_cast<size_t>(w.at + w.length)));
        std::fill_n(data.begin() + w.at, w.length, 7);
      }
    }
    std::vector<Write> writes;
    for (size_t i = from; i < backend->log().size(); ++i) {
      const RecordedOp& op = backend->log()[i];
      if (op.kind == RecordedOp::kWrite) writes.push_back({op.offset, static_cast<int64_t>(op.bytes.size())});
    }
    EXPECT_EQ(writes, c.writes);
    const std::vector<uint8_t> now = image("soup");
    EXPECT_TRUE(std::equal(data.begin(), data.end(), now.begin() + 28));
  }
  f->close();
  expectChecked(image("soup"), Expect::kClosed);
}

// Every road that commits costs the journal's and the data's fsync and no
// more; a flush or a close with nothing pending costs none. The cut of the
// applied journal is never synced: a power loss that drops it replays the
// journal once more, to the same data.
TEST_F(JournalCrashTest, EveryCommitCostsTwoFsyncsAndALostCutReplaysHarmlessly) {
  auto syncsDuring = [&](auto&& work) {
    size_t from = backend->log().size();
    work();
    return std::count_if(backend->log().begin() + static_cast<std::ptrdiff_t>(from), backend->log().end(),
                         [](const RecordedOp& op) { return op.kind == RecordedOp::kSync; });
  };
  for (const char* road : {"finish at delay 0", "flush", "close"}) {
    SCOPED_TRACE(road);
    auto f = openMemory("road", std::string(road) == "finish at delay 0" ? 0 : -1);
    writeAt(*f, 0, std::vector<uint8_t>(3000, 1));
    f->flush();
    EXPECT_EQ(syncsDuring([&] { f->flush(); }), 0);
    EXPECT_EQ(syncsDuring([&] {
                writeAt(*f, 100, std::vector<uint8_t>(2000, 2));
                if (std::string(road) == "flush") f->flush();
                if (std::string(road) == "close") f->close();
              }),
              2);
    std::vector<uint8_t> committed(3000, 1);
    std::fill_n(committed.begin() + 100, 2000, 2);
    for (uint64_t v = 0; v < 16; ++v) {
      std::vector<uint8_t> lost = backend->powerLossImage(native("road"), v);
      soupcheck::Report r = soupcheck::check(lost, Expect::kCrashed);
      EXPECT_TRUE(r.clean()) << soupcheck::describe(r);
      EXPECT_EQ(r.effectiveData, committed) << "power loss variant " << v;
    }
    if (std::string(road) != "close") {
      EXPECT_EQ(syncsDuring([&] { f->flush(); }), 0);
      EXPECT_EQ(syncsDuring([&] { f->close(); }), 0);
    }
  }
}

}  // namespace
}  // namespace bw::testing_journal
