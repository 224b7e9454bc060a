// bench/bench_soup.cpp - the object soup against SQLite on the news model's
// pattern: items of 200-2,000 bytes with a feed id, created in transactions
// of 50 (one feed update each, flushed), loaded by index, saved, and a
// 100,000-node list walked through node headers.
//
// SQLite runs with journal_mode DELETE and synchronous FULL, items as rows
// (id INTEGER PRIMARY KEY, feed INTEGER, body BLOB). Counters: items/s and,
// for creation, the file size.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
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

constexpr int kItems = 100000;
constexpr int kPerTransaction = 50;

using bench_news::BenchItem;
using bench_news::fileSize;

std::string scratchDir() {
  static std::string dir = bench_news::makeScratchDir("BenchSoup");
  return dir;
}

std::vector<uint8_t> blob(std::mt19937& rng) {
  std::vector<uint8_t> b(200 + rng() % 1801);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// --- the soup --------------------------------------------------------------------------

struct SoupFixture {
  std::string path = scratchDir() + "/bench.soup";
  std::string internal = "BenchSoup:/bench.soup";
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
  int32_t listIndex = 0;

  void open() {
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(2);
    if (!db->openNew(Text(internal), false, false)) std::abort();
  }
  // Creates kItems items in transactions of 50, each flushed, all in one list.
  void fill() {
    std::mt19937 rng(1);
    CreatedList list = db->createObjectList();
    listIndex = list.index;
    for (int done = 0; done < kItems;) {
      int32_t t = db->beginTransaction();
      for (int i = 0; i < kPerTransaction; ++i, ++done) {
        auto* item = new BenchItem;
        item->feed = done / 1000;
        item->body = blob(rng);
        int32_t index = db->createdAndUnloadObject(item);
        list.list->insertAtTail(index);
      }
      db->finishTransaction(t);
      db->flush();
    }
    db->unloadObject(list.list);
  }
};

SoupFixture& loadedSoup() {
  static SoupFixture f = [] {
    SoupFixture s;
    s.open();
    s.fill();
    return s;
  }();
  return f;
}

void BM_SoupCreate(benchmark::State& state) {
  for (auto _ : state) {
    SoupFixture f;
    f.open();
    f.fill();
    f.db->close();
    state.counters["file_bytes"] = static_cast<double>(fileSize(f.path));
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_SoupCreate)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_SoupLoadByIndex(benchmark::State& state) {
  SoupFixture& f = loadedSoup();
  std::mt19937 rng(2);
  for (auto _ : state) {
    int32_t index = 2 + static_cast<int32_t>(rng() % kItems);
    cIndexedObject* o = f.db->loadObject(index, std::make_unique<BenchItem>());
    benchmark::DoNotOptimize(o);
    f.db->unloadObject(o);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SoupLoadByIndex);

void BM_SoupSaveInPlace(benchmark::State& state) {
  SoupFixture& f = loadedSoup();
  std::mt19937 rng(3);
  for (auto _ : state) {
    int32_t index = 2 + static_cast<int32_t>(rng() % kItems);
    auto* o = static_cast<BenchItem*>(f.db->loadObject(index, std::make_unique<BenchItem>()));
    o->body[0] ^= 1;  // same size: rewritten in place
    f.db->saveChangesToObject(o);
    f.db->unloadObject(o);
  }
  f.db->flush();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SoupSaveInPlace);

void BM_SoupSaveMoved(benchmark::State& state) {
  SoupFixture& f = loadedSoup();
  std::mt19937 rng(4);
  for (auto _ : state) {
    int32_t index = 2 + static_cast<int32_t>(rng() % kItems);
    auto* o = static_cast<BenchItem*>(f.db->loadObject(index, std::make_unique<BenchItem>()));
    // Half or double: always outside the block's keep range, so it moves.
    o->body.resize(o->body.size() > 1000 ? o->body.size() / 2 : o->body.size() * 2);
    f.db->saveChangesToObject(o);
    f.db->unloadObject(o);
  }
  f.db->flush();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SoupSaveMoved);

void BM_SoupWalkList(benchmark::State& state) {
  SoupFixture& f = loadedSoup();
  for (auto _ : state) {
    cIndexedObjectList* list = loadObject_cIndexedObjectList(*f.db, f.listIndex);
    int64_t n = 0;
    for (int32_t i = list->infoHeadIndex(); i != 0; i = f.db->readObjectNodeHeader(i).nextIndex) ++n;
    f.db->unloadObject(list);
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_SoupWalkList)->Unit(benchmark::kMillisecond);

// --- SQLite ------------------------------------------------------------------------------

struct Sqlite {
  std::string path = scratchDir() + "/bench.sqlite";
  sqlite3* db = nullptr;
  void exec(const char* sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
  void open() {
    unlink(path.c_str());
    sqlite3_open(path.c_str(), &db);
    exec("PRAGMA journal_mode=DELETE");
    exec("PRAGMA synchronous=FULL");
    exec("CREATE TABLE IF NOT EXISTS items(id INTEGER PRIMARY KEY, feed INTEGER, body BLOB)");
  }
  void fill() {
    std::mt19937 rng(1);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO items(feed, body) VALUES(?, ?)", -1, &insert, nullptr);
    for (int done = 0; done < kItems;) {
      exec("BEGIN");
      for (int i = 0; i < kPerTransaction; ++i, ++done) {
        std::vector<uint8_t> b = blob(rng);
        sqlite3_bind_int(insert, 1, done / 1000);
        sqlite3_bind_blob(insert, 2, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
      }
      exec("COMMIT");
    }
    sqlite3_finalize(insert);
  }
  ~Sqlite() {
    if (db) sqlite3_close(db);
  }
};

Sqlite& loadedSqlite() {
  static Sqlite s = [] {
    Sqlite q;
    q.open();
    q.fill();
    Sqlite moved;
    moved.db = q.db;
    q.db = nullptr;
    return moved;
  }();
  return s;
}

void BM_SqliteCreate(benchmark::State& state) {
  for (auto _ : state) {
    Sqlite q;
    q.open();
    q.fill();
    sqlite3_close(q.db);
    q.db = nullptr;
    state.counters["file_bytes"] = static_cast<double>(fileSize(q.path));
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_SqliteCreate)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_SqliteLoadByRowid(benchmark::State& state) {
  Sqlite& q = loadedSqlite();
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(q.db, "SELECT feed, body FROM items WHERE id = ?", -1, &select, nullptr);
  std::mt19937 rng(2);
  for (auto _ : state) {
    sqlite3_bind_int(select, 1, 1 + static_cast<int>(rng() % kItems));
    sqlite3_step(select);
    auto item = std::make_unique<BenchItem>();
    item->feed = sqlite3_column_int(select, 0);
    auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(select, 1));
    item->body.assign(p, p + sqlite3_column_bytes(select, 1));
    benchmark::DoNotOptimize(item);
    sqlite3_reset(select);
  }
  sqlite3_finalize(select);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SqliteLoadByRowid);

void BM_SqliteWalkOrdered(benchmark::State& state) {
  Sqlite& q = loadedSqlite();
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(q.db, "SELECT id FROM items ORDER BY id", -1, &select, nullptr);
  for (auto _ : state) {
    int64_t n = 0;
    while (sqlite3_step(select) == SQLITE_ROW) n += sqlite3_column_int(select, 0) != 0;
    sqlite3_reset(select);
    benchmark::DoNotOptimize(n);
  }
  sqlite3_finalize(select);
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_SqliteWalkOrdered)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bw
