// bench/bench_json.cpp - the JSON reader against RapidJSON (Document::Parse),
// nlohmann::json::parse and simdjson's DOM parser on the same in-memory
// documents (twitter.json, citm_catalog.json, canada.json): parse plus
// ending the tree, parse plus decode (every string read once as UTF-8:
// through the getters here, by walking the document for the peers, which
// decode while parsing), and the heap each keeps per input byte once parsed.
// The ratios to the peers print at the end. Deeply nested broken answers
// print the reader's time per byte.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <rapidjson/document.h>
#include <simdjson.h>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/bench_ratio.h"
#include "bench/bench_testdata.h"
#include "bench/bench_web_text.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "web/json_reader.h"

namespace {

constexpr const char* kFiles[] = {"twitter.json", "citm_catalog.json", "canada.json"};

struct Inputs {
  Inputs() {
    bw::initMegaListModule();
    bw::initTranslateEngine();
    bw::initTranslateModule();
    bw::initJSONModule();
    utf8.load("UTF-8");
    for (const char* f : kFiles) texts.push_back(bw::bench::readTestData(std::string("json/perf/") + f));
  }
  bw::cEncodingUTF utf8;
  std::vector<std::string> texts;
};

Inputs& inputs() {
  static Inputs in;
  return in;
}

// Bytes of heap in use (small blocks and mapped ones).
size_t heapInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// Heap kept by a parsed document per input byte: measured once, around a
// parse whose result is still alive.
template <class Parse>
void memoryCounter(benchmark::State& state, const std::string& text, Parse parse) {
  malloc_trim(0);
  size_t before = heapInUse();
  auto kept = parse();
  size_t after = heapInUse();
  state.counters["mem/input"] =
      static_cast<double>(after > before ? after - before : 0) / static_cast<double>(text.size());
  benchmark::DoNotOptimize(kept);
}

// Parses the text (and with decode reads every text) in each round.
void brindleworkRun(benchmark::State& state, bool decode) {
  const std::string& text = inputs().texts[static_cast<size_t>(state.range(0))];
  if (text.empty()) return state.SkipWithError("corpus not found");
  bw::cJSON reader(inputs().utf8, nullptr);
  for (auto _ : state) {
    bw::JsonParseResult r = reader.parseDocument(text.c_str(), static_cast<int32_t>(text.size()));
    if (!r.root) return state.SkipWithError(r.message.c_str());
    if (decode) benchmark::DoNotOptimize(bw::bench::readEveryText(*r.root, inputs().utf8));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kFiles[state.range(0)]);
  memoryCounter(state, text, [&] {
    auto root = reader.parseDocument(text.c_str(), static_cast<int32_t>(text.size())).root;
    if (decode) benchmark::DoNotOptimize(bw::bench::readEveryText(*root, inputs().utf8));
    return root;
  });
}

void BM_Brindlework(benchmark::State& state) { brindleworkRun(state, false); }
BENCHMARK(BM_Brindlework)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_BrindleworkDecode(benchmark::State& state) { brindleworkRun(state, true); }
BENCHMARK(BM_BrindleworkDecode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Broken answers of 10^4, 10^5 and 10^6 bytes: unclosed "[" or {"a": (refused
// at the depth limit), and runs nested to the limit and closed again, which
// are read whole. The time per byte stays flat or falls with the size.
void BM_BrindleworkNesting(benchmark::State& state) {
  const char* const units[] = {"[", "{\"a\":", "closed runs"};
  const int64_t shape = state.range(0);
  const auto size = static_cast<size_t>(state.range(1));
  std::string text;
  if (shape < 2) {
    while (text.size() < size) text += units[shape];
  } else {
    const std::string run = std::string(bw::kJsonDepthLimit - 1, '[') + std::string(bw::kJsonDepthLimit - 1, ']');
    text = "[";
    while (text.size() < size) text += run + ",";
    text += "1]";
  }
  bw::cJSON reader(inputs().utf8, nullptr);
  for (auto _ : state) {
    bw::JsonParseResult r = reader.parseDocument(text.c_str(), static_cast<int32_t>(text.size()));
    if (!r.root != (shape < 2)) return state.SkipWithError("unexpected outcome");
    benchmark::DoNotOptimize(r.root);
  }
  state.counters["ns/byte"] = benchmark::Counter(static_cast<double>(text.size()) * 1e-9,
                                                 benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
  state.SetLabel(units[shape]);
}
BENCHMARK(BM_BrindleworkNesting)
    ->ArgsProduct({{0, 1, 2}, {10000, 100000, 1000000}})
    ->Unit(benchmark::kMicrosecond);

// The string bytes of a RapidJSON value and everything in it.
size_t readEveryString(const rapidjson::Value& v) {
  size_t bytes = 0;
  if (v.IsString()) bytes += v.GetStringLength();
  if (v.IsArray())
    for (const auto& e : v.GetArray()) bytes += readEveryString(e);
  if (v.IsObject())
    for (const auto& m : v.GetObject()) bytes += m.name.GetStringLength() + readEveryString(m.value);
  return bytes;
}

void BM_RapidJSONDecode(benchmark::State& state) {
  const std::string& text = inputs().texts[static_cast<size_t>(state.range(0))];
  for (auto _ : state) {
    rapidjson::Document d;
    d.Parse(text.c_str(), text.size());
    if (d.HasParseError()) return state.SkipWithError("parse error");
    benchmark::DoNotOptimize(readEveryString(d));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kFiles[state.range(0)]);
}
BENCHMARK(BM_RapidJSONDecode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

size_t readEveryString(const nlohmann::json& j) {
  size_t bytes = 0;
  if (j.is_string()) bytes += j.get_ref<const std::string&>().size();
  if (j.is_object())
    for (const auto& [key, value] : j.items()) bytes += key.size() + readEveryString(value);
  if (j.is_array())
    for (const auto& e : j) bytes += readEveryString(e);
  return bytes;
}

void BM_NlohmannDecode(benchmark::State& state) {
  const std::string& text = inputs().texts[static_cast<size_t>(state.range(0))];
  for (auto _ : state) {
    nlohmann::json j = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(readEveryString(j));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetLabel(kFiles[state.range(0)]);
}
BENCHMARK(BM_NlohmannDecode)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_RapidJSON(benchmark::State& state) {
  const std::string& text = inputs().texts[static_cast<size_t>(state.range(0))];
  for (auto _ : state) {
    rapidjson::Document d;
    d.Parse(text.c_str(), text.size());
    if (d.HasParseError()) return state.SkipWithError("parse error");
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  memoryCounter(state, text, [&] {
    auto d = std::make_unique<rapidjson::Document>();
    d->Parse(text.c_str(), text.size());
    return d;
  });
  state.SetLabel(kFiles[state.range(0)]);
}
BENCHMARK(BM_RapidJSON)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_Nlohmann(benchmark::State& state) {
  const std::string& text = inputs().texts[static_cast<size_t>(state.range(0))];
  for (auto _ : state) {
    nlohmann::json j = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(j);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  memoryCounter(state, text, [&] { return std::make_unique<nlohmann::json>(nlohmann::json::parse(text)); });
  state.SetLabel(kFiles[state.range(0)]);
}
BENCHMARK(BM_Nlohmann)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_Simdjson(benchmark::State& state) {
  const std::string& text = inputs().texts[static_cast<size_t>(state.range(0))];
  simdjson::padded_string padded(text);
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element doc;
    if (parser.parse(padded).get(doc)) return state.SkipWithError("parse error");
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  memoryCounter(state, text, [&] {
    auto p = std::make_unique<simdjson::dom::parser>();
    simdjson::dom::element doc;
    simdjson::error_code error = p->parse(padded).get(doc);
    benchmark::DoNotOptimize(error);
    return p;
  });
  state.SetLabel(kFiles[state.range(0)]);
}
BENCHMARK(BM_Simdjson)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::vector<bw::bench::RatioLine> lines;
  for (int i = 0; i < 3; ++i) {
    const std::string arg = "/" + std::to_string(i);
    const std::string what = std::string(kFiles[i]) + " parse + decode";
    lines.push_back({what + " / RapidJSON", "BM_BrindleworkDecode" + arg, "BM_RapidJSONDecode" + arg, 0.5});
    lines.push_back({what + " / nlohmann", "BM_BrindleworkDecode" + arg, "BM_NlohmannDecode" + arg, 3});
    lines.push_back({std::string(kFiles[i]) + " parse / RapidJSON", "BM_Brindlework" + arg, "BM_RapidJSON" + arg, 0});
  }
  return bw::bench::runWithRatios(argc, argv, std::move(lines));
}
