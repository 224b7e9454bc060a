// bench/bench_news_records.cpp - the news records in the soup against the
// same fields in SQLite, and the bare soup of bench_soup measured in the
// same run for the ratio the news layer may cost.
//
// 100,000 items, each with its body, field sizes drawn from the feed corpora
// (fixed sizes when the test data is absent), stored in transactions of 50
// with a flush each and linked into their feed's item list, then every item
// and body loaded by index. SQLite keeps the same fields in two tables
// (journal DELETE, synchronous FULL, one transaction per 50) and reads them
// by rowid. Also: a walk of a 1,000-member duplicate chain from its newest
// item. The scratch folder is removed at exit.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_news_support.h"
#include "bench/bench_testdata.h"
#include "database/soup_database.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "news/news_objects.h"

namespace bw {
namespace {

constexpr int kItems = 100000;
constexpr int kPerTransaction = 50;
constexpr int kChain = 1000;

// The scratch folder, with the modules the news model needs; both go at exit.
struct Scratch {
  std::string dir = bench_news::makeScratchDir("BenchNews");
  ModuleRegistry modules;
  Scratch() {
    addNewsModules(modules);
    modules.initAll();
  }
  ~Scratch() {
    modules.endAll();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};
Scratch& scratch() {
  static Scratch s;
  return s;
}

// Text lengths of titles, links and descriptions in the feed corpora.
struct FieldSizes {
  std::vector<size_t> title{60}, link{80}, summary{600};
};
void collect(std::string_view doc, std::string_view tag, std::vector<size_t>& out) {
  std::string open = "<" + std::string(tag) + ">", close = "</" + std::string(tag) + ">";
  for (size_t at = doc.find(open); at != std::string_view::npos && out.size() < 20000; at = doc.find(open, at + 1)) {
    size_t end = doc.find(close, at);
    if (end == std::string_view::npos) break;
    out.push_back(end - at - open.size());
  }
}
const FieldSizes& fieldSizes() {
  static FieldSizes sizes = [] {
    FieldSizes s;
    std::filesystem::path feeds = std::string(BRINDLEWORK_TESTDATA_DIR) + "/feeds";
    std::error_code ec;
    if (!std::filesystem::is_directory(feeds, ec)) return s;
    FieldSizes found{{}, {}, {}};
    for (const auto& e : std::filesystem::recursive_directory_iterator(feeds, ec)) {
      if (!e.is_regular_file() || e.path().extension() != ".xml") continue;
      std::string doc = bench::readWholeFile(e.path());
      collect(doc, "title", found.title);
      collect(doc, "link", found.link);
      collect(doc, "description", found.summary);
      collect(doc, "summary", found.summary);
    }
    for (auto* v : {&found.title, &found.link, &found.summary}) {
      if (v->empty()) return s;
    }
    return found;
  }();
  return sizes;
}

struct Fields {
  std::string title, link, uniqueID, summary, author;
  int64_t published, updated;
};
std::vector<Fields> makeFields() {
  const FieldSizes& sizes = fieldSizes();
  std::mt19937 rng(22);
  auto text = [&](size_t n) {
    std::string t(n, ' ');
    for (char& c : t) c = static_cast<char>('a' + rng() % 26);
    return t;
  };
  std::vector<Fields> all(kItems);
  for (Fields& f : all) {
    f.title = text(sizes.title[rng() % sizes.title.size()]);
    f.link = text(sizes.link[rng() % sizes.link.size()]);
    f.uniqueID = f.link;
    f.summary = text(sizes.summary[rng() % sizes.summary.size()]);
    f.author = text(12);
    f.published = 700000000 + rng() % 100000;
    f.updated = f.published + 60;
  }
  return all;
}
const std::vector<Fields>& fields() {
  static std::vector<Fields> all = makeFields();
  return all;
}

void fillItem(newsItem& item, const Fields& f, int32_t feedIndex, int32_t bodyIndex) {
  item.feedIndex = feedIndex, item.bodyIndex = bodyIndex;
  item.title = Str(f.title), item.link = Str(f.link), item.uniqueID = Str(f.uniqueID);
  item.published = f.published, item.updated = f.updated, item.downloaded = f.published;
}
void fillBody(newsItemBody& body, const Fields& f) {
  body.encoding = Str("UTF-8"), body.author = Str(f.author), body.summary = Str(f.summary);
  body.summaryFormat = kFormatHTML;
}

// --- the news model in the soup ---------------------------------------------------------

struct NewsSoup {
  std::string path = scratch().dir + "/news.soup";
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
  std::vector<std::pair<int32_t, int32_t>> stored;  // item, body
  int32_t feedIndex = 0;

