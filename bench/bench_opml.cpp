// bench/bench_opml.cpp - the feed-list commands against their peers, each
// case interleaved with its peer in one run (ratios ours / theirs as
// counters, printed against their targets):
//   - export of 10,000 feeds (makeOpmlDocument) against `newsboat -e` over
//     the same 10,000 URLs (target: at most 1/2 of its time);
//   - import of 1,000 outlines with dont-edit (importOpmlOutlines, each
//     feed's first update in "Update feeds") from feeds nginx serves, against
//     `newsboat -i` followed by its first `newsboat -x reload` (target: at
//     most its time);
//   - deleting 50 feeds of 2,000 items each with their bodies (deleteFeeds,
//     one transaction, defragmenting as it does) against SQLite deleting the
//     same rows in one transaction, journal DELETE, synchronous FULL (target:
//     at most its time); printed in wall and in CPU time.
// Each iteration starts from a copy of a prepared file, so every run deletes
// the same rows; the delete prints a digest of the file it leaves, so that
// two builds can be shown to leave the same bytes. The newsboat cases skip with a message when newsboat (or
// nginx) is missing. Scratch files go when the program ends.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/feed_delete.h"
#include "app/opml_export.h"
#include "app/opml_import.h"
#include "app/update_window.h"
#include "bench/bench_update_support.h"
#include "bench/bench_news_support.h"
#include "core/box.h"
#include "core/module_registry.h"
#include "gui/gui_list.h"
#include "gui/host/gui_app_client.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "news/ui_seam.h"
#include "platform/app_host.h"
#include "platform/dos_env.h"
#include "platform/spawn.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kExportFeeds = 10000;
constexpr int kImportFeeds = 1000;
constexpr double kImportTarget = 1.0;
constexpr int kDeleteFeeds = 50;
constexpr int kItemsPerFeed = 2000;
constexpr double kExportTarget = 0.5;
constexpr double kDeleteTarget = 1.0;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// The process's CPU seconds so far: fairer than wall time on a loaded
// machine where both sides wait alike for their syncs.
double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Wall and CPU seconds of one measured stretch.
struct Took {
  double wall = 0;
  double cpu = 0;
};

// Answers "Yes" to every question.
class YesUi : public bw::NewsUi {
 public:
  int32_t gui_requester(bw::Text, bw::Text, bw::Text, const bw::RequesterParameters&, int32_t, int32_t) override {
    return 1;
  }
  void report(bw::Text, bw::Text, const bw::RequesterParameters&) override {}
  bw::ChangedGuiItem checkForChangedGuiItem() override { return {}; }
  bw::ChangedGuiItem waitForChangedGuiItem() override { return {}; }
};

// The modules, the offscreen GUI host (the defragmentation's status window)
// and a scratch folder for the whole run.
struct Run {
  Run() {
    modules.add({"dos", bw::dos::initDosLayer, bw::dos::endDosLayer});
    bw::addNewsModules(modules);
    modules.add({"appHost", bw::initAppHost, bw::endAppHost});
    modules.add({"guiHost", bw::initGuiHostModule, bw::endGuiHostModule});
    modules.initAll();
    // The scratch folder's assign is made once the DOS layer has started.
    dir = bw::bench_news::makeScratchDir("OpmlBench");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    bw::newAppHost("Brindlework");
    bw::appHost()->build();
    bw::setNewsUi(&ui);
    charset = bw::newSystemEncoding();
  }
  ~Run() {
    bw::setNewsUi(nullptr);
    bw::unbuildAppHost();
    modules.endAll();
  }
  std::string at(const std::string& name) const { return dir + "/" + name; }
  // The same file by its internal path, as the database opens it.
  static std::string internal(const std::string& name) { return "OpmlBench:/" + name; }

  std::string dir;
  bw::ModuleRegistry modules;
  YesUi ui;
  std::unique_ptr<bw::cEncoding> charset;
};

