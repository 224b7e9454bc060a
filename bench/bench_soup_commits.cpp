// bench/bench_soup_commits.cpp - the soup's write path against SQLite in one
// run: objects of 200 bytes and a sequence number, three of four linked into
// a list, committed durably (finish, then flush, as the application does)
// one or fifty to a commit; then the list walked (after the commits, again,
// and first thing after both are opened again) and objects loaded by index.
// Commits are timed on the wall clock (fsync waits count), and their CPU
// time is printed beside; walks and loads in the thread's CPU time. The
// walks after an open take turns at going first, and each side's figure is
// its median walk.
//
// SQLite holds the same rows (id INTEGER PRIMARY KEY, list, seq, body; an
// index on (list, id) for the walk) with synchronous FULL, under journal_mode
// DELETE and WAL. Rounds alternate between the three stores so that drifting
// load treats them alike. Every ratio is computed from the figures printed
// beside it; the disk cost of a soup commit (fsyncs, pread and pwrite calls,
// bytes written against bytes the commit changed) is counted through the I/O
// backend. The scratch folder is removed at the end.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_counting_backend.h"
#include "bench/bench_news_support.h"
#include "bench/bench_samples.h"
#include "database/journaled_soup_file.h"
#include "database/soup_database.h"

namespace bw {
namespace {

constexpr int kBody = 200;
constexpr int kStartObjects = 2000;

std::string scratchDir() {
  static std::string dir = bench_news::makeScratchDir("BenchCommits");
  return dir;
}

class Payload : public cIndexedObjectNode {
 public:
  int32_t sequence = 0;
  std::vector<uint8_t> body = std::vector<uint8_t>(kBody);
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    cIndexedObjectNode::restore(stream, doStore);
    sequence = transferValue(stream, doStore, sequence);
    if (doStore) {
      stream.write(body.data(), kBody);
    } else {
      stream.read(body.data(), kBody);
    }
  }
};

using bench::median;
using bench::timed;
// The thread's CPU seconds for work: the reads wait for no disk on either
// side, and time the shared machine gives to others is not counted.
template <class Work>
double cpuTimed(Work&& work) {
  auto now = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  };
  double start = now();
  work();
  return now() - start;
}

struct Soup {
  std::shared_ptr<bench_io::CountingBackend> counting = std::make_shared<bench_io::CountingBackend>();
  JournaledSoupBlockFile* file = nullptr;
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
  cIndexedObjectList* list = nullptr;
  int32_t listIndex = 0;
  int32_t sequence = 0;
  std::mt19937 random{1};
  int64_t bytesChanged = 0;  // what the commits handed to the journaled file

  std::string path;

  explicit Soup(const char* name) : path(std::string("BenchCommits:/") + name) {
    scratchDir();  // makes the assign
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(newFile());
    if (!db->openNew(Text(path), false, false)) std::abort();
    CreatedList created = db->createObjectList();
    list = created.list;
    listIndex = created.index;
    for (int i = 0; i < kStartObjects; i += 50) commit(50);
  }
  ~Soup() {
    db->unloadObject(list);
    db->close();
  }
  std::unique_ptr<JournaledSoupBlockFile> newFile() {
    auto f = std::make_unique<JournaledSoupBlockFile>(2);
    f->file().setIoBackend(counting);
    file = f.get();
    return f;
  }
  // Closes and opens again: nothing of the file stays in memory.
  void reopen() {
    db->unloadObject(list);
    db->close();
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(newFile());
    if (!db->open(Text(path), false)) std::abort();
    list = nullptr;  // the caller loads it again
  }
  int64_t walk() {
    int64_t n = 0;
    cIndexedObjectList* walked = loadObject_cIndexedObjectList(*db, listIndex);
    for (int32_t i = walked->infoHeadIndex(); i != 0; i = db->readObjectNodeHeader(i).nextIndex) ++n;
    db->unloadObject(walked);
    return n;
  }
  void commit(int objects) {
    int32_t t = db->beginTransaction();
    for (int i = 0; i < objects; ++i) {
      auto* p = new Payload;
      p->sequence = sequence++;
      for (auto& b : p->body) b = static_cast<uint8_t>(random());
      int32_t index = db->createdAndUnloadObject(p);
      if (p->sequence % 4 != 3) list->insertAtTail(index);
    }
    db->finishTransaction(t);
    bytesChanged += file->file().infoBytesWritten();
    db->flush();
  }
};

