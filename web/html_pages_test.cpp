// web/html_pages_test.cpp - the HTML reader over real pages (the Atom
// autodiscovery pages): every tag read quietly, link tags give their
// attributes exactly as the page writes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "web/html_reader.h"
#include "web/json_test_support.h"
#include "web/web_corpus_test_support.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

using HtmlPagesTest = JsonTest;

// The value of attribute `name` as the tag text writes it, found without the
// reader: a name (any case) after white space, "=" and a quoted string or a
// run of bytes up to white space.
std::optional<std::string> writtenValue(const std::string& tag, const std::string& name) {
  std::regex re("[\\s]" + name + "\\s*=\\s*(\"([^\"]*)\"|'([^']*)'|([^\\s\"'][^\\s]*))", std::regex::icase);
  std::smatch m;
  if (!std::regex_search(tag, m, re)) return std::nullopt;
  return m[2].matched ? m[2].str() : m[3].matched ? m[3].str() : m[4].str();
}

TEST_F(HtmlPagesTest, AutodiscoveryPagesGiveTheirLinksAsWritten) {
  const fs::path dir = fs::path(BRINDLEWORK_TESTDATA_DIR) / "feeds/feedvalidator/feedfinder-tests";
  if (!fs::exists(dir)) GTEST_SKIP() << "test corpus not found: " << dir;
  std::vector<fs::path> pages;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".html") pages.push_back(entry.path());
  std::sort(pages.begin(), pages.end());
  ASSERT_GT(pages.size(), 50u);

  int links = 0, quietFailures = 0, alternates = 0;
  for (const fs::path& path : pages) {
    const std::string page = readCorpusFile(path).value_or("");
    auto root = createHTMLroot(Str("UTF-8"), Str(), utf8_);
    // Every "<" of the page is a place a caller may read a tag at.
    for (size_t lt = page.find('<'); lt != std::string::npos; lt = page.find('<', lt + 1)) {
      HtmlTagAndText t;
      std::string printed =
          capturedStdout([&] { t = pHTML::html_nextTagAndText(page, static_cast<int64_t>(lt), true); });
      if (t.tag.isNil()) {
        EXPECT_TRUE(t.position == -1 || page[static_cast<size_t>(t.position)] == '>') << path;
        continue;
      }
      const std::string tagText = t.tag.str();
      HtmlParsedTag parsed;
      printed = capturedStdout(
          [&] { parsed = pHTML::html_parseTag(t.tag.view(), root.get(), std::move(t.text), true); });
      if (!parsed.node) {
        ++quietFailures;
        continue;
      }
      if (!parsed.node->isNamed("link", nullptr)) continue;
      ++links;
      for (const char* name : {"rel", "type", "href"}) {
        Str value = parsed.node->getAttribute(name, nullptr, true);
        std::optional<std::string> written = writtenValue(" " + tagText, name);
        EXPECT_EQ(value.isNil(), !written) << path << ": " << tagText;
        if (written) {
          EXPECT_EQ(value, *written) << path << ": " << tagText;
        }
      }
      Str rel = parsed.node->getAttribute("rel", &utf8_, false);
      if (rel == "alternate") ++alternates;
    }
  }
  std::cout << "autodiscovery pages: " << pages.size() << " pages, " << links << " link tags, " << alternates
            << " alternate, " << quietFailures << " tags refused quietly\n";
  EXPECT_GT(links, 100);
  EXPECT_GT(alternates, 30);
}

}  // namespace
}  // namespace bw
