// bench/bench_journal.cpp - the journaled file against SQLite on the same
// filesystem: single commits of 1 KiB random writes into a 16 MiB data area
// (SQLite: a random row's 1 KiB blob of 16k rows under DELETE/FULL and
// WAL/FULL), 1,000 writes in one commit, and the disk cost of one commit
// (fsyncs and bytes).
//
// The folder is $BRINDLEWORK_BENCH_DIR, else the system's temporary folder.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_counting_backend.h"
#include "database/journal_file.h"
#include "platform/assigns.h"
#include "platform/clock.h"

namespace {

constexpr int64_t kArea = 16 << 20;
constexpr int kRecord = 1024;
constexpr int kRows = kArea / kRecord;

std::string benchFolder() {
  const char* base = std::getenv("BRINDLEWORK_BENCH_DIR");
  std::string pattern = std::string(base ? base : P_tmpdir) + "/bw-bench-journal-XXXXXX";
  return ::mkdtemp(pattern.data());
}

struct JournalFixture {
  std::string folder = benchFolder();
  std::shared_ptr<bw::bench_io::CountingBackend> counting = std::make_shared<bw::bench_io::CountingBackend>();
  std::unique_ptr<bw::cJournaledFile> file = std::make_unique<bw::cJournaledFile>();
  explicit JournalFixture(int32_t delay) {
    bw::initTimerDevice();
    bw::journalModuleInit();
    bw::dos::assignAdd("BenchJournal", folder);
    file->newFile(0, delay);
    file->setIoBackend(counting);
    if (!file->open(bw::Text("BenchJournal:/bench.soup"), false, false, false)) {
      std::fprintf(stderr, "open: %s\n", std::string(file->infoError().view()).c_str());
      std::abort();
    }
    std::vector<uint8_t> block(1 << 20, 0x42);
    bw::JournalTransaction t(*file);
    for (int64_t at = 0; at < kArea; at += static_cast<int64_t>(block.size())) {
      file->setPosition(at);
      file->write(block.data(), static_cast<int64_t>(block.size()), 0, false);
    }
    t.finish();
    file->flush();
  }
  ~JournalFixture() {
    file->close();
    file.reset();
    std::remove((folder + "/bench.soup").c_str());
    ::rmdir(folder.c_str());
    bw::dos::assignRemove("BenchJournal");
    bw::journalModuleEnd();
  }
  void writeRandom(std::mt19937& random, const std::vector<uint8_t>& payload) {
    file->setPosition(static_cast<int64_t>(random() % (kArea - kRecord)));
    file->write(payload.data(), kRecord, 0, false);
  }
};

void BM_JournalSingleCommits(benchmark::State& state) {
  JournalFixture fx(0);
  std::mt19937 random(1);
  std::vector<uint8_t> payload(kRecord, 0x17);
  bw::bench_io::IoCounts before = fx.counting->counts;
  for (auto _ : state) {
    bw::JournalTransaction t(*fx.file);
    fx.writeRandom(random, payload);
  }
  state.SetItemsProcessed(state.iterations());
  // The disk cost of one commit.
  bw::bench_io::IoCounts spent = fx.counting->counts - before;
  state.counters["fsyncs_per_commit"] = static_cast<double>(spent.syncs) / static_cast<double>(state.iterations());
  state.counters["bytes_per_commit"] = static_cast<double>(spent.bytesWritten) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_JournalSingleCommits)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_JournalBatched1000(benchmark::State& state) {
  JournalFixture fx(-1);
  std::mt19937 random(2);
  std::vector<uint8_t> payload(kRecord, 0x18);
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      bw::JournalTransaction t(*fx.file);
      fx.writeRandom(random, payload);
    }
    fx.file->flush();
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_JournalBatched1000)->Unit(benchmark::kMillisecond)->UseRealTime();

