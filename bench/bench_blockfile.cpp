// bench/bench_blockfile.cpp - the indexed block file against SQLite on the
// same filesystem, table (id INTEGER PRIMARY KEY, data BLOB) under
// journal_mode=DELETE and synchronous=FULL, one transaction per phase:
//   1. insert 100,000 payloads of 200-2,000 bytes, delete a random half,
//      insert 50,000 more: operations per second, and the file size divided
//      by the live payload bytes;
//   2. look up and read 100,000 random live records by index (by rowid).
// The folder is $BRINDLEWORK_BENCH_DIR, else the system's temporary folder.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "database/indexed_block_file.h"
#include "platform/assigns.h"
#include "platform/clock.h"

namespace {

constexpr int kFirstInserts = 100000;
constexpr int kSecondInserts = 50000;
constexpr int kLookups = 100000;

std::string benchFolder() {
  const char* base = std::getenv("BRINDLEWORK_BENCH_DIR");
  std::string pattern = std::string(base ? base : P_tmpdir) + "/bw-bench-blockfile-XXXXXX";
  return ::mkdtemp(pattern.data());
}

int64_t fileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// The workload both engines run: payload sizes and which half is deleted.
struct Workload {
  std::vector<int32_t> sizes1, sizes2;
  std::vector<size_t> deleteOrder;
  std::vector<uint8_t> bytes = std::vector<uint8_t>(2000);
  Workload() {
    std::mt19937 random(7);
    for (int i = 0; i < kFirstInserts; ++i) sizes1.push_back(200 + static_cast<int32_t>(random() % 1801));
    for (int i = 0; i < kSecondInserts; ++i) sizes2.push_back(200 + static_cast<int32_t>(random() % 1801));
    for (size_t i = 0; i < sizes1.size(); ++i) deleteOrder.push_back(i);
    std::shuffle(deleteOrder.begin(), deleteOrder.end(), random);
    deleteOrder.resize(sizes1.size() / 2);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
  }
};
const Workload& workload() {
  static const Workload w;
  return w;
}

double seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

struct Figures {
  double phase1OpsPerSecond = 0;
  double overhead = 0;
  double lookupsPerSecond = 0;
};

Figures runBlockFile() {
  const Workload& w = workload();
  std::string folder = benchFolder();
  bw::initTimerDevice();
  bw::journalModuleInit();
  bw::dos::assignAdd("BenchBlocks", folder);
  Figures figures;
  {
    bw::cJournaledIndexedBlockFile file;
    file.newFile(0, 0);
    if (!file.open(bw::Text("BenchBlocks:/bench.soup"), false, false, false)) std::abort();
    struct Live {
      int32_t index;
      int32_t size;
    };
    std::vector<Live> live;
    auto insert = [&](int32_t size) {
      bw::IndexedBlock b = file.allocateIndexBlock(size, false);
      file.setPosition(b.dataPosition);
      file.write(w.bytes.data(), size, 0, false);
      live.push_back({b.index, size});
    };
    auto start = std::chrono::steady_clock::now();
    {
      bw::JournalTransaction t(file);
      for (int32_t size : w.sizes1) insert(size);
    }
    {
      bw::JournalTransaction t(file);
      for (size_t k : w.deleteOrder) {
        file.deallocateIndex(live[k].index);
        live[k].index = 0;
      }
    }
    std::erase_if(live, [](const Live& l) { return l.index == 0; });
    {
      bw::JournalTransaction t(file);
      for (int32_t size : w.sizes2) insert(size);
    }
    double s = seconds(start);
    file.flush();
    int64_t payload = 0;
    for (const Live& l : live) payload += l.size;
    figures.phase1OpsPerSecond = (kFirstInserts + kFirstInserts / 2 + kSecondInserts) / s;
    figures.overhead = static_cast<double>(fileSize(folder + "/bench.soup")) / static_cast<double>(payload);

    std::mt19937 random(9);
    std::vector<uint8_t> buffer(2000);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kLookups; ++i) {
      const Live& l = live[random() % live.size()];
      file.setPosition(file.infoBlockOfIndex(l.index, false));
      file.read(buffer.data(), l.size, 0, bw::kNoStop);
      benchmark::DoNotOptimize(buffer.data());
    }
    figures.lookupsPerSecond = kLookups / seconds(start);
    file.close();
  }
  std::remove((folder + "/bench.soup").c_str());
  ::rmdir(folder.c_str());
  bw::dos::assignRemove("BenchBlocks");
  bw::journalModuleEnd();
  return figures;
}

void exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
}

Figures runSqlite() {
  const Workload& w = workload();
  std::string folder = benchFolder();
  std::string path = folder + "/bench.sqlite";
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
  exec(db, "PRAGMA journal_mode=DELETE");
  exec(db, "PRAGMA synchronous=FULL");
  exec(db, "CREATE TABLE t (id INTEGER PRIMARY KEY, data BLOB)");
  sqlite3_stmt *insertStmt = nullptr, *deleteStmt = nullptr, *selectStmt = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t (data) VALUES (?)", -1, &insertStmt, nullptr);
  sqlite3_prepare_v2(db, "DELETE FROM t WHERE id = ?", -1, &deleteStmt, nullptr);
  sqlite3_prepare_v2(db, "SELECT data FROM t WHERE id = ?", -1, &selectStmt, nullptr);
  struct Live {
    int64_t id;
    int32_t size;
  };
  std::vector<Live> live;
  auto insert = [&](int32_t size) {
    sqlite3_bind_blob(insertStmt, 1, w.bytes.data(), size, SQLITE_STATIC);
    if (sqlite3_step(insertStmt) != SQLITE_DONE) std::abort();
    sqlite3_reset(insertStmt);
    live.push_back({sqlite3_last_insert_rowid(db), size});
  };
  Figures figures;
  auto start = std::chrono::steady_clock::now();
  exec(db, "BEGIN");
  for (int32_t size : w.sizes1) insert(size);
  exec(db, "COMMIT");
  exec(db, "BEGIN");
  for (size_t k : w.deleteOrder) {
    sqlite3_bind_int64(deleteStmt, 1, live[k].id);
    if (sqlite3_step(deleteStmt) != SQLITE_DONE) std::abort();
    sqlite3_reset(deleteStmt);
    live[k].id = 0;
  }
  exec(db, "COMMIT");
  std::erase_if(live, [](const Live& l) { return l.id == 0; });
  exec(db, "BEGIN");
  for (int32_t size : w.sizes2) insert(size);
  exec(db, "COMMIT");
  double s = seconds(start);
  int64_t payload = 0;
  for (const Live& l : live) payload += l.size;
  figures.phase1OpsPerSecond = (kFirstInserts + kFirstInserts / 2 + kSecondInserts) / s;
  figures.overhead = static_cast<double>(fileSize(path)) / static_cast<double>(payload);

  std::mt19937 random(9);
  std::vector<uint8_t> buffer(2000);
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kLookups; ++i) {
    const Live& l = live[random() % live.size()];
    sqlite3_bind_int64(selectStmt, 1, l.id);
    if (sqlite3_step(selectStmt) != SQLITE_ROW) std::abort();
    std::copy_n(static_cast<const uint8_t*>(sqlite3_column_blob(selectStmt, 0)), sqlite3_column_bytes(selectStmt, 0),
                buffer.data());
    sqlite3_reset(selectStmt);
    benchmark::DoNotOptimize(buffer.data());
  }
  figures.lookupsPerSecond = kLookups / seconds(start);
  sqlite3_finalize(insertStmt);
  sqlite3_finalize(deleteStmt);
  sqlite3_finalize(selectStmt);
  sqlite3_close(db);
  std::remove(path.c_str());
  ::rmdir(folder.c_str());
  return figures;
}

void report(benchmark::State& state, const Figures& f) {
  state.counters["phase1_ops_per_s"] = f.phase1OpsPerSecond;
  state.counters["file_per_payload"] = f.overhead;
  state.counters["lookups_per_s"] = f.lookupsPerSecond;
}

void BM_BlockFileWorkload(benchmark::State& state) {
  for (auto _ : state) report(state, runBlockFile());
}
BENCHMARK(BM_BlockFileWorkload)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_SqliteWorkload(benchmark::State& state) {
  for (auto _ : state) report(state, runSqlite());
}
BENCHMARK(BM_SqliteWorkload)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