  void create(int count) {
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(2);
    if (!db->openNew(Text("BenchNews:/news.soup"), false, false)) std::abort();
    auto* feed = new newsFeed;
    feed->type = Str("RSS 2.0");
    feed->docFormat = feedTypeToDocFormat(feed->type);
    feed->setSoup(db.get());
    feedIndex = db->createdObject(feed);
    stored.clear();
    for (int done = 0; done < count;) {
      int32_t t = db->beginTransaction();
      for (int i = 0; i < kPerTransaction; ++i, ++done) {
        const Fields& f = fields()[size_t(done)];
        auto* body = new newsItemBody;
        fillBody(*body, f);
        int32_t bodyIndex = db->createdAndUnloadObject(body);
        auto* item = new newsItem;
        fillItem(*item, f, feedIndex, bodyIndex);
        int32_t itemIndex = db->createdAndUnloadObject(item);
        feed->itemList->insertAtTail(itemIndex);
        stored.push_back({itemIndex, bodyIndex});
      }
      db->finishTransaction(t);
      db->flush();
    }
    db->unloadObject(feed);
  }
};
void BM_NewsStore(benchmark::State& state) {
  fields();
  for (auto _ : state) {
    NewsSoup n;
    n.create(kItems);
    n.db->close();
    state.counters["file_bytes_per_item"] = static_cast<double>(bench_news::fileSize(n.path)) / kItems;
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_NewsStore)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_NewsLoad(benchmark::State& state) {
  NewsSoup n;
  n.create(kItems);
  for (auto _ : state) {
    for (auto [itemIndex, bodyIndex] : n.stored) {
      newsItem* item = loadObject_newsItem(*n.db, itemIndex);
      newsItemBody* body = loadObject_newsItemBody(*n.db, bodyIndex);
      benchmark::DoNotOptimize(item->title.length() + body->summary.length());
      n.db->unloadObject(body);
      n.db->unloadObject(item);
    }
  }
  n.db->close();
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_NewsLoad)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// --- the bare soup (bench_soup's pattern, same run) -----------------------------------------

struct BareSoup {
  std::string path = scratch().dir + "/bare.soup";
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
  void create() {
    std::mt19937 rng(1);
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(2);
    if (!db->openNew(Text("BenchNews:/bare.soup"), false, false)) std::abort();
    CreatedList list = db->createObjectList();
    for (int done = 0; done < kItems;) {
      int32_t t = db->beginTransaction();
      for (int i = 0; i < kPerTransaction; ++i, ++done) {
        auto* item = new bench_news::BenchItem;
        item->feed = done / 1000;
        item->body.resize(200 + rng() % 1801);
        list.list->insertAtTail(db->createdAndUnloadObject(item));
      }
      db->finishTransaction(t);
      db->flush();
    }
    db->unloadObject(list.list);
  }
};

void BM_BareSoupStore(benchmark::State& state) {
  for (auto _ : state) {
    BareSoup b;
    b.create();
    b.db->close();
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_BareSoupStore)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_BareSoupLoad(benchmark::State& state) {
  BareSoup b;
  b.create();
  for (auto _ : state) {
    for (int32_t index = 2; index < 2 + kItems; ++index) {
      cIndexedObject* o = b.db->loadObject(index, std::make_unique<bench_news::BenchItem>());
      benchmark::DoNotOptimize(o);
      b.db->unloadObject(o);
    }
  }
  b.db->close();
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_BareSoupLoad)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// --- SQLite -------------------------------------------------------------------------------

struct Sqlite {
  std::string path = scratch().dir + "/news.sqlite";
  sqlite3* db = nullptr;
  void exec(const char* sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
  void create() {
    unlink(path.c_str());
    sqlite3_open(path.c_str(), &db);
    exec("PRAGMA journal_mode=DELETE");
    exec("PRAGMA synchronous=FULL");
    exec("CREATE TABLE items(id INTEGER PRIMARY KEY, feed INTEGER, title TEXT, link TEXT, uniqueID TEXT, "
         "published INTEGER, updated INTEGER, downloaded INTEGER, older INTEGER, newest INTEGER, seen INTEGER, "
         "body INTEGER)");
    exec("CREATE TABLE bodies(id INTEGER PRIMARY KEY, encoding TEXT, author TEXT, summary TEXT, "
         "summaryFormat INTEGER, content TEXT, contentFormat INTEGER)");
    sqlite3_stmt *item = nullptr, *body = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO bodies(encoding, author, summary, summaryFormat, content, contentFormat) "
                           "VALUES('UTF-8', ?, ?, 2, NULL, 0)", -1, &body, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO items(feed, title, link, uniqueID, published, updated, downloaded, "
                           "older, newest, seen, body) VALUES(1, ?, ?, ?, ?, ?, ?, 0, 0, 0, ?)", -1, &item, nullptr);
    for (int done = 0; done < kItems;) {
      exec("BEGIN");
      for (int i = 0; i < kPerTransaction; ++i, ++done) {
        const Fields& f = fields()[size_t(done)];
        sqlite3_bind_text(body, 1, f.author.data(), int(f.author.size()), SQLITE_STATIC);
        sqlite3_bind_text(body, 2, f.summary.data(), int(f.summary.size()), SQLITE_STATIC);
        sqlite3_step(body);
        sqlite3_reset(body);
        sqlite3_bind_text(item, 1, f.title.data(), int(f.title.size()), SQLITE_STATIC);
        sqlite3_bind_text(item, 2, f.link.data(), int(f.link.size()), SQLITE_STATIC);
        sqlite3_bind_text(item, 3, f.uniqueID.data(), int(f.uniqueID.size()), SQLITE_STATIC);
        sqlite3_bind_int64(item, 4, f.published);
        sqlite3_bind_int64(item, 5, f.updated);
        sqlite3_bind_int64(item, 6, f.published);
        sqlite3_bind_int64(item, 7, sqlite3_last_insert_rowid(db));
        sqlite3_step(item);
        sqlite3_reset(item);
      }
      exec("COMMIT");
    }
    sqlite3_finalize(item);
    sqlite3_finalize(body);
  }
  ~Sqlite() {
    if (db) sqlite3_close(db);
  }
};

Str column(sqlite3_stmt* s, int i) {
  auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return p ? Str(std::string_view(p, size_t(sqlite3_column_bytes(s, i)))) : Str();
}

void BM_SqliteStore(benchmark::State& state) {
  fields();
  for (auto _ : state) {
    Sqlite q;
    q.create();
    sqlite3_close(q.db);
    q.db = nullptr;
    state.counters["file_bytes_per_item"] = static_cast<double>(bench_news::fileSize(q.path)) / kItems;
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_SqliteStore)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_SqliteLoad(benchmark::State& state) {
  Sqlite q;
  q.create();
  sqlite3_stmt *item = nullptr, *body = nullptr;
  sqlite3_prepare_v2(q.db, "SELECT title, link, uniqueID, published, updated, downloaded, older, newest, seen, body "
                           "FROM items WHERE id = ?", -1, &item, nullptr);
  sqlite3_prepare_v2(q.db, "SELECT encoding, author, summary, summaryFormat, content, contentFormat FROM bodies "
                           "WHERE id = ?", -1, &body, nullptr);
  for (auto _ : state) {
    for (int id = 1; id <= kItems; ++id) {
      sqlite3_bind_int(item, 1, id);
      sqlite3_step(item);
      newsItem i;
      i.title = column(item, 0), i.link = column(item, 1), i.uniqueID = column(item, 2);
      i.published = sqlite3_column_int64(item, 3), i.updated = sqlite3_column_int64(item, 4);
      i.downloaded = sqlite3_column_int64(item, 5), i.bodyIndex = sqlite3_column_int(item, 9);
      sqlite3_reset(item);
      sqlite3_bind_int(body, 1, i.bodyIndex);
      sqlite3_step(body);
      newsItemBody b;
      b.encoding = column(body, 0), b.author = column(body, 1), b.summary = column(body, 2);
      sqlite3_reset(body);
      benchmark::DoNotOptimize(i.title.length() + b.summary.length());
    }
  }
  sqlite3_finalize(item);
  sqlite3_finalize(body);
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_SqliteLoad)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// --- a chain walk ---------------------------------------------------

void BM_ChainWalkFromNewest(benchmark::State& state) {
  // kChain stored items become one chain, the first the newest.
  NewsSoup n;
  n.create(kChain);
  int32_t t = n.db->beginTransaction();
  for (int k = 0; k < kChain; ++k) {
    newsItem* item = loadObject_newsItem(*n.db, n.stored[size_t(k)].first);
    item->olderDuplicateItemIndex = k + 1 < kChain ? n.stored[size_t(k + 1)].first : 0;
    item->newestDuplicateItemIndex = k + 1 < kChain ? 0 : n.stored[0].first;
    n.db->saveChangesToObject(item);
    n.db->unloadObject(item);
  }
  n.db->finishTransaction(t);
  n.db->flush();
  newsFeed* feed = loadObject_newsFeed(*n.db, n.feedIndex);
  newsItem* item = loadObject_newsItem2(*n.db, n.stored[0].first, feed);
  for (auto _ : state) {
    DuplicateEnds ends = item->infoOldestDuplicateItemIndex(*n.db);
    benchmark::DoNotOptimize(ends);
  }
  n.db->unloadObject(item);
  n.db->unloadObject(feed);
  n.db->close();
  state.SetItemsProcessed(state.iterations() * kChain);
}
BENCHMARK(BM_ChainWalkFromNewest)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bw
