// bench/bench_news_show.cpp - the news list's item choice against SQLite:
//   1. the news-list merge of 50 feeds x 2,000 stored items under "Show last
//      month" with a 5-term Filter, first 100 rows and the whole list, against
//      one table indexed on (feed, published) answering "... WHERE published
//      >= ? ORDER BY published DESC" with and without LIMIT 100;
//   2. matchNewsItemFilter over 100,000 titles with 10 terms, against SQLite
//      LIKE over the same rows in memory;
//   3. isNewsItemShown walking one feed's 100,000 items under "Show ALL"
//      with no Filter, against an ordered SELECT of the same rows.
// SQLite keeps the rows of 1 and 3 in a file beside the soup, those of 2 in
// memory. Every figure is a CPU time per pass (the file reads are system
// time, so they count; the machines these run on are shared); the ratios
// (peer time / our time, above 1 means faster) print at the end with their
// targets.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_news_modules.h"
#include "bench/bench_news_support.h"
#include "bench/bench_time_ratio.h"
#include "core/string_procs.h"
#include "news/news_filter.h"
#include "news/news_load.h"
#include "news/news_orderings.h"
#include "news/news_show.h"

namespace bw {
namespace {

constexpr int kFeeds = 50;
constexpr int kPerFeed = 2000;
constexpr int kLongFeed = 100000;
constexpr bigTime kNow = 825681600;
constexpr bigTime kMonth = 2678400;
const char* const kWords[] = {"iraq",  "brexit", "market", "storm", "election", "vaccine", "football", "court",
                              "rates", "music",  "space",  "film",  "energy",   "climate", "school",   "trade"};
const char kFilter[] = "iraq,storm,_ball,court_,~,music";
const char kTerms10[] = "iraq,brexit,storm,vaccine,_ball,court_,rates,space,~,music";

std::string title(std::mt19937& rng) {
  std::string t;
  for (int w = 3 + static_cast<int>(rng() % 6); w > 0; --w) {
    if (!t.empty()) t += ' ';
    t += kWords[rng() % 16];
    if (rng() % 4 == 0) t += ',';
  }
  return t;
}

// The news database: 50 feeds of 2,000 items (published over two months,
// newest first) and one feed of 100,000; the same rows for SQLite.
struct NewsDatabase {
  std::string dir = bench_news::makeScratchDir("BenchNewsShow");
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
  std::vector<newsFeed*> feeds;
  newsFeed* longFeed = nullptr;
  std::vector<bench_news::Row> rows, longRows;