struct SqliteFixture {
  std::string folder = benchFolder();
  sqlite3* db = nullptr;
  sqlite3_stmt* update = nullptr;
  explicit SqliteFixture(const char* journalMode) {
    std::string path = folder + "/bench.sqlite";
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
    exec(std::string("PRAGMA journal_mode=") + journalMode);
    exec("PRAGMA synchronous=FULL");
    exec("CREATE TABLE t(id INTEGER PRIMARY KEY, v BLOB)");
    exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr);
    std::vector<uint8_t> blob(kRecord, 0x42);
    for (int i = 0; i < kRows; ++i) {
      sqlite3_bind_int(insert, 1, i);
      sqlite3_bind_blob(insert, 2, blob.data(), kRecord, SQLITE_STATIC);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    exec("COMMIT");
    sqlite3_prepare_v2(db, "UPDATE t SET v=? WHERE id=?", -1, &update, nullptr);
  }
  ~SqliteFixture() {
    sqlite3_finalize(update);
    sqlite3_close(db);
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::remove((folder + "/bench.sqlite" + suffix).c_str());
    ::rmdir(folder.c_str());
  }
  void exec(const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
  void updateRandom(std::mt19937& random, const std::vector<uint8_t>& blob) {
    sqlite3_bind_blob(update, 1, blob.data(), kRecord, SQLITE_STATIC);
    sqlite3_bind_int(update, 2, static_cast<int>(random() % kRows));
    sqlite3_step(update);
    sqlite3_reset(update);
  }
};

void sqliteSingle(benchmark::State& state, const char* mode) {
  SqliteFixture fx(mode);
  std::mt19937 random(1);
  std::vector<uint8_t> blob(kRecord, 0x17);
  for (auto _ : state) fx.updateRandom(random, blob);  // autocommit: one transaction each
  state.SetItemsProcessed(state.iterations());
}
void BM_SqliteSingleDeleteFull(benchmark::State& state) { sqliteSingle(state, "DELETE"); }
void BM_SqliteSingleWalFull(benchmark::State& state) { sqliteSingle(state, "WAL"); }
BENCHMARK(BM_SqliteSingleDeleteFull)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_SqliteSingleWalFull)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();

void BM_SqliteBatched1000(benchmark::State& state) {
  SqliteFixture fx("DELETE");
  std::mt19937 random(2);
  std::vector<uint8_t> blob(kRecord, 0x18);
  for (auto _ : state) {
    fx.exec("BEGIN");
    for (int i = 0; i < 1000; ++i) fx.updateRandom(random, blob);
    fx.exec("COMMIT");
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_SqliteBatched1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The ratios, measured in alternating rounds so that a machine whose load
// drifts treats all three alike: journal commits per second divided by
// SQLite's, single commits (DELETE/FULL and WAL/FULL) and batches of 1,000.
// The separate benchmarks above run apart from each other, under other load;
// the ratios are computed only from the per-commit figures printed with them.
void BM_JournalVersusSqliteRatios(benchmark::State& state) {
  JournalFixture single(0);
  SqliteFixture deleteFull("DELETE");
  SqliteFixture walFull("WAL");
  std::mt19937 random(3);
  std::vector<uint8_t> payload(kRecord, 0x21);
  using Clock = std::chrono::steady_clock;
  double journalSeconds = 0, deleteSeconds = 0, walSeconds = 0;
  double journalBatch = 0, sqliteBatch = 0;
  auto timed = [](auto&& work) {
    auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  constexpr int kRound = 20;
  for (auto _ : state) {
    journalSeconds += timed([&] {
      for (int i = 0; i < kRound; ++i) {
        bw::JournalTransaction t(*single.file);
        single.writeRandom(random, payload);
      }
    });
    deleteSeconds += timed([&] {
      for (int i = 0; i < kRound; ++i) deleteFull.updateRandom(random, payload);
    });
    walSeconds += timed([&] {
      for (int i = 0; i < kRound; ++i) walFull.updateRandom(random, payload);
    });
    single.file->setCommitDelay(-1);
    journalBatch += timed([&] {
      for (int i = 0; i < 1000; ++i) {
        bw::JournalTransaction t(*single.file);
        single.writeRandom(random, payload);
      }
      single.file->flush();
    });
    single.file->setCommitDelay(0);
    sqliteBatch += timed([&] {
      deleteFull.exec("BEGIN");
      for (int i = 0; i < 1000; ++i) deleteFull.updateRandom(random, payload);
      deleteFull.exec("COMMIT");
    });
  }
  // Each ratio comes from the figures printed beside it.
  const double commits = static_cast<double>(state.iterations()) * kRound;
  const double batches = static_cast<double>(state.iterations());
  state.counters["journal_us_per_commit"] = journalSeconds / commits * 1e6;
  state.counters["delete_full_us_per_commit"] = deleteSeconds / commits * 1e6;
  state.counters["wal_full_us_per_commit"] = walSeconds / commits * 1e6;
  state.counters["single_vs_delete_full"] = deleteSeconds / journalSeconds;
  state.counters["single_vs_wal_full"] = walSeconds / journalSeconds;
  state.counters["journal_ms_per_batch"] = journalBatch / batches * 1e3;
  state.counters["sqlite_ms_per_batch"] = sqliteBatch / batches * 1e3;
  state.counters["batch_vs_one_transaction"] = sqliteBatch / journalBatch;
}
BENCHMARK(BM_JournalVersusSqliteRatios)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();

}  // namespace