Run& run() {
  static Run r;
  return r;
}

std::string url(int feed) { return "http://127.0.0.1:9/feeds/" + std::to_string(feed) + ".rss"; }

// A closed database at name holding feeds of items each (with bodies of
// about 500 bytes).
void makeDatabase(const std::string& name, int feeds, int items) {
  run();
  bw::cJournaledIndexedObjectSoupDatabase db(0);
  if (!db.openNew(bw::Text(Run::internal(name)), false, false)) {
    std::fprintf(stderr, "cannot make %s: %s\n", name.c_str(), std::string(db.infoError().view()).c_str());
    std::abort();
  }
  auto root = std::make_unique<bw::newsRoot>();
  root->init(&db);
  db.setRootValue(db.createdObject(root.get()));
  const std::string text(500, 'x');
  for (int f = 0; f < feeds; ++f) {
    int32_t transaction = db.beginTransaction();
    auto feed = std::make_unique<bw::newsFeed>();
    feed->type = bw::Str("RSS 2.0");
    feed->docFormat = bw::feedTypeToDocFormat(feed->type);
    feed->title = bw::Str("Feed " + std::to_string(f));
    feed->url = bw::Str(url(f));
    feed->setSoup(&db);
    const int32_t index = db.createdObject(feed.get());
    bw::newsFeed* stored = feed.release();
    root->feedList->insertAtTail(index);
    for (int i = 0; i < items; ++i) {
      auto body = std::make_unique<bw::newsItemBody>();
      body->content = bw::Str(text);
      auto item = std::make_unique<bw::newsItem>();
      item->title = bw::Str("Item " + std::to_string(i) + " of feed " + std::to_string(f));
      item->link = bw::Str(url(f) + "#" + std::to_string(i));
      item->feedIndex = index;
      item->bodyIndex = db.createdAndUnloadObject(body.release());
      stored->itemList->insertAtTail(db.createdAndUnloadObject(item.release()));
    }
    db.unloadObject(stored);
    db.finishTransaction(transaction);
    db.flush();
  }
  db.unloadObject(root.release());
  db.close();
}

// Gives back the root and its chain of loaded feeds, and closes.
void closeWithChain(bw::cJournaledIndexedObjectSoupDatabase& db, bw::newsRoot* root) {
  for (bw::newsFeed* feed = root->firstLoadedFeed; feed;) {
    bw::newsFeed* next = feed->nextLoadedFeed;
    db.unloadObject(feed);
    feed = next;
  }
  db.unloadObject(root);
  db.close();
}

// An open database with its feeds loaded in the root's chain.
struct Loaded {
  explicit Loaded(const std::string& name) : db(0) {
    if (!db.open(bw::Text(Run::internal(name)), false)) std::abort();
    root = bw::loadObject_newsRoot(db, static_cast<int32_t>(db.infoRootValue()));
    bw::newsFeed** link = &root->firstLoadedFeed;
    for (int32_t index = root->feedList->infoHeadIndex(); index != 0;) {
      bw::newsFeed* feed = bw::loadObject_newsFeed(db, index);
      *link = feed;
      link = &feed->nextLoadedFeed;
      index = feed->infoNextIndex();
    }
  }
  ~Loaded() {
    closeWithChain(db, root);
  }
  bw::cJournaledIndexedObjectSoupDatabase db;
  bw::newsRoot* root = nullptr;
};

// The mean times of both as counters, and the ratio ours / theirs against
// its target printed.
void report(benchmark::State& state, const char* what, const char* peer, double ours, double theirs,
            double target) {
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_ms"] = 1000 * ours / n;
  state.counters["peer_ms"] = 1000 * theirs / n;
  state.counters["ratio"] = ours / theirs;
  std::printf("%s: ours %.1f ms, %s %.1f ms, ratio %.3f (target <= %.2f: %s)\n", what, 1000 * ours / n, peer,
              1000 * theirs / n, ours / theirs, target, ours / theirs <= target ? "met" : "not met");
}

