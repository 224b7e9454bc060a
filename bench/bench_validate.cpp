// bench/bench_validate.cpp - validation and defragmentation of a generated
// database against SQLite holding the same content: 100 feeds of 1,000 items
// with 200-2,000-byte bodies ($BRINDLEWORK_BENCH_ITEMS per feed), a fifth of
// the items deleted, about 100 MB.
//
//   Validate      validate (repair FALSE, keepSet TRUE) vs PRAGMA integrity_check;
//                 counters: peak RSS and peak RSS / database size.
//   ListsAgree    the start-up's check of the lists' links of a closed database.
//   Defragment    defragment (FALSE) of a fresh copy vs VACUUM of a fresh copy;
//                 counter: bytes written (/proc/self/io wchar).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_news_support.h"
#include "database/journal_file.h"
#include "database/soup_database.h"
#include "platform/assigns.h"
#include "platform/clock.h"

namespace bw {
namespace {

constexpr int kFeeds = 100;

int itemsPerFeed() {
  const char* n = std::getenv("BRINDLEWORK_BENCH_ITEMS");
  return n ? std::atoi(n) : 1000;
}

using bench_news::fileSize;
using Item = bench_news::BenchItem;

std::string scratchDir() {
  static std::string dir = bench_news::makeScratchDir("BenchValidate");
  return dir;
}

void copyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
}

// Bytes this process has written so far.
int64_t bytesWritten() {
  std::ifstream io("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (io >> key >> value) {
    if (key == "wchar:") return value;
  }
  return 0;
}

double peakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void sqliteExec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error ? error : "?");
    sqlite3_free(error);
    std::abort();
  }
}