struct Sqlite {
  std::string path;
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  int32_t sequence = 0;
  std::mt19937 random{1};

  Sqlite(const char* name, const char* mode) : path(scratchDir() + "/" + name) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
    exec(std::string("PRAGMA journal_mode=") + mode);
    exec("PRAGMA synchronous=FULL");
    exec("CREATE TABLE items(id INTEGER PRIMARY KEY, list INTEGER, seq INTEGER, body BLOB)");
    exec("CREATE INDEX items_list ON items(list, id)");
    sqlite3_prepare_v2(db, "INSERT INTO items(list, seq, body) VALUES(?, ?, ?)", -1, &insert, nullptr);
    for (int i = 0; i < kStartObjects; i += 50) commit(50);
  }
  ~Sqlite() {
    sqlite3_finalize(insert);
    sqlite3_close(db);
  }
  // Closes and opens again: the page cache starts empty.
  void reopen() {
    sqlite3_finalize(insert);
    sqlite3_close(db);
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
    exec("PRAGMA synchronous=FULL");
    sqlite3_prepare_v2(db, "INSERT INTO items(list, seq, body) VALUES(?, ?, ?)", -1, &insert, nullptr);
  }
  void exec(const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
  void commit(int rows) {
    exec("BEGIN");
    std::vector<uint8_t> body(kBody);
    for (int i = 0; i < rows; ++i) {
      int32_t seq = sequence++;
      for (auto& b : body) b = static_cast<uint8_t>(random());
      if (seq % 4 != 3) {
        sqlite3_bind_int(insert, 1, 1);
      } else {
        sqlite3_bind_null(insert, 1);
      }
      sqlite3_bind_int(insert, 2, seq);
      sqlite3_bind_blob(insert, 3, body.data(), kBody, SQLITE_STATIC);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    exec("COMMIT");
  }
};

// Durable commits of `objects` each: objects per second of the three stores
// and the soup's disk cost per commit.
void durableCommits(benchmark::State& state, int objects) {
  Soup soup(objects == 1 ? "one.soup" : "fifty.soup");
  Sqlite deleteFull(objects == 1 ? "one-delete.sqlite" : "fifty-delete.sqlite", "DELETE");
  Sqlite walFull(objects == 1 ? "one-wal.sqlite" : "fifty-wal.sqlite", "WAL");
  const int perRound = objects == 1 ? 20 : 4;
  double soupSeconds = 0, deleteSeconds = 0, walSeconds = 0;
  double soupCpu = 0, deleteCpu = 0, walCpu = 0;
  bench_io::IoCounts spent;
  int64_t changed = 0;
  for (auto _ : state) {
    bench_io::IoCounts before = soup.counting->counts;
    int64_t changedBefore = soup.bytesChanged;
    soupCpu += cpuTimed([&] {
      soupSeconds += timed([&] {
        for (int i = 0; i < perRound; ++i) soup.commit(objects);
      });
    });
    bench_io::IoCounts round = soup.counting->counts - before;
    spent.syncs += round.syncs;
    spent.reads += round.reads;
    spent.writes += round.writes;
    spent.bytesWritten += round.bytesWritten;
    changed += soup.bytesChanged - changedBefore;
    deleteCpu += cpuTimed([&] {
      deleteSeconds += timed([&] {
        for (int i = 0; i < perRound; ++i) deleteFull.commit(objects);
      });
    });
    walCpu += cpuTimed([&] {
      walSeconds += timed([&] {
        for (int i = 0; i < perRound; ++i) walFull.commit(objects);
      });
    });
  }
  const double commits = static_cast<double>(state.iterations()) * perRound;
  const double total = commits * objects;
  state.counters["soup_objects_per_s"] = total / soupSeconds;
  state.counters["delete_full_objects_per_s"] = total / deleteSeconds;
  state.counters["wal_full_objects_per_s"] = total / walSeconds;
  state.counters["soup_vs_delete_full"] = deleteSeconds / soupSeconds;
  state.counters["soup_vs_wal_full"] = walSeconds / soupSeconds;
  // The thread's CPU time per commit (the kernel's share of the writes and
  // syncs included, the wait for the disk not): steadier than the wall clock
  // on a loaded machine.
  state.counters["soup_cpu_us_per_commit"] = soupCpu * 1e6 / commits;
  state.counters["delete_full_cpu_us_per_commit"] = deleteCpu * 1e6 / commits;
  state.counters["wal_full_cpu_us_per_commit"] = walCpu * 1e6 / commits;
  state.counters["fsyncs_per_commit"] = static_cast<double>(spent.syncs) / commits;
  state.counters["preads_per_commit"] = static_cast<double>(spent.reads) / commits;
  state.counters["pwrites_per_commit"] = static_cast<double>(spent.writes) / commits;
  state.counters["bytes_written_per_commit"] = static_cast<double>(spent.bytesWritten) / commits;
  state.counters["bytes_changed_per_commit"] = static_cast<double>(changed) / commits;
  state.counters["written_vs_changed"] = static_cast<double>(spent.bytesWritten) / static_cast<double>(changed);
}
void BM_DurableCommitsOneObject(benchmark::State& state) { durableCommits(state, 1); }
void BM_DurableCommitsFiftyObjects(benchmark::State& state) { durableCommits(state, 50); }
BENCHMARK(BM_DurableCommitsOneObject)->Iterations(25)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DurableCommitsFiftyObjects)->Iterations(25)->Unit(benchmark::kMillisecond)->UseRealTime();

