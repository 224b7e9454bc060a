// bench/bench_twitter.cpp - the update of a feed holding 20,000 items with a 3,200-tweet timeline in the
// service's shape (read, merged and flushed), against a peer pipeline doing
// the same work with Debian's libraries: RapidJSON reading the same bytes
// and SQLite (journal DELETE, synchronous FULL) inserting the same item and
// body fields in one transaction. Both start each round from a copy of the
// same stored state. Last, the read of that timeline alone (our reader, the
// root ended) against RapidJSON's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <rapidjson/document.h>
#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/bench_news_support.h"
#include "bench/bench_ratio.h"
#include "core/module_registry.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "social/twitter_module.h"
#include "social/twitter_parser.h"
#include "web/json_reader.h"

namespace bw {
namespace {


void startModules() {
  static ModuleRegistry modules = [] {
    ModuleRegistry m;
    addNewsModules(m);
    m.initAll();
    twitterModuleNew();
    return m;
  }();
}

// ---- Parse and merge of a timeline ----

constexpr int kStoredTweets = 20000;
constexpr int kNewTweets = 3200;

// A tweet as the service writes it: "\/" for "/", "&amp;", the author's
// whole profile inside. One in four links repeats an older story.
std::string serviceTweet(int64_t id) {
  const std::string n = std::to_string(id);
  const int64_t story = id % 4 == 0 ? id / 4 % 1000 : id;
  const std::string link = "http:\\/\\/example.com\\/story\\/" + std::to_string(story);
  return "{\"created_at\":\"Wed Aug " + std::to_string(10 + id % 18) + " 13:" + std::to_string(10 + id % 50) +
         ":45 +0000 2018\",\"id\":" + n + ",\"id_str\":\"" + n + "\",\"full_text\":\"Tweet " + n +
         " on the morning report &amp; the market, read more https:\\/\\/t.co\\/" + n +
         "\",\"truncated\":false,\"display_text_range\":[0,79],\"entities\":{\"hashtags\":[{\"text\":\"news\","
         "\"indices\":[10,15]}],\"symbols\":[],\"user_mentions\":[],\"urls\":[{\"url\":\"https:\\/\\/t.co\\/" + n +
         "\",\"expanded_url\":\"" + link + "\",\"display_url\":\"example.com\\/story\\/" + std::to_string(story) +
         "\",\"indices\":[56,79]}]},\"source\":\"<a href=\\\"http:\\/\\/twitter.com\\\" rel=\\\"nofollow\\\">Twitter "
         "Web Client<\\/a>\",\"in_reply_to_status_id\":null,\"in_reply_to_status_id_str\":null,"
         "\"in_reply_to_user_id\":null,\"in_reply_to_user_id_str\":null,\"in_reply_to_screen_name\":null,"
         "\"user\":{\"id\":12345,\"id_str\":\"12345\",\"name\":\"Some User\",\"screen_name\":\"SomeUser\","
         "\"location\":\"Somewhere\",\"description\":\"Tweets &amp; more\",\"url\":null,\"entities\":{"
         "\"description\":{\"urls\":[]}},\"protected\":false,\"followers_count\":1024,\"friends_count\":128,"
         "\"listed_count\":5,\"created_at\":\"Mon Jan 05 10:00:00 +0000 2009\",\"favourites_count\":10,"
         "\"utc_offset\":null,\"time_zone\":null,\"geo_enabled\":false,\"verified\":false,\"statuses_count\":23200,"
         "\"lang\":\"en\",\"profile_background_color\":\"C0DEED\",\"profile_image_url\":\"http:\\/\\/pbs.example.com"
         "\\/p.png\",\"profile_image_url_https\":\"https:\\/\\/pbs.example.com\\/p.png\",\"default_profile\":true},"
         "\"geo\":null,\"coordinates\":null,\"place\":null,\"contributors\":null,\"is_quote_status\":false,"
         "\"retweet_count\":3,\"favorite_count\":7,\"favorited\":false,\"retweeted\":false,"
         "\"possibly_sensitive\":false,\"lang\":\"en\"}";
}

// A timeline page: tweets last..first, newest first.
std::string timelinePage(int64_t first, int64_t last) {
  std::string json = "[";
  for (int64_t id = last; id >= first; --id) json += serviceTweet(id) + (id > first ? "," : "");
  return json + "]";
}

const std::string kProfileJson =
    "{\"id\":12345,\"id_str\":\"12345\",\"name\":\"Some User\",\"screen_name\":\"SomeUser\","
    "\"profile_image_url\":\"http:\\/\\/pbs.example.com\\/p.png\",\"lang\":\"en\",\"description\":\"Tweets &amp; "
    "more\"}";

// The document a download hands the parser: the timeline and the profile
// under their pseudo-root names. The texts must outlive it.
std::unique_ptr<webDataRoot> downloadedDocument(const std::string& page) {
  std::unique_ptr<webDataRoot> doc;
  for (const auto& [text, name] : {std::pair{&page, kTimelineRoot}, std::pair{&kProfileJson, kUsersShowRoot}}) {
    cJSON reader(twitterEscapeTable());
    JsonParseResult r = reader.parseDocument(text->data(), static_cast<int32_t>(text->size()));
    if (!r.root) std::abort();
    r.root->head()->setName(Str(name), Str(), false);
    if (doc) {
      doc->addNodes(r.root->takeNodes(), doc.get());
    } else {
      doc = std::move(r.root);
    }
  }
  return doc;
}

// The stored state both sides start each round from: our database with the
// feed of 20,000 tweets (added and updated page by page as the program
// does), and SQLite's file with the same rows.
struct MergeFiles {
  std::string dir, ours, peer;
  std::string newPage;  // tweets 20,001-23,200
};

void sqliteExec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
}

// The peer's statements: one row per item and one per body, the fields the
// tweet reader takes.
struct PeerStatements {
  sqlite3_stmt* body = nullptr;
  sqlite3_stmt* item = nullptr;
  explicit PeerStatements(sqlite3* db) {
    sqlite3_prepare_v2(db, "INSERT INTO bodies(content,author,image) VALUES(?,?,?)", -1, &body, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO items(feed,uid,title,link,published,body) VALUES(1,?,?,?,?,?)", -1, &item,
                       nullptr);
  }
  ~PeerStatements() {
    sqlite3_finalize(body);
    sqlite3_finalize(item);
  }
};

// Inserts the tweets of a RapidJSON document in one transaction.
void peerInsert(sqlite3* db, const rapidjson::Document& page) {
  PeerStatements st(db);
  sqliteExec(db, "BEGIN");
  for (const auto& t : page.GetArray()) {
    const auto& text = t["full_text"];
    const auto& user = t["user"];
    sqlite3_bind_text(st.body, 1, text.GetString(), static_cast<int>(text.GetStringLength()), SQLITE_STATIC);
    sqlite3_bind_text(st.body, 2, user["name"].GetString(), -1, SQLITE_STATIC);
    sqlite3_bind_text(st.body, 3, user["profile_image_url"].GetString(), -1, SQLITE_STATIC);
    sqlite3_step(st.body);
    sqlite3_reset(st.body);
    tm when{};
    ::strptime(t["created_at"].GetString(), "%a %b %d %H:%M:%S %z %Y", &when);
    const auto& urls = t["entities"]["urls"];
    sqlite3_bind_text(st.item, 1, t["id_str"].GetString(), -1, SQLITE_STATIC);
    sqlite3_bind_text(st.item, 2, text.GetString(), static_cast<int>(text.GetStringLength()), SQLITE_STATIC);
    if (urls.Size() > 0) {
      sqlite3_bind_text(st.item, 3, urls[0]["expanded_url"].GetString(), -1, SQLITE_STATIC);
    } else {
      sqlite3_bind_null(st.item, 3);
    }
    sqlite3_bind_int64(st.item, 4, ::timegm(&when) - when.tm_gmtoff);
    sqlite3_bind_int64(st.item, 5, sqlite3_last_insert_rowid(db));
    sqlite3_step(st.item);
    sqlite3_reset(st.item);
  }
  sqliteExec(db, "COMMIT");
}

sqlite3* openPeer(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
  sqliteExec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL");
  return db;
}

const MergeFiles& mergeFiles() {
  static const MergeFiles files = [] {
    MergeFiles f;
    f.dir = bench_news::makeScratchDir("BenchTwitterMerge");
    f.ours = f.dir + "/stored.soup";
    f.peer = f.dir + "/stored.sqlite";
    f.newPage = timelinePage(kStoredTweets + 1, kStoredTweets + kNewTweets);
    {
      cJournaledIndexedObjectSoupDatabase db(2);
      if (!db.openNew(Text("BenchTwitterMerge:/stored.soup"), false, false)) std::abort();
      auto root = std::make_unique<newsRoot>();
      root->init(&db);
      db.setRootValue(db.createdObject(root.get()));
      newsFeed* feed = nullptr;
      for (int first = 1; first <= kStoredTweets; first += kNewTweets) {
        const std::string page = timelinePage(first, std::min(first + kNewTweets - 1, kStoredTweets));
        std::unique_ptr<webDataRoot> doc = downloadedDocument(page);
        feed = parseTwitterFeed(db, *doc, *root, nullptr, nullptr, feed, nullptr).feed;
        if (!feed) std::abort();
        db.flush();
      }
      root->firstLoadedFeed = nullptr;
      db.unloadObject(feed);
      db.unloadObject(root.release());
      db.close();
    }
    sqlite3* db = openPeer(f.peer);
    sqliteExec(db,
               "CREATE TABLE bodies(id INTEGER PRIMARY KEY, content TEXT, author TEXT, image TEXT);"
               "CREATE TABLE items(id INTEGER PRIMARY KEY, feed INTEGER, uid TEXT, title TEXT, link TEXT, "
               "published INTEGER, body INTEGER)");
    for (int first = 1; first <= kStoredTweets; first += kNewTweets) {
      rapidjson::Document page;
      page.Parse(timelinePage(first, std::min(first + kNewTweets - 1, kStoredTweets)).c_str());
      peerInsert(db, page);
    }
    sqlite3_close(db);
    return f;
  }();
  return files;
}

// Copies the stored state into place and syncs it, so that a round's
// fsyncs pay only for what the round itself wrote.
void copyToDisk(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  const int fd = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) std::abort();
  ::close(fd);
}