bool haveNewsboat() { return !bw::findExecutable("newsboat", bw::executableSearchPath()).empty(); }

// Runs argv with its output to /dev/null and HOME in the scratch folder.
void runQuietly(const std::vector<std::string>& argv) {
  bw::SpawnOptions options;
  options.in = bw::SpawnStdio::kNull;
  options.out = bw::SpawnStdio::kNull;
  options.err = bw::SpawnStdio::kNull;
  setenv("HOME", run().dir.c_str(), 1);
  bw::SpawnResult spawned = bw::spawnProcess(argv, options);
  if (spawned.error == 0) spawned.child.wait();
}

void BM_ExportVsNewsboat(benchmark::State& state) {
  if (!haveNewsboat()) {
    state.SkipWithError("newsboat is not installed: the export case is skipped");
    return;
  }
  static bool made = [] {
    makeDatabase("export.soup", kExportFeeds, 0);
    std::ofstream urls(run().at("urls"));
    for (int f = 0; f < kExportFeeds; ++f) urls << url(f) << "\n";
    return true;
  }();
  (void)made;
  Loaded loaded("export.soup");
  const std::vector<std::string> peer = {"newsboat", "-u", run().at("urls"), "-c", run().at("cache.db"), "-e"};
  runQuietly(peer);  // makes its cache once, outside the measurement
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    if (!bw::makeOpmlDocument(bw::Text("OpmlBench:/export.opml"), *loaded.root, *run().charset)) std::abort();
    const double took = seconds(start);
    ours += took;
    fs::remove(run().at("export.opml"));
    start = Clock::now();
    runQuietly(peer);
    theirs += seconds(start);
    state.SetIterationTime(took);
  }
  report(state, "export of 10,000 feeds", "newsboat -e", ours, theirs, kExportTarget);
}
BENCHMARK(BM_ExportVsNewsboat)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// A fresh database with a root and no feed, open, with the root loaded.
struct Empty {
  explicit Empty(const std::string& name) : db(0) {
    fs::remove(run().at(name));
    if (!db.openNew(bw::Text(Run::internal(name)), false, false)) std::abort();
    auto fresh = std::make_unique<bw::newsRoot>();
    fresh->init(&db);
    db.setRootValue(db.createdObject(fresh.get()));
    root = fresh.release();
  }
  ~Empty() {
    closeWithChain(db, root);
  }
  bw::cJournaledIndexedObjectSoupDatabase db;
  bw::newsRoot* root = nullptr;
};

