// bench/bench_twitter.cpp - the tweet date reader against glibc's strptime
// and timegm on a million dates, and the rebuild of a 20,000-item Twitter
// feed's duplicate chains (items per second and item loads per item).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_news_support.h"
#include "bench/bench_ratio.h"
#include "core/module_registry.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "social/social_links.h"
#include "social/twitter_module.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

constexpr int kDates = 1000000;
constexpr int kItems = 20000;

void startModules() {
  static ModuleRegistry modules = [] {
    ModuleRegistry m;
    addNewsModules(m);
    m.initAll();
    twitterModuleNew();
    return m;
  }();
}

// Dates as the service writes them, NUL-terminated, side by side.
struct Dates {
  std::string buffer;
  std::vector<std::string_view> views;
};
const Dates& dates() {
  static const Dates all = [] {
    Dates d;
    std::vector<size_t> starts;
    std::mt19937 rng(7);
    const char* days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[64];
    for (int i = 0; i < kDates; ++i) {
      std::snprintf(buf, sizeof buf, "%s %s %02u %02u:%02u:%02u +0000 %04u", days[rng() % 7], months[rng() % 12],
                    1 + static_cast<unsigned>(rng() % 28), static_cast<unsigned>(rng() % 24),
                    static_cast<unsigned>(rng() % 60), static_cast<unsigned>(rng() % 60),
                    2006 + static_cast<unsigned>(rng() % 20));
      starts.push_back(d.buffer.size());
      d.buffer.append(buf);
      d.buffer.push_back('\0');
    }
    for (size_t start : starts) d.views.emplace_back(d.buffer.data() + start);
    return d;
  }();
  return all;
}

void setBytes(benchmark::State& state) {
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(dates().buffer.size()));
  state.SetItemsProcessed(state.iterations() * kDates);
}

void BM_TwitterParseDate(benchmark::State& state) {
  startModules();
  const auto& v = dates().views;
  for (auto _ : state) {
    int64_t sum = 0;
    for (std::string_view s : v) sum += twitterParseDate(s);
    benchmark::DoNotOptimize(sum);
  }
  setBytes(state);
}
BENCHMARK(BM_TwitterParseDate)->Unit(benchmark::kMillisecond);

void BM_TwitterStrptimeTimegm(benchmark::State& state) {
  const auto& v = dates().views;
  for (auto _ : state) {
    int64_t sum = 0;
    for (std::string_view s : v) {
      tm t{};
      if (::strptime(s.data(), "%a %b %d %H:%M:%S %z %Y", &t)) sum += ::timegm(&t) - t.tm_gmtoff;
    }
    benchmark::DoNotOptimize(sum);
  }
  setBytes(state);
}
BENCHMARK(BM_TwitterStrptimeTimegm)->Unit(benchmark::kMillisecond);

// A Twitter feed of 20,000 items whose links repeat (one in four shares a
// story with an older item).
void BM_TwitterRebuildDuplicates(benchmark::State& state) {
  startModules();
  const std::string dir = bench_news::makeScratchDir("BenchTwitter");
  {
    cJournaledIndexedObjectSoupDatabase db(2);
    if (!db.openNew(Text("BenchTwitter:/news.soup"), false, false)) std::abort();
    auto* feed = new newsFeed;
    feed->type = Str(kTwitterFeedType);
    feed->docFormat = feedTypeToDocFormat(feed->type);
    feed->setSoup(&db);
    db.createdObject(feed);
    std::mt19937 rng(3);
    for (int done = 0; done < kItems;) {
      const int32_t t = db.beginTransaction();
      for (int i = 0; i < 100 && done < kItems; ++i, ++done) {
        auto* item = new newsItem;
        const int story = rng() % 4 == 0 ? static_cast<int>(rng() % 1000) : 1000 + done;
        item->link = Str("http://example.com/story/" + std::to_string(story) + "?ref=" + std::to_string(done));
        item->feedIndex = feed->infoSoupIndex();
        feed->itemList->insertAtTail(db.createdAndUnloadObject(item));
      }
      db.finishTransaction(t);
      db.flush();
    }
    const int64_t loadsBefore = infoNewsItemLoads();
    for (auto _ : state) {
      rebuildFeedDuplicates(db, *feed);
      db.flush();
    }
    state.counters["loads_per_item"] = static_cast<double>(infoNewsItemLoads() - loadsBefore) /
                                       static_cast<double>(state.iterations() * kItems);
    state.SetItemsProcessed(state.iterations() * kItems);
    db.unloadObject(feed);
    db.close();
  }
  std::remove((dir + "/news.soup").c_str());
}
BENCHMARK(BM_TwitterRebuildDuplicates)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace bw

int main(int argc, char** argv) {
  return bw::bench::runWithRatios(argc, argv,
                                  {{"tweet dates, 10^6", "BM_TwitterParseDate", "BM_TwitterStrptimeTimegm", 3.0}});
}