void BM_TwitterParseAndMerge(benchmark::State& state) {
  startModules();
  const MergeFiles& f = mergeFiles();
  const std::string work = f.dir + "/work.soup";
  for (auto _ : state) {
    state.PauseTiming();
    copyToDisk(f.ours, work);
    cJournaledIndexedObjectSoupDatabase db(2);
    if (!db.open(Text("BenchTwitterMerge:/work.soup"), false)) std::abort();
    newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
    newsFeed* feed = loadObject_newsFeed(db, root->feedList->infoHeadIndex());
    const int32_t headBefore = feed->itemList->infoHeadIndex();
    state.ResumeTiming();
    {
      std::unique_ptr<webDataRoot> doc = downloadedDocument(f.newPage);
      parseTwitterFeed(db, *doc, *root, nullptr, nullptr, feed, nullptr);
    }
    db.flush();
    state.PauseTiming();
    if (feed->itemList->infoHeadIndex() == headBefore) std::abort();  // the new tweets went in
    db.unloadObject(feed);
    db.unloadObject(root);
    db.close();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.newPage.size()));
  state.SetItemsProcessed(state.iterations() * kNewTweets);
}
BENCHMARK(BM_TwitterParseAndMerge)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_TwitterRapidJsonSqlite(benchmark::State& state) {
  const MergeFiles& f = mergeFiles();
  const std::string work = f.dir + "/work.sqlite";
  for (auto _ : state) {
    state.PauseTiming();
    copyToDisk(f.peer, work);
    sqlite3* db = openPeer(work);
    state.ResumeTiming();
    {
      rapidjson::Document page;
      page.Parse(f.newPage.data(), f.newPage.size());
      if (page.HasParseError() || !page.IsArray()) std::abort();
      peerInsert(db, page);
    }
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.newPage.size()));
  state.SetItemsProcessed(state.iterations() * kNewTweets);
}
BENCHMARK(BM_TwitterRapidJsonSqlite)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Reading the timeline of the update above: our reader with the service's
// entity table, the root ended, against RapidJSON's Document::Parse (its
// document freed).
const std::string& readPage() {
  static const std::string page = timelinePage(kStoredTweets + 1, kStoredTweets + kNewTweets);
  return page;
}

void BM_TwitterReadTimeline(benchmark::State& state) {
  startModules();
  const std::string& page = readPage();
  for (auto _ : state) {
    cJSON reader(twitterEscapeTable());
    JsonParseResult r = reader.parseDocument(page.data(), static_cast<int32_t>(page.size()));
    if (!r.root) std::abort();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_TwitterReadTimeline)->Unit(benchmark::kMillisecond);

void BM_TwitterReadRapidJson(benchmark::State& state) {
  const std::string& page = readPage();
  for (auto _ : state) {
    rapidjson::Document d;
    d.Parse(page.data(), page.size());
    if (d.HasParseError()) std::abort();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_TwitterReadRapidJson)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bw

int main(int argc, char** argv) {
  return bw::bench::runWithRatios(
      argc, argv,
      {{"3,200 tweets into 20,000 items", "BM_TwitterParseAndMerge/iterations:5/real_time",
        "BM_TwitterRapidJsonSqlite/iterations:5/real_time", 0.8},
       {"reading the 3,200-tweet timeline", "BM_TwitterReadTimeline", "BM_TwitterReadRapidJson", 1.0}});
}
