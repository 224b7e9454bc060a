// bench/bench_xml.cpp - the XML reader against pugixml (DOM), libxml2
// (xmlReadMemory DOM) and expat (SAX) on the same in-memory documents: a
// ~20 MB text-heavy RSS 2.0 in UTF-8 and the same in ISO-8859-1, and a
// ~20 MB markup-dense Atom, made by repeating the items of corpus feeds.
// Each reader is timed parsing alone and parsing plus decoding (every
// node's text and attributes read once as UTF-8: through the getters here,
// by walking the tree for the DOM peers; expat decodes while it parses).
// Also the reader's peak memory per input byte. The ratios to the peers print at the end.
#include <benchmark/benchmark.h>
#include <expat.h>
#include <libxml/parser.h>
#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <cstdlib>
#include <new>
#include <pugixml.hpp>
#include <string>

#include "bench/bench_ratio.h"
#include "bench/bench_testdata.h"
#include "bench/bench_web_text.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "web/xml_entities.h"
#include "web/xml_reader.h"

// Heap accounting for the peak-memory figure.
namespace {
std::atomic<size_t> gHeapNow{0};
std::atomic<size_t> gHeapPeak{0};
// Counting is on only while the peak is measured, so timings see plain malloc.
std::atomic<bool> gCounting{false};
}  // namespace

