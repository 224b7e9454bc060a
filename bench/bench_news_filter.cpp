// bench/bench_news_filter.cpp - the news list refills that the Search and
// Filter controls perform, against SQLite:
//   1. the refill after a Search word is typed: 200 feeds x 2,000 stored
//      items (titles from the feed corpora) under "Show ALL", every item
//      that passes the Search made into its row and merged into the list,
//      against one SQLite table answering "SELECT ... WHERE lower(title)
//      LIKE '%term%' ORDER BY published DESC" with each answer made into the
//      same row (text, style, data, date box) and added to the same list;
//      both lists' rows are compared once before timing;
//   2. the refill after a Filter word: the same with every feed's Filter
//      set, against "... NOT LIKE ...".
// Each case runs interleaved with its peer; the ratios (peer time / our
// time, 1 or above meets the target) print at the end, in CPU time.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/news_list.h"
#include "app/show_filter_search.h"
#include "bench/bench_news_modules.h"
#include "bench/bench_news_support.h"
#include "bench/bench_testdata.h"
#include "bench/bench_time_ratio.h"
#include "core/charset.h"
#include "gui/gui_list.h"
#include "news/html_text.h"
#include "news/news_load.h"
#include "news/news_orderings.h"
#include "platform/time.h"

namespace bw {
namespace {

constexpr int kFeeds = 200;
constexpr int kPerFeed = 2000;
constexpr bigTime kNow = 825681600;
constexpr bigTime kSpan = 400 * 86400;
const char kTerm[] = "news";

// 200 feeds of 2,000 items, published over 400 days, newest first, in a
// soup; and the same rows for SQLite.
struct NewsDatabase {
  std::string dir = bench_news::makeScratchDir("BenchNewsFilter");
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
  newsRoot root;
  cEncodingUTF utf8;
  std::vector<bench_news::Row> rows;
  std::vector<int32_t> indices;  // the stored item of each row