void BM_ImportVsNewsboat(benchmark::State& state) {
  if (!haveNewsboat() || !fs::exists(bw::bench::kNginx)) {
    state.SkipWithError("newsboat or nginx is not installed: the import case is skipped");
    return;
  }
  const fs::path corpus = run().at("corpus");
  uint64_t bytes = 0;
  const std::vector<std::string> paths = bw::bench::writeFeeds(corpus, kImportFeeds, &bytes);
  bw::bench::Nginx nginx(corpus);
  if (!nginx.ready()) {
    state.SkipWithError("nginx did not start: the import case is skipped");
    return;
  }
  // Ten folders of a hundred feeds each.
  std::string opml = "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><body>";
  for (int f = 0; f < kImportFeeds; ++f) {
    if (f % 100 == 0) opml += (f ? "</outline>" : "") + std::string("<outline text=\"Folder ") + std::to_string(f / 100) + "\">";
    opml += "<outline type=\"rss\" text=\"Feed " + std::to_string(f) + "\" xmlUrl=\"" + nginx.url(paths[f]) + "\"/>";
  }
  opml += "</outline></body></opml>\n";
  std::ofstream(run().at("import.opml")) << opml;

  double ours = 0, theirs = 0;
  for (auto _ : state) {
    double took = 0;
    {
      Empty empty("import.soup");
      bw::cGuiWindow* mainWindow = bw::cGuiHost::CreateGuiWindow("Brindlework");
      mainWindow->beginGroupVertical(nullptr);
      mainWindow->addLabel("main");
      mainWindow->endGroup();
      mainWindow->build(true);
      mainWindow->setSize(1200, 800);
      bw::cGuiList feeds(nullptr, 5, nullptr), tags(nullptr, 1, "Tag");
      feeds.initMultiSelect(true, true);
      feeds.setSortByUser(0, false);
      tags.initMultiSelect(true, true);
      tags.setSortByColumn(0, false);
      bw::NewsGuiWindows windows;
      bw::UpdateWindowRecord record = bw::buildUpdateWindow(windows);
      auto start = Clock::now();
      bw::OpmlDocument document = bw::readOpmlFile(bw::Text(run().at("import.opml")));
      bw::importOpmlOutlines(*document.body, true, empty.db, {mainWindow, feeds, tags, record}, *empty.root,
                             *run().charset);
      empty.db.flush();
      took = seconds(start);
      ours += took;
      int added = 0;
      for (bw::newsFeed* f = empty.root->firstLoadedFeed; f; f = f->nextLoadedFeed) ++added;
      if (added != kImportFeeds) state.SkipWithError("the import did not add every feed");
      bw::endUpdateWindow(record, windows);
      bw::endGuiWindow(mainWindow);
    }
    fs::remove(run().at("import-urls"));
    fs::remove(run().at("import-cache.db"));
    auto start = Clock::now();
    runQuietly({"newsboat", "-u", run().at("import-urls"), "-c", run().at("import-cache.db"), "-i",
                run().at("import.opml")});
    runQuietly({"newsboat", "-u", run().at("import-urls"), "-c", run().at("import-cache.db"), "-x", "reload"});
    theirs += seconds(start);
    state.SetIterationTime(took);
  }
  report(state, "import of 1,000 outlines", "newsboat -i and -x reload", ours, theirs, kImportTarget);
}
BENCHMARK(BM_ImportVsNewsboat)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void sqliteExec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
}

void makeSqlite(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqliteExec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;"
                 "CREATE TABLE feeds(id INTEGER PRIMARY KEY, title TEXT, url TEXT);"
                 "CREATE TABLE items(id INTEGER PRIMARY KEY, feed INTEGER, title TEXT, link TEXT, body INTEGER);"
                 "CREATE INDEX items_feed ON items(feed);"
                 "CREATE TABLE bodies(id INTEGER PRIMARY KEY, content TEXT);");
  sqliteExec(db, "BEGIN");
  sqlite3_stmt *feed = nullptr, *item = nullptr, *body = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO feeds(title, url) VALUES(?, ?)", -1, &feed, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO items(feed, title, link, body) VALUES(?, ?, ?, ?)", -1, &item, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO bodies(content) VALUES(?)", -1, &body, nullptr);
  const std::string text(500, 'x');
  for (int f = 0; f < kDeleteFeeds; ++f) {
    const std::string title = "Feed " + std::to_string(f), address = url(f);
    sqlite3_bind_text(feed, 1, title.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(feed, 2, address.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(feed);
    sqlite3_reset(feed);
    const sqlite3_int64 feedId = sqlite3_last_insert_rowid(db);
    for (int i = 0; i < kItemsPerFeed; ++i) {
      sqlite3_bind_text(body, 1, text.c_str(), -1, SQLITE_STATIC);
      sqlite3_step(body);
      sqlite3_reset(body);
      const std::string itemTitle = "Item " + std::to_string(i) + " of feed " + std::to_string(f);
      const std::string link = address + "#" + std::to_string(i);
      sqlite3_bind_int64(item, 1, feedId);
      sqlite3_bind_text(item, 2, itemTitle.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(item, 3, link.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(item, 4, sqlite3_last_insert_rowid(db));
      sqlite3_step(item);
      sqlite3_reset(item);
    }
  }
  sqlite3_finalize(feed);
  sqlite3_finalize(item);
  sqlite3_finalize(body);
  sqliteExec(db, "COMMIT");
  sqlite3_close(db);
}

// FNV-1a of a whole file.
uint64_t fileDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(1 << 16);
  uint64_t h = 0xcbf29ce484222325ULL;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      h = (h ^ static_cast<uint8_t>(buffer[static_cast<size_t>(i)])) * 0x100000001b3ULL;
    }
  }
  return h;
}