// The list walked through node headers against SQLite's ordered SELECT over
// the same rows, and objects loaded by index against SELECT by rowid.
void BM_ListWalkAndLoadByIndex(benchmark::State& state) {
  Soup soup("read.soup");
  Sqlite sqlite("read.sqlite", "DELETE");
  for (int i = 0; i < 400; ++i) {  // 22,000 objects, 16,500 in the list
    soup.commit(50);
    sqlite.commit(50);
  }
  const char* walkSql = "SELECT id FROM items WHERE list = 1 ORDER BY id";
  const char* byRowidSql = "SELECT seq, body FROM items WHERE id = ?";
  sqlite3_stmt* walk = nullptr;
  sqlite3_prepare_v2(sqlite.db, walkSql, -1, &walk, nullptr);
  sqlite3_stmt* byRowid = nullptr;
  sqlite3_prepare_v2(sqlite.db, byRowidSql, -1, &byRowid, nullptr);
  const int32_t objects = soup.sequence;
  double soupWalk = 0, sqliteWalk = 0, soupLoad = 0, sqliteLoad = 0, soupFirstWalk = 0, sqliteFirstWalk = 0;
  std::vector<double> soupOpenWalks, sqliteOpenWalks;
  int64_t walked = 0, sqliteWalked = 0, openWalked = 0, sqliteOpenWalked = 0;
  constexpr int kLoads = 20000;
  constexpr int kOpenWalks = 4;
  std::mt19937 random(9);
  int round = 0;
  for (auto _ : state) {
    const double soupBefore = soupWalk, sqliteBefore = sqliteWalk;
    soupWalk += cpuTimed([&] {
      cIndexedObjectList* list = loadObject_cIndexedObjectList(*soup.db, soup.listIndex);
      for (int32_t i = list->infoHeadIndex(); i != 0; i = soup.db->readObjectNodeHeader(i).nextIndex) ++walked;
      soup.db->unloadObject(list);
    });
    sqliteWalk += cpuTimed([&] {
      while (sqlite3_step(walk) == SQLITE_ROW) sqliteWalked += sqlite3_column_int(walk, 0) != 0;
      sqlite3_reset(walk);
    });
    if (soupFirstWalk == 0) {
      // The first walk after the commits reads every node's links from the
      // file; later ones find them remembered.
      soupFirstWalk = soupWalk - soupBefore;
      sqliteFirstWalk = sqliteWalk - sqliteBefore;
    }
    soupLoad += cpuTimed([&] {
      for (int k = 0; k < kLoads; ++k) {
        // Index 1 is the list's; objects follow in creation order.
        int32_t index = 2 + static_cast<int32_t>(random() % static_cast<uint32_t>(objects));
        cIndexedObject* o = soup.db->loadObject(index, std::make_unique<Payload>());
        benchmark::DoNotOptimize(o);
        soup.db->unloadObject(o);
      }
    });
    sqliteLoad += cpuTimed([&] {
      for (int k = 0; k < kLoads; ++k) {
        sqlite3_bind_int(byRowid, 1, 1 + static_cast<int>(random() % static_cast<uint32_t>(objects)));
        sqlite3_step(byRowid);
        auto p = std::make_unique<Payload>();
        p->sequence = sqlite3_column_int(byRowid, 0);
        auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(byRowid, 1));
        p->body.assign(bytes, bytes + sqlite3_column_bytes(byRowid, 1));
        benchmark::DoNotOptimize(p);
        sqlite3_reset(byRowid);
      }
    });
    // Both closed and opened again: the first walk after an open reads the
    // file, ours the pages of its nodes, SQLite its schema and index pages.
    sqlite3_finalize(walk);
    sqlite3_finalize(byRowid);
    for (int k = 0; k < kOpenWalks; ++k) {
      soup.reopen();
      sqlite.reopen();
      auto soupSide = [&] { soupOpenWalks.push_back(cpuTimed([&] { openWalked += soup.walk(); })); };
      auto sqliteSide = [&] {
        sqliteOpenWalks.push_back(cpuTimed([&] {
          sqlite3_prepare_v2(sqlite.db, walkSql, -1, &walk, nullptr);
          while (sqlite3_step(walk) == SQLITE_ROW) sqliteOpenWalked += sqlite3_column_int(walk, 0) != 0;
          sqlite3_reset(walk);
        }));
      };
      // Each side goes first every other time, the first walk after the
      // loads included: whatever the work before leaves behind (caches, the
      // processor's state) falls on both alike.
      if ((round + k) % 2 == 0) {
        soupSide();
        sqliteSide();
      } else {
        sqliteSide();
        soupSide();
      }
      if (k + 1 < kOpenWalks) sqlite3_finalize(walk);
    }
    ++round;
    soup.list = loadObject_cIndexedObjectList(*soup.db, soup.listIndex);
    sqlite3_prepare_v2(sqlite.db, byRowidSql, -1, &byRowid, nullptr);
  }
  sqlite3_finalize(walk);
  sqlite3_finalize(byRowid);
  const double loads = static_cast<double>(state.iterations()) * kLoads;
  state.counters["soup_walk_rows_per_s"] = static_cast<double>(walked) / soupWalk;
  state.counters["sqlite_walk_rows_per_s"] = static_cast<double>(sqliteWalked) / sqliteWalk;
  state.counters["walk_vs_ordered_select"] =
      (static_cast<double>(walked) / soupWalk) / (static_cast<double>(sqliteWalked) / sqliteWalk);
  state.counters["soup_first_walk_ms"] = soupFirstWalk * 1000;
  state.counters["sqlite_first_walk_ms"] = sqliteFirstWalk * 1000;
  state.counters["first_walk_vs_ordered_select"] = sqliteFirstWalk / soupFirstWalk;
  // The median walk of each side: a walk the machine slowed (the first after
  // a long busy stretch takes several times the others on a virtual machine)
  // moves neither figure.
  const double soupOpenWalk = median(soupOpenWalks), sqliteOpenWalk = median(sqliteOpenWalks);
  const double openRows = static_cast<double>(openWalked) / static_cast<double>(soupOpenWalks.size());
  const double sqliteOpenRows = static_cast<double>(sqliteOpenWalked) / static_cast<double>(sqliteOpenWalks.size());
  state.counters["soup_open_walk_rows_per_s"] = openRows / soupOpenWalk;
  state.counters["sqlite_open_walk_rows_per_s"] = sqliteOpenRows / sqliteOpenWalk;
  state.counters["open_walk_vs_ordered_select"] = (openRows / soupOpenWalk) / (sqliteOpenRows / sqliteOpenWalk);
  // The means beside them, slowed walks included.
  auto mean = [](const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) sum += v;
    return sum / static_cast<double>(values.size());
  };
  state.counters["soup_open_walk_mean_ms"] = mean(soupOpenWalks) * 1000;
  state.counters["sqlite_open_walk_mean_ms"] = mean(sqliteOpenWalks) * 1000;
  state.counters["open_walk_mean_vs_ordered_select"] = mean(sqliteOpenWalks) / mean(soupOpenWalks);
  state.counters["soup_loads_per_s"] = loads / soupLoad;
  state.counters["sqlite_loads_per_s"] = loads / sqliteLoad;
  state.counters["load_vs_select_by_rowid"] = sqliteLoad / soupLoad;
}
BENCHMARK(BM_ListWalkAndLoadByIndex)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace bw
