// bench/bench_newslist.cpp - refilling the main window's news list against
// SQLite: fillNewsItemList over 200 feeds x 2,000 stored items (titles
// taken from the test corpora's feeds) into a fresh list, under "Show ALL"
// and "Show unseen", against one SQLite table indexed on the date whose
// "SELECT ... ORDER BY published DESC" (joined with the feeds' seen-up-to
// times for "Show unseen") yields the same row texts into the same list.
// Before timing, both sides' rows are compared once. Figures are CPU times
// per fill; the merge's peak of items loaded at once is a counter (the
// bound is feeds + 1). The ratio (SQLite time / ours, at least 1 is the
// target) prints at the end.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/feed_list.h"
#include "app/news_list.h"
#include "bench/bench_news_modules.h"
#include "bench/bench_news_support.h"
#include "bench/bench_testdata.h"
#include "bench/bench_time_ratio.h"
#include "news/html_text.h"
#include "news/news_load.h"
#include "news/news_orderings.h"

namespace bw {
namespace {

constexpr int kFeeds = 200;
constexpr int kPerFeed = 2000;
constexpr bigTime kNow = 825681600;
constexpr bigTime kSpan = 60 * 86400;

struct NewsLists {
  std::string dir = bench_news::makeScratchDir("BenchNewsList");
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
  cEncodingUTF utf8;
  newsRoot root;
  std::vector<newsFeed*> feeds;
  sqlite3* sql = nullptr;

  NewsLists() {
    bench_news::startNewsModules();
    utf8.load("UTF-8");
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(2);
    if (!db->openNew(Text("BenchNewsList:/news.soup"), false, false)) std::abort();
    sqlite3_open((dir + "/news.sqlite").c_str(), &sql);
    exec("CREATE TABLE feeds(id INTEGER PRIMARY KEY, seen INTEGER, name TEXT)");
    exec("CREATE TABLE items(id INTEGER PRIMARY KEY, feed INTEGER, published INTEGER, seen INTEGER, title TEXT, "
         "tags TEXT)");
    exec("CREATE INDEX items_date ON items(published)");
    exec("BEGIN");
    sqlite3_stmt* feedRow = prepare("INSERT INTO feeds VALUES(?, ?, ?)");
    sqlite3_stmt* itemRow = prepare("INSERT INTO items VALUES(?, ?, ?, ?, ?, ?)");
    const std::vector<std::string> titles = bench::corpusTitles();
    std::mt19937 rng(18);
    newsFeed** link = &root.firstLoadedFeed;
    for (int f = 0; f < kFeeds; ++f) {
      auto* feed = new newsFeed;
      feed->type = Str("RSS 2.0");
      feed->docFormat = feedTypeToDocFormat(feed->type);
      feed->title = Str("Feed " + std::to_string(f) + " of the benchmark's news lists");
      feed->seenUpToTime = kNow - static_cast<bigTime>(rng() % kSpan);
      feed->setSoup(db.get());
      db->createdObject(feed);
      feeds.push_back(feed);
      *link = feed;
      link = &feed->nextLoadedFeed;
      bind(feedRow, {feed->infoSoupIndex(), feed->seenUpToTime}, {std::string(feed->infoName(&utf8).view())});
      for (int done = 0; done < kPerFeed;) {
        int32_t t = db->beginTransaction();
        for (int i = 0; i < 50 && done < kPerFeed; ++i, ++done) {
          auto* item = new newsItem;
          item->published = kNow - kSpan * done / kPerFeed - static_cast<bigTime>(rng() % 600);
          item->updated = item->downloaded = kDateUnset;
          item->title = Str(titles[rng() % titles.size()]);
          item->titleFormat = kFormatPlainText;
          if (rng() % 4 == 0) item->tags = Str("tag" + std::to_string(rng() % 10));
          item->seen = rng() % 2 == 0;
          item->feedIndex = feed->infoSoupIndex();
          const int32_t index = db->createdObject(item);
          feed->itemList->insertAtTail(index);
          // SQLite holds the title as shown.
          Str shown = prepareTextForDisplay(convertFeedText(*feed->docFormat, &utf8, item->title, false, false),
                                            item->titleFormat, false, true);
          bind(itemRow, {index, feed->infoSoupIndex(), item->published, item->seen ? 1 : 0},
               {std::string(shown.view()), item->tags.isNil() ? std::string() : std::string(item->tags.view())});
          db->unloadObject(item);
        }
        db->finishTransaction(t);
        db->flush();
      }
    }
    sqlite3_finalize(feedRow);
    sqlite3_finalize(itemRow);
    exec("COMMIT");
  }
  ~NewsLists() {
    for (newsFeed* feed : feeds) db->unloadObject(feed);
    root.firstLoadedFeed = nullptr;
    db->close();
    sqlite3_close(sql);
    std::filesystem::remove_all(dir);
  }
  void exec(const char* text) { sqlite3_exec(sql, text, nullptr, nullptr, nullptr); }
  sqlite3_stmt* prepare(const char* text) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(sql, text, -1, &s, nullptr);
    return s;
  }
  // Binds the numbers, then the texts (empty text: NULL), and steps once.
  static void bind(sqlite3_stmt* s, std::vector<int64_t> numbers, std::vector<std::string> texts) {
    int n = 1;
    for (int64_t v : numbers) sqlite3_bind_int64(s, n++, v);
    for (const std::string& t : texts) {
      if (t.empty())
        sqlite3_bind_null(s, n++);
      else
        sqlite3_bind_text(s, n++, t.c_str(), -1, SQLITE_TRANSIENT);
    }
    sqlite3_step(s);
    sqlite3_reset(s);
  }
};

NewsLists*& holder() {
  static NewsLists* n = nullptr;
  return n;
}
NewsLists& lists() {
  if (!holder()) holder() = new NewsLists;
  return *holder();
}

// The main window's lists, fresh for each fill.
struct Window {
  cGuiList feedList{nullptr, 5, nullptr};
  cGuiList newsList{nullptr, 4, nullptr};
  cGuiText status{""};
  cGuiCycleChoice show{"", StrChain{Str("Show unseen"), Str("Show last week"), Str("Show last month"),
                                    Str("Show last year"), Str("Show ALL")}};
  explicit Window(NewsLists& n) {
    feedList.initMultiSelect(true, true);
    feedList.setSortByUser(2, true);
    newsList.setSortByFunction(gCompareNewsItems);
    fNewsFeeds all(n.root.firstLoadedFeed, nullptr, &n.utf8, n.db.get());
    feedList.addEntries(all);
  }
};

void fillOurs(NewsLists& n, Window& w, int32_t show) {
  n.root.showLimitTime = kDateUnset;
  w.show.setState(show);
  fillNewsItemList(*n.db, &n.utf8, n.root, &w.feedList, w.newsList, &w.status, &w.show);
}

// SQLite's rows as the news list's row source: the same columns, style,
// data and date box.
class SqliteRows : public fGuiListEntries {
 public:
  SqliteRows(sqlite3* db, bool unseenOnly) {
    sqlite3_prepare_v2(db,
                       unseenOnly ? "SELECT i.id, i.published, f.name, i.title, i.tags, i.seen, f.seen FROM items i "
                                    "JOIN feeds f ON f.id = i.feed WHERE i.published >= f.seen "
                                    "ORDER BY i.published DESC"
                                  : "SELECT i.id, i.published, f.name, i.title, i.tags, i.seen, f.seen FROM items i "
                                    "JOIN feeds f ON f.id = i.feed ORDER BY i.published DESC",
                       -1, &statement_, nullptr);
  }
  ~SqliteRows() override { sqlite3_finalize(statement_); }
  GuiListRow call() override {
    GuiListRow row;
    if (sqlite3_step(statement_) != SQLITE_ROW) return row;
    const bigTime date = sqlite3_column_int64(statement_, 1);
    Str day = Str::withCapacity(19);
    std::string line = pTime::formatBigTime(day, date, false, false).str();
    line += '\t';
    line += text(2).substr(0, 20);
    line += '\t';
    line += text(3);
    line += '\t';
    line += text(4);
    const bigTime feedSeen = sqlite3_column_int64(statement_, 6);
    row.label = Str(line);
    row.style = (sqlite3_column_int(statement_, 5) ? 0 : 4) | (date >= feedSeen ? 1 : 0);
    row.data = sqlite3_column_int(statement_, 0);
    row.dataBox = newBoxBIGVALUE(static_cast<int64_t>(static_cast<int32_t>(date)));
    return row;
  }