Took sqliteDelete(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqliteExec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
  auto start = Clock::now();
  const double cpuStart = cpuSeconds();
  sqliteExec(db, "BEGIN");
  for (int f = 1; f <= kDeleteFeeds; ++f) {
    const std::string id = std::to_string(f);
    sqliteExec(db, ("DELETE FROM bodies WHERE id IN (SELECT body FROM items WHERE feed=" + id + ");"
                    "DELETE FROM items WHERE feed=" + id + "; DELETE FROM feeds WHERE id=" + id + ";")
                       .c_str());
  }
  sqliteExec(db, "COMMIT");
  const Took took{seconds(start), cpuSeconds() - cpuStart};
  sqlite3_close(db);
  return took;
}

void BM_DeleteVsSqlite(benchmark::State& state) {
  static bool made = [] {
    makeDatabase("delete.soup", kDeleteFeeds, kItemsPerFeed);
    makeSqlite(run().at("delete.sqlite"));
    return true;
  }();
  (void)made;
  double ours = 0, theirs = 0, oursCpu = 0, theirsCpu = 0;
  uint64_t digest = 0;
  for (auto _ : state) {
    double took = 0;
    fs::copy_file(run().at("delete.soup"), run().at("deleting.soup"), fs::copy_options::overwrite_existing);
    fs::copy_file(run().at("delete.sqlite"), run().at("deleting.sqlite"), fs::copy_options::overwrite_existing);
    {
      Loaded loaded("deleting.soup");
      bw::cGuiList feeds(nullptr, 1, nullptr);
      feeds.initMultiSelect(true, true);
      for (bw::newsFeed* f = loaded.root->firstLoadedFeed; f; f = f->nextLoadedFeed) {
        feeds.addEntry(f->title, 0, false, 0, std::make_unique<bw::boxPTR>(f), true);
        feeds.cursor_setState(true);
      }
      bw::newsItem *selected = nullptr, *shown = nullptr;
      bw::newsItemBody* body = nullptr;
      auto start = Clock::now();
      const double cpuStart = cpuSeconds();
      bw::deleteFeeds(feeds, {selected, shown, body}, loaded.db, *loaded.root, *run().charset);
      took = seconds(start);
      oursCpu += cpuSeconds() - cpuStart;
      ours += took;
    }
    digest = fileDigest(run().at("deleting.soup"));
    const Took peer = sqliteDelete(run().at("deleting.sqlite"));
    theirs += peer.wall;
    theirsCpu += peer.cpu;
    state.SetIterationTime(took);
  }
  report(state, "deleting 50 feeds x 2,000 items", "SQLite", ours, theirs, kDeleteTarget);
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_cpu_ms"] = 1000 * oursCpu / n;
  state.counters["peer_cpu_ms"] = 1000 * theirsCpu / n;
  state.counters["cpu_ratio"] = oursCpu / theirsCpu;
  std::printf("  in CPU time: ours %.1f ms, SQLite %.1f ms, ratio %.3f\n", 1000 * oursCpu / n, 1000 * theirsCpu / n,
              oursCpu / theirsCpu);
  // Two builds that must leave the same bytes print the same digest.
  std::printf("  the file after deleting: %zu bytes, FNV-1a %016llx\n",
              static_cast<size_t>(fs::file_size(run().at("deleting.soup"))), static_cast<unsigned long long>(digest));
}
BENCHMARK(BM_DeleteVsSqlite)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
