// bench/bench_wide_tags.cpp - a first tag of 10,000, 100,000 and 200,000
// attributes (about 7.5 bytes each: 1.5 MB at 200,000) through each reader
// that checks attribute names: the feed discovery scan of a web page, the
// HTML reader's tag, the XML reader's document and an RSS document whose
// "rss" element declares that many namespaces, read and parsed into a new
// feed. The time per attribute ("time/attr") stays flat as the count grows
// when the checks are linear; every case should end well within a second.
#include <benchmark/benchmark.h>

#include <string>

#include "news/feed_discovery.h"
#include "news/memory_news_support.h"
#include "web/html_reader.h"
#include "web/xml_reader.h"

namespace {

// " a0=1 a1=1 ..." with distinct names, then between, then the close.
std::string wideTag(const std::string& open, int64_t count, const std::string& value, const std::string& close) {
  std::string text = open;
  for (int64_t i = 0; i < count; ++i) text += " a" + std::to_string(i) + "=" + value;
  return text + close;
}

// The time per attribute, printed in seconds with a prefix ("150n").
void perAttribute(benchmark::State& state) {
  state.counters["time/attr"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

struct Modules {
  Modules() {
    bw::testing_news::addMemoryNewsModules(registry);
    registry.initAll();
  }
  ~Modules() { registry.endAll(); }
  bw::ModuleRegistry registry;
};

void startModules() { static Modules modules; }

void BM_WideTag_Discovery(benchmark::State& state) {
  startModules();
  const std::string page = wideTag("<html><head><link", state.range(0), "1",
                                   " rel=alternate type=application/rss+xml href=/feed.xml></head>");
  for (auto _ : state) {
    bw::CandidateScan scan = bw::collectFeedCandidates(page, bw::Text("http://example.com/"), "");
    if (scan.candidates.size() != 1) return state.SkipWithError("the feed was not found");
    benchmark::DoNotOptimize(scan);
  }
  perAttribute(state);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(BM_WideTag_Discovery)->Arg(10'000)->Arg(100'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

void BM_WideTag_Html(benchmark::State& state) {
  startModules();
  const std::string tag = wideTag("link", state.range(0), "1", "");
  auto root = bw::createHTMLroot(bw::Str("UTF-8"), bw::Str());
  for (auto _ : state) {
    bw::HtmlParsedTag parsed = bw::pHTML::html_parseTag(bw::Text(tag), root.get(), bw::Str(""), true);
    if (!parsed.node || parsed.node->infoAttributeCount() != state.range(0)) return state.SkipWithError("not read");
    benchmark::DoNotOptimize(parsed);
  }
  perAttribute(state);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * tag.size()));
}
BENCHMARK(BM_WideTag_Html)->Arg(10'000)->Arg(100'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

void BM_WideTag_Xml(benchmark::State& state) {
  startModules();
  const std::string doc = wideTag("<root", state.range(0), "'1'", "/>");
  bw::cXML reader;
  for (auto _ : state) {
    if (!reader.open(doc.data(), static_cast<int32_t>(doc.size()))) return state.SkipWithError("not opened");
    bw::XmlParseResult r = reader.parseDocument();
    if (!r.root) return state.SkipWithError("not read");
    benchmark::DoNotOptimize(r);
    reader.close();
  }
  perAttribute(state);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_WideTag_Xml)->Arg(10'000)->Arg(100'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

void BM_WideTag_RssNamespaces(benchmark::State& state) {
  startModules();
  std::string doc = "<rss version='2.0'";
  for (int64_t i = 0; i < state.range(0); ++i) {
    doc += " xmlns:n" + std::to_string(i) + "='http://n" + std::to_string(i) + ".example/'";
  }
  doc += "><channel><title>Wide</title><link>http://wide.example/</link>"
         "<item><title>One</title><guid>1</guid></item></channel></rss>";
  for (auto _ : state) {
    state.PauseTiming();
    auto news = std::make_unique<bw::testing_news::MemoryNews>();
    state.ResumeTiming();
    if (!news->parse(doc, nullptr).feed) return state.SkipWithError("not parsed");
    state.PauseTiming();
    news.reset();
    state.ResumeTiming();
  }
  perAttribute(state);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_WideTag_RssNamespaces)->Arg(10'000)->Arg(100'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

}  // namespace