  NewsDatabase() {
    bench_news::startNewsModules();
    utf8.load("UTF-8");
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(2);
    if (!db->openNew(Text("BenchNewsFilter:/news.soup"), false, false)) std::abort();
    root.fixedShowPeriod = true;
    root.showLimitTime = kDateUnset;  // "Show ALL"
    std::vector<std::string> titles = bench::corpusTitles();
    size_t next = 0;
    for (int f = 0; f < kFeeds; ++f) {
      newsFeed* feed = makeFeed("RSS 2.0", "Feed " + std::to_string(f));
      for (int done = 0; done < kPerFeed;) {
        int32_t t = db->beginTransaction();
        for (int i = 0; i < 50 && done < kPerFeed; ++i, ++done) {
          const std::string& title = titles[next++ % titles.size()];
          bigTime published = kNow - kSpan * done / kPerFeed - f;
          indices.push_back(storeItem(feed, title, published));
          feed->itemList->insertAtTail(indices.back());
          rows.push_back({f, published, title});
        }
        db->finishTransaction(t);
      }
      db->flush();  // one commit a feed
    }
  }
  ~NewsDatabase() {
    for (newsFeed* f = root.firstLoadedFeed; f;) {
      newsFeed* after = f->nextLoadedFeed;
      db->unloadObject(f);
      f = after;
    }
    db->close();
    std::filesystem::remove_all(dir);
  }
  newsFeed* makeFeed(const char* type, const std::string& name) {
    auto* feed = new newsFeed;
    feed->type = Str(type);
    feed->title = Str(name);
    feed->docFormat = feedTypeToDocFormat(feed->type);
    feed->seenUpToTime = kNow - kSpan;
    feed->setSoup(db.get());
    db->createdObject(feed);
    feed->nextLoadedFeed = root.firstLoadedFeed;
    root.firstLoadedFeed = feed;
    return feed;
  }
  int32_t storeItem(newsFeed* feed, const std::string& title, bigTime published) {
    auto* body = new newsItemBody;
    body->contentFormat = kFormatHTML;
    auto* item = new newsItem;
    item->title = Str(title);
    item->published = published;
    item->updated = item->downloaded = kDateUnset;
    item->feedIndex = feed->infoSoupIndex();
    item->bodyIndex = db->createdAndUnloadObject(body);
    return db->createdAndUnloadObject(item);
  }
};

NewsDatabase*& newsHolder() {
  static NewsDatabase* n = nullptr;
  return n;
}
NewsDatabase& news() {
  if (!newsHolder()) newsHolder() = new NewsDatabase;
  return *newsHolder();
}

// The main window's news list, neutral (no toolkit), ordered as the main
// window orders it.
struct NewsListGadget {
  cGuiWindow window;
  cGuiList list{&window, 4, ""};
  cGuiText status{""};  // "%ld news items shown"
  NewsListGadget() {
    list.initMultiSelect(false, false);
    list.setSortByFunction(gCompareNewsItems);
  }
};

// --- 1 and 2: the refills ------------------------------------------------------------------

// One refill's set-up: the Search word, or every feed's Filter, and a feed
// list with nothing selected (every feed in play); the words go at the end.
struct Refill {
  NewsDatabase& n = news();
  cGuiWindow feedWindow;
  cGuiList feeds{&feedWindow, 5, ""};
  explicit Refill(bool search) {
    setSearchWords(n.root, search ? Text(kTerm) : Text(nullptr));
    for (newsFeed* f = n.root.firstLoadedFeed; f; f = f->nextLoadedFeed) f->setFilter(search ? nullptr : kTerm);
    feeds.initMultiSelect(true, true);
    for (newsFeed* f = n.root.firstLoadedFeed; f; f = f->nextLoadedFeed)
      feeds.addEntry(Str("feed"), 0, false, 0, std::make_unique<boxPTR>(f));
  }
  ~Refill() {
    setSearchWords(n.root, nullptr);
    for (newsFeed* f = n.root.firstLoadedFeed; f; f = f->nextLoadedFeed) f->setFilter(nullptr);
  }
  void fill(NewsListGadget& gadget) {
    fillNewsItemList(*n.db, &n.utf8, n.root, &feeds, gadget.list, &gadget.status, nullptr);
  }
};

void checkSameRows(bool search);

void refill(benchmark::State& state, bool search) {
  checkSameRows(search);
  Refill refill(search);
  for (auto _ : state) {
    state.PauseTiming();
    NewsListGadget gadget;  // each pass fills an empty list
    state.ResumeTiming();
    refill.fill(gadget);
    state.counters["rows"] = gadget.list.infoCount();
  }
}
void BM_SearchRefill(benchmark::State& state) { refill(state, true); }
void BM_FilterRefill(benchmark::State& state) { refill(state, false); }

// The rows in SQLite, in a file beside the soup, with an index on the date:
// the stored title that the query reads and the title as the list shows it.
struct SqliteNews {
  sqlite3* db = nullptr;
  std::string path = news().dir + "/news.sqlite";
  SqliteNews() {
    NewsDatabase& n = news();
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE items(id INTEGER, feed TEXT, published INTEGER, title TEXT, shown TEXT)", nullptr,
                 nullptr, nullptr);
    sqlite3_exec(db, "CREATE INDEX items_date ON items(published)", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO items VALUES(?, ?, ?, ?, ?)", -1, &insert, nullptr);
    std::unique_ptr<webDataFormat> rss = feedTypeToDocFormat(Str("RSS 2.0"));
    for (size_t i = 0; i < n.rows.size(); ++i) {
      const bench_news::Row& r = n.rows[i];
      std::string feed = "Feed " + std::to_string(r.feed);
      Str shown = prepareTextForDisplay(convertFeedText(*rss, &n.utf8, Str(r.title), false, false),
                                        newsItem().titleFormat, false, true);
      sqlite3_bind_int(insert, 1, n.indices[i]);
      sqlite3_bind_text(insert, 2, feed.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(insert, 3, r.published);
      sqlite3_bind_text(insert, 4, r.title.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(insert, 5, shown.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  ~SqliteNews() { sqlite3_close(db); }
};
SqliteNews& sqliteNews() {
  static SqliteNews q;
  return q;
}

// The answers as news-list rows: "Date\tFeed\tTitle\tTags", unseen and new
// since every feed's seen-up-to time (style 5), the item's index, its date.
class SqliteRows : public fGuiListEntries {
 public:
  explicit SqliteRows(bool search) {
    std::string sql = std::string("SELECT id, feed, published, shown FROM items WHERE lower(title) ") +
                      (search ? "LIKE" : "NOT LIKE") + " '%" + kTerm + "%' ORDER BY published DESC";
    sqlite3_prepare_v2(sqliteNews().db, sql.c_str(), -1, &statement_, nullptr);
  }
  ~SqliteRows() override { sqlite3_finalize(statement_); }
  GuiListRow call() override {
    GuiListRow row;
    if (sqlite3_step(statement_) != SQLITE_ROW) return row;
    const bigTime date = sqlite3_column_int64(statement_, 2);
    pTime::formatBigTime(day_, date, false, false);
    std::string line(day_.view());
    line += '\t';
    line += reinterpret_cast<const char*>(sqlite3_column_text(statement_, 1));
    line += '\t';
    line += reinterpret_cast<const char*>(sqlite3_column_text(statement_, 3));
    line += '\t';
    row.label = Str(line);
    row.style = 4 | (date >= kNow - kSpan ? 1 : 0);
    row.data = sqlite3_column_int(statement_, 0);
    row.dataBox = newBoxBIGVALUE(static_cast<int64_t>(static_cast<int32_t>(date)));
    return row;
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
  Str day_ = Str::withCapacity(19);
};

void sqliteRefill(benchmark::State& state, bool search) {
  for (auto _ : state) {
    state.PauseTiming();
    NewsListGadget gadget;  // each pass fills an empty list
    state.ResumeTiming();
    SqliteRows rows(search);
    gadget.list.addEntries(rows);
    state.counters["rows"] = gadget.list.infoCount();
  }
}
void BM_SqliteSearchRefill(benchmark::State& state) { sqliteRefill(state, true); }
void BM_SqliteFilterRefill(benchmark::State& state) { sqliteRefill(state, false); }

// Both refills' rows, once, side by side: they must agree.
void checkSameRows(bool search) {
  static bool checked[2] = {false, false};
  if (checked[search]) return;
  checked[search] = true;
  Refill refill(search);
  NewsListGadget ours, theirs;
  refill.fill(ours);
  SqliteRows rows(search);
  theirs.list.addEntries(rows);
  bench_news::requireSameRows(ours.list, theirs.list, search ? "bench_news_filter: Search" : "bench_news_filter: Filter");
}

// Interleaved: each of ours beside its peer.
BENCHMARK(BM_SearchRefill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteSearchRefill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterRefill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteFilterRefill)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bw

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bw::bench::TimeRatioReporter reporter({
      {"Search refill vs LIKE", "BM_SearchRefill", "BM_SqliteSearchRefill", 1.0},
      {"Filter refill vs NOT LIKE", "BM_FilterRefill", "BM_SqliteFilterRefill", 1.0},
  });
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  delete bw::newsHolder();
  return 0;
}