// Both databases, generated once with the same content and deletions.
struct Generated {
  std::string soup = scratchDir() + "/news.soup";
  std::string sqlite = scratchDir() + "/news.sqlite";
  Generated() {
    std::mt19937 rng(42);
    auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(-1);
    if (!db->open("BenchValidate:/news.soup", false)) std::abort();
    db->setAutoCompact(false);  // keep the deletions' gaps for the pass
    sqlite3* sq = nullptr;
    sqlite3_open(sqlite.c_str(), &sq);
    sqliteExec(sq, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;"
                   "CREATE TABLE feeds(id INTEGER PRIMARY KEY);"
                   "CREATE TABLE items(id INTEGER PRIMARY KEY, feed INTEGER, body BLOB);");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(sq, "INSERT INTO items(id, feed, body) VALUES(?, ?, ?)", -1, &insert, nullptr);
    sqlite3_stmt* remove = nullptr;
    sqlite3_prepare_v2(sq, "DELETE FROM items WHERE id = ?", -1, &remove, nullptr);
    for (int f = 0; f < kFeeds; ++f) {
      int32_t t = db->beginTransaction();
      sqliteExec(sq, "BEGIN");
      CreatedList list = db->createObjectList();
      sqliteExec(sq, ("INSERT INTO feeds(id) VALUES(" + std::to_string(list.index) + ")").c_str());
      std::vector<int32_t> items;
      for (int i = 0; i < itemsPerFeed(); ++i) {
        auto item = std::make_unique<Item>();
        item->feed = list.index;
        item->body.resize(200 + rng() % 1801);
        for (auto& b : item->body) b = static_cast<uint8_t>(rng());
        std::vector<uint8_t> body = item->body;
        int32_t index = db->createdAndUnloadObject(item.release());
        list.list->insertAtTail(index);
        items.push_back(index);
        sqlite3_bind_int(insert, 1, index);
        sqlite3_bind_int(insert, 2, list.index);
        sqlite3_bind_blob(insert, 3, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
      }
      for (int32_t index : items) {
        if (rng() % 5 != 0) continue;
        list.list->remove(index);
        db->destroyObject(index);
        sqlite3_bind_int(remove, 1, index);
        sqlite3_step(remove);
        sqlite3_reset(remove);
      }
      db->unloadObject(list.list);
      db->finishTransaction(t);
      sqliteExec(sq, "COMMIT");
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(remove);
    sqlite3_close(sq);
    db->close();
  }
};

Generated& generated() {
  static Generated g;
  return g;
}

void Validate_Soup(benchmark::State& state) {
  Generated& g = generated();
  auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(-1);
  if (!db->open("BenchValidate:/news.soup", false)) std::abort();
  for (auto _ : state) {
    ValidationResult r = db->validate(false, false, true);
    if (!r.valid) state.SkipWithError("not valid");
    benchmark::DoNotOptimize(r.indices.get());
  }
  db->close();
  double mb = static_cast<double>(fileSize(g.soup)) / 1048576.0;
  state.counters["db_MB"] = mb;
  state.counters["peakRSS_MB"] = peakRssMb();
  state.counters["peakRSS_per_db"] = peakRssMb() / mb;
}
BENCHMARK(Validate_Soup)->Unit(benchmark::kMillisecond)->Iterations(3);

// The start-up's check of a database closed cleanly: the links of its lists
// alone, each time on a fresh open (no links remembered).
void ListsAgree_Soup(benchmark::State& state) {
  generated();
  for (auto _ : state) {
    state.PauseTiming();
    auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(-1);
    if (!db->open("BenchValidate:/news.soup", false)) std::abort();
    state.ResumeTiming();
    if (!db->listsAgree(false)) state.SkipWithError("lists do not agree");
    state.PauseTiming();
    db->close();
    state.ResumeTiming();
  }
}
BENCHMARK(ListsAgree_Soup)->Unit(benchmark::kMillisecond)->Iterations(3);

void Validate_SqliteIntegrityCheck(benchmark::State& state) {
  Generated& g = generated();
  sqlite3* sq = nullptr;
  sqlite3_open(g.sqlite.c_str(), &sq);
  for (auto _ : state) sqliteExec(sq, "PRAGMA integrity_check");
  sqlite3_close(sq);
  state.counters["db_MB"] = static_cast<double>(fileSize(g.sqlite)) / 1048576.0;
}
BENCHMARK(Validate_SqliteIntegrityCheck)->Unit(benchmark::kMillisecond)->Iterations(3);

void Defragment_Soup(benchmark::State& state) {
  Generated& g = generated();
  std::string copy = scratchDir() + "/copy.soup";
  int64_t written = 0;
  for (auto _ : state) {
    state.PauseTiming();
    copyFile(g.soup, copy);
    auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(-1);
    if (!db->open("BenchValidate:/copy.soup", false)) std::abort();
    int64_t before = bytesWritten();
    state.ResumeTiming();
    db->defragment(false);
    db->close();
    state.PauseTiming();
    written += bytesWritten() - before;
    state.ResumeTiming();
  }
  state.counters["bytes_written_MB"] = static_cast<double>(written) / 1048576.0 / static_cast<double>(state.iterations());
  state.counters["after_MB"] = static_cast<double>(fileSize(copy)) / 1048576.0;
}
BENCHMARK(Defragment_Soup)->Unit(benchmark::kMillisecond)->Iterations(2);

void Defragment_SqliteVacuum(benchmark::State& state) {
  Generated& g = generated();
  std::string copy = scratchDir() + "/copy.sqlite";
  int64_t written = 0;
  for (auto _ : state) {
    state.PauseTiming();
    copyFile(g.sqlite, copy);
    sqlite3* sq = nullptr;
    sqlite3_open(copy.c_str(), &sq);
    sqliteExec(sq, "PRAGMA synchronous=FULL");
    int64_t before = bytesWritten();
    state.ResumeTiming();
    sqliteExec(sq, "VACUUM");
    sqlite3_close(sq);
    state.PauseTiming();
    written += bytesWritten() - before;
    state.ResumeTiming();
  }
  state.counters["bytes_written_MB"] = static_cast<double>(written) / 1048576.0 / static_cast<double>(state.iterations());
  state.counters["after_MB"] = static_cast<double>(fileSize(copy)) / 1048576.0;
}
BENCHMARK(Defragment_SqliteVacuum)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace bw