void* operator new(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  if (!gCounting.load(std::memory_order_relaxed)) return p;
  size_t now = gHeapNow += malloc_usable_size(p);
  size_t peak = gHeapPeak.load();
  while (now > peak && !gHeapPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  if (gCounting.load(std::memory_order_relaxed)) gHeapNow -= malloc_usable_size(p);
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

constexpr size_t kTarget = 20u << 20;

// The feed with the span [first `open`, `close`) repeated to ~20 MB.
std::string repeated(const char* relative, const char* open, const char* close) {
  std::string feed = bw::bench::readTestData(relative);
  size_t a = feed.find(open), b = feed.find(close);
  if (feed.empty() || a == std::string::npos || b == std::string::npos) return {};
  std::string items = feed.substr(a, b - a);
  std::string out = feed.substr(0, a);
  while (out.size() < kTarget) out += items;
  out += feed.substr(b);
  return out;
}

struct Inputs {
  Inputs() {
    bw::initMegaListModule();
    bw::initTranslateEngine();
    bw::initTranslateModule();
    bw::initXMLModule();
    utf8.load("UTF-8");
    rss = repeated("feeds/feedvalidator/rss/must/rss20_spec_sample_noerror.xml", "<item>", "</channel>");
    atom = repeated("feeds/feedparser/wellformed/sanitize/large_atom_feed_that_needs_css_sanitisation.xml",
                    "<entry>", "</feed>");
    // The same RSS declared ISO-8859-1, with some Latin-1 letters in it.
    latin1 = rss;
    replaceAll(latin1, "<?xml version=\"1.0\"?>", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>");
    replaceAll(latin1, "Scripting", "Scr\xEEpting");
    replaceAll(latin1, "namespaces", "nam\xE9spaces");
  }
  static void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
  }
  bw::cEncodingUTF utf8;
  std::string rss;
  std::string latin1;
  std::string atom;
};

Inputs& inputs() {
  static Inputs in;
  return in;
}

// 0: UTF-8 RSS, 1: ISO-8859-1 RSS, 2: Atom.
const std::string& input(int which) {
  return which == 0 ? inputs().rss : which == 1 ? inputs().latin1 : inputs().atom;
}

void setup(benchmark::State& state, const std::string& doc) {
  if (doc.empty()) state.SkipWithError("corpus feed not found");
  const int which = static_cast<int>(state.range(0));
  state.SetLabel(which == 0 ? "rss" : which == 1 ? "rss-latin1" : "atom");
}

// Parses the document (and with decode reads every text) in each round.
void brindleworkRun(benchmark::State& state, bool decode) {
  const std::string& doc = input(static_cast<int>(state.range(0)));
  setup(state, doc);
  bw::cXML reader(inputs().utf8);
  for (auto _ : state) {
    if (!reader.open(doc.c_str(), static_cast<int32_t>(doc.size() + 1))) state.SkipWithError("open");
    bw::XmlParseResult r = reader.parseDocument();
    reader.close();
    benchmark::DoNotOptimize(r.root.get());
    if (decode) benchmark::DoNotOptimize(bw::bench::readEveryText(*r.root, inputs().utf8));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_Brindlework(benchmark::State& state) {
  brindleworkRun(state, false);
  // Peak heap of one open + parse, per input byte.
  const std::string& doc = input(static_cast<int>(state.range(0)));
  bw::cXML reader(inputs().utf8);
  gHeapNow = 0;
  gHeapPeak = 0;
  gCounting = true;
  reader.open(doc.c_str(), static_cast<int32_t>(doc.size() + 1));
  {
    bw::XmlParseResult r = reader.parseDocument();
    reader.close();
  }
  gCounting = false;
  state.counters["peak/input"] = static_cast<double>(gHeapPeak.load()) / static_cast<double>(doc.size());
}
BENCHMARK(BM_Brindlework)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_BrindleworkDecode(benchmark::State& state) { brindleworkRun(state, true); }
BENCHMARK(BM_BrindleworkDecode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void pugixmlRun(benchmark::State& state, bool decode) {
  const std::string& doc = input(static_cast<int>(state.range(0)));
  setup(state, doc);
  for (auto _ : state) {
    pugi::xml_document d;
    pugi::xml_parse_result r = d.load_buffer(doc.data(), doc.size());
    benchmark::DoNotOptimize(r.status);
    if (!decode) continue;
    // pugixml decodes while parsing; reading is a walk over the values.
    struct Reader : pugi::xml_tree_walker {
      size_t bytes = 0;
      bool for_each(pugi::xml_node& n) override {
        bytes += std::strlen(n.value());
        for (pugi::xml_attribute a : n.attributes()) bytes += std::strlen(a.value());
        return true;
      }
    } reader;
    d.traverse(reader);
    benchmark::DoNotOptimize(reader.bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
void BM_Pugixml(benchmark::State& state) { pugixmlRun(state, false); }
void BM_PugixmlDecode(benchmark::State& state) { pugixmlRun(state, true); }
BENCHMARK(BM_Pugixml)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlDecode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Text and attribute values of every node below n, walked without recursion.
size_t readEveryText(xmlNodePtr n) {
  size_t bytes = 0;
  while (n) {
    if (n->content) bytes += xmlStrlen(n->content);
    if (n->type == XML_ELEMENT_NODE) {
      for (xmlAttrPtr a = n->properties; a; a = a->next)
        if (a->children && a->children->content) bytes += xmlStrlen(a->children->content);
    }
    if (n->children) {
      n = n->children;
      continue;
    }
    while (n && !n->next) n = n->parent;
    if (n) n = n->next;
  }
  return bytes;
}

void libxml2Run(benchmark::State& state, bool decode) {
  const std::string& doc = input(static_cast<int>(state.range(0)));
  setup(state, doc);
  for (auto _ : state) {
    xmlDocPtr d = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), "bench.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_HUGE);
    benchmark::DoNotOptimize(d);
    if (decode) benchmark::DoNotOptimize(readEveryText(xmlDocGetRootElement(d)));
    xmlFreeDoc(d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
void BM_Libxml2(benchmark::State& state) { libxml2Run(state, false); }
void BM_Libxml2Decode(benchmark::State& state) { libxml2Run(state, true); }
BENCHMARK(BM_Libxml2)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libxml2Decode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void XMLCALL onStart(void* count, const XML_Char*, const XML_Char**) { ++*static_cast<size_t*>(count); }
void XMLCALL onEnd(void*, const XML_Char*) {}
void XMLCALL onText(void*, const XML_Char*, int) {}

void BM_Expat(benchmark::State& state) {
  const std::string& doc = input(static_cast<int>(state.range(0)));
  setup(state, doc);
  for (auto _ : state) {
    size_t elements = 0;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetUserData(p, &elements);
    XML_SetElementHandler(p, onStart, onEnd);
    XML_SetCharacterDataHandler(p, onText);
    XML_Parse(p, doc.data(), static_cast<int>(doc.size()), 1);
    XML_ParserFree(p);
    benchmark::DoNotOptimize(elements);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_Expat)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// getText on a megabyte of entity-heavy text, into UTF-8 (0) and
// ISO-8859-1 (1).
}  // namespace

int main(int argc, char** argv) {
  std::vector<bw::bench::RatioLine> lines;
  const char* labels[] = {"RSS UTF-8", "RSS ISO-8859-1", "Atom"};
  for (int i = 0; i < 3; ++i) {
    const std::string arg = "/" + std::to_string(i);
    const std::string what = std::string(labels[i]) + " parse + decode";
    lines.push_back({what + " / pugixml", "BM_BrindleworkDecode" + arg, "BM_PugixmlDecode" + arg, 0.5});
    lines.push_back({what + " / libxml2", "BM_BrindleworkDecode" + arg, "BM_Libxml2Decode" + arg, 5});
    lines.push_back({what + " / expat", "BM_BrindleworkDecode" + arg, "BM_Expat" + arg, 0});
    lines.push_back({std::string(labels[i]) + " parse / pugixml", "BM_Brindlework" + arg, "BM_Pugixml" + arg, 0});
  }
  return bw::bench::runWithRatios(argc, argv, std::move(lines));
}
