// bench/bench_facebook.cpp - parseFacebookFeed of one page of 100 posts with
// 50 comments each (5,100 items) into a Facebook feed of 10,000 items, flush
// included (items per second and stored-item loads per iteration), beside a
// peer pipeline doing the same work with RapidJSON and SQLite (one
// transaction, journal DELETE, synchronous FULL).
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_news_support.h"
#include "bench/bench_ratio.h"
#include "core/module_registry.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "news/ui_seam.h"
#include "social/facebook_parser.h"
#include "social/facebook_records.h"
#include "web/json_reader.h"

namespace bw {
namespace {

constexpr int kStored = 10000;
constexpr int kPosts = 100;
constexpr int kComments = 50;
constexpr int kPageItems = kPosts * (kComments + 1);

// Parses ask nothing of the user here.
class SilentUi : public NewsUi {
 public:
  int32_t gui_requester(Text, Text, Text, const RequesterParameters&, int32_t, int32_t) override { return 1; }
  void report(Text, Text, const RequesterParameters&) override {}
  ChangedGuiItem checkForChangedGuiItem() override { return {}; }
  ChangedGuiItem waitForChangedGuiItem() override { return {}; }
};

void startModules() {
  static ModuleRegistry modules = [] {
    ModuleRegistry m;
    addNewsModules(m);
    m.initAll();
    static SilentUi ui;
    setNewsUi(&ui);
    return m;
  }();
}

// "2017-mm-ddThh:mm:ss+0000" for second s of 2017 (seconds < 2^24).
std::string isoTime(int64_t s) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "2017-%02d-%02dT%02d:%02d:%02d+0000", 1 + static_cast<int>(s / 2592000 % 12),
                1 + static_cast<int>(s / 86400 % 28), static_cast<int>(s / 3600 % 24), static_cast<int>(s / 60 % 60),
                static_cast<int>(s % 60));
  return buf;
}

// A timeline page of posts first..first+count-1 (newest first), each with
// comments comment ids, dated upwards from second `at`.
std::string timelinePage(int first, int count, int comments, int64_t at) {
  std::string json = R"({"data":[)";
  for (int p = first + count - 1; p >= first; --p) {
    const std::string n = std::to_string(p);
    json += (p != first + count - 1 ? "," : "") + std::string(R"({"id":"77_)") + n +
            R"(","from":{"name":"Ann"},"type":"status","message":"Post number )" + n +
            R"( says something about the day.\nAnd more.","permalink_url":"https://www.facebook.com/77/posts/)" + n +
            R"(","created_time":")" + isoTime(at + p * 100) + "\"";
    if (comments > 0) {
      json += R"(,"comments":{"data":[)";
      for (int c = comments; c >= 1; --c) {
        json += (c != comments ? "," : "") + std::string(R"({"id":")") + n + "_" + std::to_string(c) +
                R"(","from":{"name":"Bo"},"message":"Reply )" + std::to_string(c) + R"(","created_time":")" +
                isoTime(at + p * 100 + c) + "\"}";
      }
      json += "]}";
    }
    json += "}";
  }
  return json + "]}";
}

// The size of a timed page: both pipelines read the same bytes, so the
// byte rates compare as the item rates do.
int64_t pageBytes() { return static_cast<int64_t>(timelinePage(kStored, kPosts, kComments, 0).size()); }

std::unique_ptr<webDataRoot> document(const std::string& timeline, bool withInfo) {
  cJSON reader;
  std::unique_ptr<webDataRoot> doc = reader.parseDocument(timeline.data(), int32_t(timeline.size())).root;
  doc->head()->setName(Str(kFacebookTimelineRoot), Str(), false);
  if (withInfo) {
    const std::string info = R"({"id":"77","name":"Some Page","link":"https:\/\/www.facebook.com\/SomePage"})";
    std::unique_ptr<webDataRoot> i = reader.parseDocument(info.data(), int32_t(info.size())).root;
    i->head()->setName(Str(kFacebookInfoRoot), Str(), false);
    doc->addNodes(i->takeNodes(), doc.get());
  }
  return doc;
}