  NewsDatabase() {
    bench_news::startNewsModules();
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(2);
    if (!db->openNew(Text("BenchNewsShow:/news.soup"), false, false)) std::abort();
    std::mt19937 rng(5);
    for (int f = 0; f < kFeeds; ++f) feeds.push_back(fill(f, kPerFeed, 2 * kMonth, rng, rows));
    longFeed = fill(kFeeds, kLongFeed, 400 * 86400, rng, longRows);
    db->flush();
  }
  ~NewsDatabase() {
    db->close();
    for (const char* name : {"/news.soup", "/merge.sqlite", "/walk.sqlite"}) std::remove((dir + name).c_str());
    std::remove(dir.c_str());
  }
  newsFeed* fill(int f, int count, bigTime span, std::mt19937& rng, std::vector<bench_news::Row>& out) {
    auto* feed = new newsFeed;
    feed->type = Str("RSS 2.0");
    feed->docFormat = feedTypeToDocFormat(feed->type);
    feed->setSoup(db.get());
    db->createdObject(feed);
    for (int done = 0; done < count;) {
      int32_t t = db->beginTransaction();
      for (int i = 0; i < 50 && done < count; ++i, ++done) {
        auto* item = new newsItem;
        item->published = kNow - span * done / count;
        item->updated = item->downloaded = kDateUnset;
        item->title = Str(title(rng));
        item->feedIndex = feed->infoSoupIndex();
        out.push_back({f, item->published, item->title.str()});
        feed->itemList->insertAtTail(db->createdAndUnloadObject(item));
      }
      db->finishTransaction(t);
      db->flush();
    }
    return feed;
  }
};

// Made at the first use; ended by main (after every run) so that no static's
// teardown order matters.
NewsDatabase*& newsHolder() {
  static NewsDatabase* n = nullptr;
  return n;
}
NewsDatabase& news() {
  if (!newsHolder()) newsHolder() = new NewsDatabase;
  return *newsHolder();
}

// --- 1. the news-list merge ------------------------------------------------------------

void BM_NewsShowMerge(benchmark::State& state) {
  NewsDatabase& n = news();
  const int64_t limit = state.range(0);
  newsRoot root;
  root.fixedShowPeriod = true;
  root.showLimitTime = kNow - kMonth;
  for (newsFeed* feed : n.feeds) feed->setFilter(kFilter);
  int64_t rows = 0;
  for (auto _ : state) {
    cMegaList_class merge(false, nullptr, false);
    auto offer = [&](newsItem* next) {
      if (next) merge.infoStart()->clone(0, 0)->sortedInsert(merge.makeFloating(next), gCompareNewsItem_PublishedDate);
    };
    for (newsFeed* feed : n.feeds) offer(isNewsItemShown(*n.db, feed->itemList->infoHeadIndex(), *feed, &root));
    rows = 0;
    while (!merge.isEmpty()) {
      auto cursor = merge.infoStart()->clone(0, 0);
      auto* top = static_cast<newsItem*>(cursor->getData());
      cursor->destroy();
      if (limit == 0 || rows < limit) {
        ++rows;
        offer(isNewsItemShown(*n.db, top->infoNextIndex(), *top->cachedFeed(), &root));
      }
      n.db->unloadObject(top);
    }
  }
  for (newsFeed* feed : n.feeds) feed->setFilter(nullptr);
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_NewsShowMerge)->Arg(100)->Arg(0)->Unit(benchmark::kMillisecond);

// The rows in SQLite: in a file beside the soup (name given), or in memory.
struct SqliteNews {
  sqlite3* db = nullptr;
  std::string path;
  SqliteNews(const std::vector<bench_news::Row>& rows, bool indexed, const char* name = nullptr)
      : path(name ? news().dir + "/" + name : ":memory:") {
    std::remove(path.c_str());
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE items(feed INTEGER, published INTEGER, title TEXT)", nullptr, nullptr, nullptr);
    if (indexed) sqlite3_exec(db, "CREATE INDEX items_fp ON items(feed, published)", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO items VALUES(?, ?, ?)", -1, &insert, nullptr);
    for (const bench_news::Row& r : rows) {
      sqlite3_bind_int(insert, 1, r.feed);
      sqlite3_bind_int64(insert, 2, r.published);
      sqlite3_bind_text(insert, 3, r.title.c_str(), -1, SQLITE_STATIC);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  ~SqliteNews() {
    sqlite3_close(db);
    if (path != ":memory:") std::remove(path.c_str());
  }
  // Steps a query through; answers the rows.
  int64_t run(const char* sql, bigTime bound = 0) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    sqlite3_bind_int64(s, 1, bound);
    int64_t count = 0;
    while (sqlite3_step(s) == SQLITE_ROW) count += sqlite3_column_bytes(s, 1) >= 0;
    sqlite3_finalize(s);
    return count;
  }
};

void BM_SqliteMerge(benchmark::State& state) {
  static SqliteNews q(news().rows, true, "merge.sqlite");
  const char* sql = state.range(0) ? "SELECT feed, title FROM items WHERE published >= ? ORDER BY published DESC LIMIT 100"
                                   : "SELECT feed, title FROM items WHERE published >= ? ORDER BY published DESC";
  int64_t rows = 0;
  for (auto _ : state) rows = q.run(sql, kNow - kMonth);
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_SqliteMerge)->Arg(100)->Arg(0)->Unit(benchmark::kMillisecond);

// --- 2. the Filter language over titles ---------------------------------------------------

void BM_NewsShowMatchFilter(benchmark::State& state) {
  NewsDatabase& n = news();
  std::vector<std::unique_ptr<newsItem>> items;
  for (size_t i = 0; i < n.longRows.size(); ++i) {
    items.push_back(std::make_unique<newsItem>());
    items.back()->title = Str(n.longRows[i].title);
  }
  newsFeed feed;
  feed.type = Str("RSS 2.0");
  feed.setFilter(kTerms10);
  int64_t hidden = 0;
  for (auto _ : state) {
    hidden = 0;
    for (auto& item : items) hidden += matchNewsItemFilter(*n.db, nullptr, *item, feed);
  }
  state.counters["hidden"] = static_cast<double>(hidden);
}
BENCHMARK(BM_NewsShowMatchFilter)->Unit(benchmark::kMillisecond);

void BM_SqliteLikeFilter(benchmark::State& state) {
  static SqliteNews q(news().longRows, false);
  std::string sql = "SELECT feed, title FROM items WHERE ";
  for (const Str& term : splitString(kTerms10, ",").chain) {
    if (term == "~") continue;
    std::string word(term.view());
    for (char& c : word) c = c == '_' ? '%' : c;
    if (sql.back() != ' ') sql += " OR ";
    sql += "title LIKE '%" + word + "%'";
  }
  int64_t rows = 0;
  for (auto _ : state) rows = q.run(sql.c_str());
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_SqliteLikeFilter)->Unit(benchmark::kMillisecond);

// --- 3. walking one long feed ---------------------------------------------------------------

void BM_NewsShowWalkAll(benchmark::State& state) {
  NewsDatabase& n = news();
  newsRoot root;
  root.fixedShowPeriod = true;
  root.showLimitTime = kDateUnset;
  int64_t shown = 0;
  for (auto _ : state) {
    shown = 0;
    for (newsItem* i = isNewsItemShown(*n.db, n.longFeed->itemList->infoHeadIndex(), *n.longFeed, &root); i;) {
      ++shown;
      int32_t next = i->infoNextIndex();
      n.db->unloadObject(i);
      i = isNewsItemShown(*n.db, next, *n.longFeed, &root);
    }
  }
  state.counters["items"] = static_cast<double>(shown);
}
BENCHMARK(BM_NewsShowWalkAll)->Unit(benchmark::kMillisecond);

void BM_SqliteOrderedWalk(benchmark::State& state) {
  static SqliteNews q(news().longRows, true, "walk.sqlite");
  int64_t rows = 0;
  for (auto _ : state) rows = q.run("SELECT feed, title FROM items ORDER BY published DESC");
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_SqliteOrderedWalk)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bw

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Peer time / our time for each pair with its target.
  bw::bench::TimeRatioReporter reporter({
      {"merge, first 100 rows vs LIMIT 100", "BM_NewsShowMerge/100", "BM_SqliteMerge/100", 1.0},
      {"merge, whole list vs no LIMIT", "BM_NewsShowMerge/0", "BM_SqliteMerge/0", 1.0},
      {"Filter, 10 terms vs LIKE", "BM_NewsShowMatchFilter", "BM_SqliteLikeFilter", 2.0},
      {"walk vs ordered SELECT", "BM_NewsShowWalkAll", "BM_SqliteOrderedWalk", 0},
  });
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  delete bw::newsHolder();
  return 0;
}