 private:
  std::string_view text(int column) {
    const unsigned char* t = sqlite3_column_text(statement_, column);
    return t ? std::string_view(reinterpret_cast<const char*>(t)) : std::string_view();
  }
  sqlite3_stmt* statement_ = nullptr;
};

// The fills' rows, once, side by side: they must agree.
void checkSameRows(NewsLists& n, int32_t show) {
  static std::set<int32_t> checked;
  if (!checked.insert(show).second) return;
  Window ours(n), theirs(n);
  fillOurs(n, ours, show);
  SqliteRows rows(n.sql, show == 0);
  theirs.newsList.addEntries(rows);
  bench_news::requireSameRows(ours.newsList, theirs.newsList, "bench_newslist: show state " + std::to_string(show));
}

void BM_FillNewsItemList(benchmark::State& state) {
  NewsLists& n = lists();
  const auto show = static_cast<int32_t>(state.range(0));
  checkSameRows(n, show);
  int64_t rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto w = std::make_unique<Window>(n);
    state.ResumeTiming();
    fillOurs(n, *w, show);
    rows = w->newsList.infoCount();
    state.PauseTiming();
    w.reset();
    state.ResumeTiming();
  }
  // The merge once more, stepped, for its peak of objects held.
  n.root.showUnseen = show == 0;
  fAllNewsItems merge(*n.db, &n.utf8, n.root);
  const size_t before = n.db->infoTableCount();
  for (newsFeed* feed : n.feeds) merge.seed(*feed);
  size_t peak = n.db->infoTableCount() - before;
  for (GuiListRow row = merge.call(); !row.label.isNil(); row = merge.call())
    peak = std::max(peak, n.db->infoTableCount() - before);
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["peak_loaded"] = static_cast<double>(peak);
}
BENCHMARK(BM_FillNewsItemList)->Arg(4)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_SqliteNewsList(benchmark::State& state) {
  NewsLists& n = lists();
  const bool unseen = state.range(0) == 0;
  int64_t rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto w = std::make_unique<Window>(n);
    state.ResumeTiming();
    SqliteRows source(n.sql, unseen);
    w->newsList.addEntries(source);
    rows = w->newsList.infoCount();
    state.PauseTiming();
    w.reset();
    state.ResumeTiming();
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_SqliteNewsList)->Arg(4)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bw

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // After the table: SQLite's time / ours per Show state, target at least 1.
  bw::bench::TimeRatioReporter reporter({
      {"Show ALL: fill vs SELECT", "BM_FillNewsItemList/4", "BM_SqliteNewsList/4", 1.0},
      {"Show unseen: fill vs SELECT", "BM_FillNewsItemList/0", "BM_SqliteNewsList/0", 1.0},
  });
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  delete bw::holder();
  return 0;
}