void BM_FacebookParsePage(benchmark::State& state) {
  startModules();
  const std::string dir = bench_news::makeScratchDir("BenchFacebook");
  int64_t loads = 0;
  {
    cJournaledIndexedObjectSoupDatabase db(2);
    if (!db.openNew(Text("BenchFacebook:/news.soup"), false, false)) std::abort();
    auto root = std::make_unique<newsRoot>();
    root->init(&db);
    db.setRootValue(db.createdObject(root.get()));
    auto stored = document(timelinePage(0, kStored, 0, 0), true);
    newsFeed* feed = parseFacebookFeed(db, *stored, *root, nullptr, nullptr, nullptr, nullptr).feed;
    if (!feed) std::abort();
    db.flush();
    int next = kStored;
    for (auto _ : state) {
      state.PauseTiming();
      auto page = document(timelinePage(next, kPosts, kComments, 0), false);
      next += kPosts;
      const int64_t before = infoNewsItemLoads();
      state.ResumeTiming();
      parseFacebookFeed(db, *page, *root, nullptr, nullptr, feed, nullptr);
      db.flush();
      loads += infoNewsItemLoads() - before;
    }
    for (newsFeed* f = root->firstLoadedFeed; f;) {
      newsFeed* n = f->nextLoadedFeed;
      db.unloadObject(f);
      f = n;
    }
    db.unloadObject(root.release());
    db.close();
  }
  state.counters["loads_per_page"] = static_cast<double>(loads) / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * kPageItems);
  state.SetBytesProcessed(state.iterations() * pageBytes());
  std::remove((dir + "/news.soup").c_str());
}
BENCHMARK(BM_FacebookParsePage)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The same page read with RapidJSON and stored in SQLite: each post and
// comment whose id is not stored yet becomes a row, in one transaction.
void BM_FacebookPeerRapidJsonSqlite(benchmark::State& state) {
  const std::string dir = bench_news::makeScratchDir("BenchFacebookPeer");
  const std::string path = dir + "/news.sqlite";
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  auto exec = [db](const char* sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); };
  exec("PRAGMA journal_mode=DELETE");
  exec("PRAGMA synchronous=FULL");
  exec("CREATE TABLE items(id INTEGER PRIMARY KEY, feed INTEGER, uniqueID TEXT UNIQUE, title TEXT, link TEXT, "
       "published TEXT, parent TEXT, body TEXT)");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO items(feed, uniqueID, title, link, published, parent, body) "
                         "VALUES(1, ?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
  auto store = [&](const rapidjson::Value& data, const char* parent) {
    for (const rapidjson::Value& p : data.GetArray()) {
      auto text = [&](const char* name) { return p.HasMember(name) ? p[name].GetString() : ""; };
      const std::string title = std::string(parent ? "(comment by " : "(") + p["from"]["name"].GetString() + ") " +
                                std::string(text("message")).substr(0, 60);
      sqlite3_bind_text(insert, 1, text("id"), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 2, title.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 3, text("permalink_url"), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 4, text("created_time"), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 5, parent ? parent : "", -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 6, text("message"), -1, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
  };
  auto pipeline = [&](const std::string& json) {
    rapidjson::Document d;
    d.Parse(json.c_str());
    exec("BEGIN");
    store(d["data"], nullptr);
    for (const rapidjson::Value& p : d["data"].GetArray()) {
      if (p.HasMember("comments")) store(p["comments"]["data"], p["id"].GetString());
    }
    exec("COMMIT");
  };
  pipeline(timelinePage(0, kStored, 0, 0));
  int next = kStored;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string json = timelinePage(next, kPosts, kComments, 0);
    next += kPosts;
    state.ResumeTiming();
    pipeline(json);
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * kPageItems);
  state.SetBytesProcessed(state.iterations() * pageBytes());
  std::remove(path.c_str());
}
BENCHMARK(BM_FacebookPeerRapidJsonSqlite)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
}  // namespace bw

int main(int argc, char** argv) {
  return bw::bench::runWithRatios(argc, argv,
                                  {{"Facebook page, 5,100 items into 10,000",
                                    "BM_FacebookParsePage/iterations:5/real_time",
                                    "BM_FacebookPeerRapidJsonSqlite/iterations:5/real_time", 0.8}});
}
