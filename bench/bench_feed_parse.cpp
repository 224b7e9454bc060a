// bench/bench_feed_parse.cpp - feed parsing and HTML-to-text, each beside a
// peer on the same input:
//   1. a ~5 MB RSS 2.0 of 5,000 items built from the corpora's items, read
//      and parsed into a new feed, again (all repeats) and with 10 % changed,
//      into a database on the in-memory backend, with the item loads of each
//      parse (short links stay offline); libmrss's mrss_parse_buffer on the
//      same bytes (target: ours 1.5x as fast);
//   2. htmlToDisplayText over the corpora's descriptions against libxml2's
//      htmlReadMemory + xmlNodeGetContent (target: ours 2x as fast).
// After the table, the two ratios from the throughputs measured in the same
// run.
#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <mrss.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/bench_testdata.h"
#include "news/html_text.h"
#include "news/memory_news_support.h"
#include "news/news_load.h"
#include "news/news_objects.h"
#include "news/rss_parser.h"
#include "news/ui_seam_test_support.h"
#include "web/http.h"
#include "web/xml_reader.h"

namespace {

namespace fs = std::filesystem;

// The element texts between <name> and </name> in text.
std::vector<std::string> elements(const std::string& text, const std::string& name) {
  std::vector<std::string> out;
  const std::string open = "<" + name + ">", close = "</" + name + ">";
  for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    size_t end = text.find(close, at);
    if (end == std::string::npos) break;
    out.push_back(text.substr(at + open.size(), end - at - open.size()));
  }
  return out;
}

std::string unescape(std::string s) {
  static const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (auto [from, to] : entities) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + 1)) s.replace(at, std::strlen(from), to);
  }
  return s;
}

struct Corpus {
  Corpus() {
    bw::testing_news::addMemoryNewsModules(modules);
    modules.initAll();
    const fs::path base = fs::path(BRINDLEWORK_TESTDATA_DIR) / "feeds";
    if (!fs::exists(base)) return;
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(base))
      if (e.path().extension() == ".xml") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> items;
    for (const auto& f : files) {
      const std::string text = bw::bench::readWholeFile(f);
      // UTF-8 documents only: the built feed must be well-formed UTF-8.
      if (text.find("<rss version=\"2.0\"") == std::string::npos || !bw::isWellFormedUTF8(text)) continue;
      for (std::string& i : elements(text, "item"))
        if (i.find('<') != std::string::npos && i.find("<![CDATA[") == std::string::npos) items.push_back(i);
      for (std::string& d : elements(text, "description")) html.push_back(unescape(d));
    }
    if (items.empty()) return;
    for (int changed : {0, 10}) {
      std::string& doc = changed ? changedFeed : feed;
      doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
            "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\"><channel><title>Bench</title>"
            "<link>http://bench.example/</link>";
      size_t nextHtml = 0;
      for (int i = 0; i < 5000; ++i) {
        std::string item = items[static_cast<size_t>(i) % items.size()];
        doc += "<item><guid>bench-" + std::to_string(i) + "</guid>";
        if (changed && i % 10 == 0) doc += "<description>changed " + std::to_string(i) + "</description>";
        // About 1 KB of the corpora's HTML as the item's content, as real
        // feeds carry it.
        std::string content;
        while (content.size() < 800 && !html.empty()) {
          const std::string& h = html[nextHtml++ % html.size()];
          if (h.find("]]>") == std::string::npos) content += h;
        }
        doc += item + "<content:encoded><![CDATA[" + content + "]]></content:encoded></item>\n";
      }
      doc += "</channel></rss>\n";
    }
    for (const std::string& h : html) htmlBytes += h.size();
    std::printf("feed: %zu bytes, %zu corpus items\n", feed.size(), items.size());
  }
  ~Corpus() { modules.endAll(); }
  bw::ModuleRegistry modules;
  std::string feed, changedFeed;
  std::vector<std::string> html;
  size_t htmlBytes = 0;
};

Corpus& corpus() {
  static Corpus c;
  return c;
}

using MemoryNews = bw::testing_news::MemoryNews;

// range(0): 0 a new feed, 1 all repeats, 2 with 10 % changed.
void BM_FeedParse_Ours(benchmark::State& state) {
  Corpus& c = corpus();
  if (c.feed.empty()) return state.SkipWithError("corpus not found");
  const std::string& second = state.range(0) == 2 ? c.changedFeed : c.feed;
  int64_t loads = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto news = std::make_unique<MemoryNews>();
    bw::newsFeed* feed = state.range(0) == 0 ? nullptr : news->parse(c.feed, nullptr).feed;
    const int64_t loadsBefore = bw::infoNewsItemLoads();
    state.ResumeTiming();
    benchmark::DoNotOptimize(news->parse(state.range(0) == 0 ? c.feed : second, feed));
    state.PauseTiming();
    loads += bw::infoNewsItemLoads() - loadsBefore;
    news.reset();
    state.ResumeTiming();
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["items/s"] = benchmark::Counter(5000.0 * n, benchmark::Counter::kIsRate);
  state.counters["item_loads/parse"] = static_cast<double>(loads) / n;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.feed.size()));
}
BENCHMARK(BM_FeedParse_Ours)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_FeedParse_Libmrss(benchmark::State& state) {
  Corpus& c = corpus();
  if (c.feed.empty()) return state.SkipWithError("corpus not found");
  for (auto _ : state) {
    mrss_t* data = nullptr;
    if (mrss_parse_buffer(c.feed.data(), c.feed.size(), &data) != MRSS_OK) return state.SkipWithError("libmrss failed");
    benchmark::DoNotOptimize(data);
    mrss_free(data);
  }
  state.counters["items/s"] = benchmark::Counter(5000.0 * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.feed.size()));
}
BENCHMARK(BM_FeedParse_Libmrss)->Unit(benchmark::kMillisecond);

void BM_FeedParse_HtmlToText_Ours(benchmark::State& state) {
  Corpus& c = corpus();
  if (c.html.empty()) return state.SkipWithError("corpus not found");
  for (auto _ : state) {
    for (const std::string& h : c.html) benchmark::DoNotOptimize(bw::htmlToDisplayText(h, false, true));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.htmlBytes));
}
BENCHMARK(BM_FeedParse_HtmlToText_Ours)->Unit(benchmark::kMillisecond);

void BM_FeedParse_HtmlToText_Libxml2(benchmark::State& state) {
  Corpus& c = corpus();
  if (c.html.empty()) return state.SkipWithError("corpus not found");
  for (auto _ : state) {
    for (const std::string& h : c.html) {
      htmlDocPtr doc = htmlReadMemory(h.data(), static_cast<int>(h.size()), nullptr, "UTF-8",
                                      HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                          HTML_PARSE_NONET);
      if (!doc) continue;
      xmlChar* text = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(doc));
      benchmark::DoNotOptimize(text);
      xmlFree(text);
      xmlFreeDoc(doc);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.htmlBytes));
}
BENCHMARK(BM_FeedParse_HtmlToText_Libxml2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bw::bench::runWithRatios(
      argc, argv,
      {{"RSS 2.0 read + parse into a new feed / libmrss", "BM_FeedParse_Ours/0", "BM_FeedParse_Libmrss", 1.5},
       {"HTML to text / libxml2 read + content", "BM_FeedParse_HtmlToText_Ours", "BM_FeedParse_HtmlToText_Libxml2",
        2}});
}
