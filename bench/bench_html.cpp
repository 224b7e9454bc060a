// bench/bench_html.cpp - reading every tag of a ~10 MB page (the
// autodiscovery pages repeated) with the tolerant reader, quietly, against
// libxml2's htmlReadMemory (building its tree) on the same bytes.
#include <benchmark/benchmark.h>
#include <libxml/HTMLparser.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_testdata.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "web/html_reader.h"
#include "web/xml_entities.h"

namespace {

struct Page {
  Page() {
    bw::initMegaListModule();
    bw::initTranslateEngine();
    bw::initTranslateModule();
    bw::initXMLModule();
    bw::initHTMLModule();
    utf8.load("UTF-8");
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(BRINDLEWORK_TESTDATA_DIR) / "feeds/feedvalidator/feedfinder-tests";
    std::vector<fs::path> files;
    if (fs::exists(dir)) {
      for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".html") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    // One document of the pages' heads and bodies, so that both readers see
    // every tag: the UTF-16 pages (a NUL ends the text for both) and each
    // page's DOCTYPE and html lines are left out.
    std::string pages;
    for (const auto& f : files) {
      std::string page = bw::bench::readWholeFile(f);
      if (page.find('\0') != std::string::npos) continue;
      std::istringstream lines(page);
      for (std::string line; std::getline(lines, line);) {
        if (line.find("<!DOCTYPE") != std::string::npos || line.find("<html") != std::string::npos ||
            line.find("</html>") != std::string::npos)
          continue;
        pages += line + "\n";
      }
    }
    text = "<!DOCTYPE html>\n<html>\n";
    while (!pages.empty() && text.size() < (10u << 20)) text += pages;
    text += "</html>\n";
  }
  bw::cEncodingUTF utf8;
  std::string text;
};

Page& page() {
  static Page p;
  return p;
}

void BM_PHtml(benchmark::State& state) {
  const std::string& text = page().text;
  if (text.empty()) return state.SkipWithError("corpus not found");
  auto root = bw::createHTMLroot(bw::Str("UTF-8"), bw::Str(), page().utf8);
  size_t tags = 0;
  for (auto _ : state) {
    tags = 0;
    for (size_t lt = text.find('<'); lt != std::string::npos; lt = text.find('<', lt + 1)) {
      bw::HtmlTagAndText t = bw::pHTML::html_nextTagAndText(text, static_cast<int64_t>(lt), true);
      if (t.tag.isNil()) continue;
      bw::HtmlParsedTag parsed = bw::pHTML::html_parseTag(t.tag.view(), root.get(), std::move(t.text), true);
      tags += parsed.node ? 1 : 0;
      benchmark::DoNotOptimize(parsed);
    }
  }
  state.counters["nodes"] = static_cast<double>(tags);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_PHtml)->Unit(benchmark::kMillisecond);

// Elements of a libxml2 tree, to show it read the whole page.
size_t countElements(xmlNodePtr node) {
  size_t n = 0;
  std::vector<xmlNodePtr> stack;
  if (node) stack.push_back(node);
  while (!stack.empty()) {
    xmlNodePtr x = stack.back();
    stack.pop_back();
    if (x->type == XML_ELEMENT_NODE) ++n;
    if (x->next) stack.push_back(x->next);
    if (x->children) stack.push_back(x->children);
  }
  return n;
}

void BM_Libxml2Html(benchmark::State& state) {
  const std::string& text = page().text;
  if (text.empty()) return state.SkipWithError("corpus not found");
  for (auto _ : state) {
    htmlDocPtr doc =
        htmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8",
                       HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    benchmark::DoNotOptimize(doc);
    if (state.iterations() == 0)
      state.counters["nodes"] = static_cast<double>(countElements(xmlDocGetRootElement(doc)));
    xmlFreeDoc(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Libxml2Html)->Unit(benchmark::kMillisecond);

}  // namespace
