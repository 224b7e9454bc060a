// web/xml_corpus_test.cpp - the reader over the W3C XML conformance suite and
// the feed corpora: no crash, well-formed UTF-8 out, pinned outcomes, and
// parse -> write -> parse round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "web/web_corpus_test_support.h"
#include "web/web_dump.h"
#include "web/web_test_support.h"
#include "web/xml_exercise_support.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

std::string outcomeOf(const XmlExercise& x) {
  if (x.parsed) return "accepted";
  return (x.opened ? "parse: " : "open: ") + x.message;
}

class XmlCorpusTest : public WebTest {};

// The sub-catalogs of the suite's master catalog, relative to xmlconf/.
constexpr const char* kCatalogs[] = {
    "xmltest/xmltest.xml",          "japanese/japanese.xml",
    "sun/sun-valid.xml",            "sun/sun-invalid.xml",
    "sun/sun-not-wf.xml",           "sun/sun-error.xml",
    "oasis/oasis.xml",              "ibm/ibm_oasis_valid.xml",
    "ibm/ibm_oasis_invalid.xml",    "ibm/ibm_oasis_not-wf.xml",
    "ibm/xml-1.1/ibm_valid.xml",    "ibm/xml-1.1/ibm_invalid.xml",
    "ibm/xml-1.1/ibm_not-wf.xml",   "eduni/errata-2e/errata2e.xml",
    "eduni/errata-3e/errata3e.xml", "eduni/errata-4e/errata4e.xml",
    "eduni/xml-1.1/xml11.xml",      "eduni/namespaces/1.0/rmt-ns10.xml",
    "eduni/namespaces/1.1/rmt-ns11.xml", "eduni/namespaces/errata-1e/errata1e.xml",
    "eduni/misc/ht-bh.xml",
};

TEST_F(XmlCorpusTest, W3cSuiteOutcomesArePinned) {
  const fs::path base = BRINDLEWORK_XMLTS_DIR;
  if (!fs::exists(base / "xmlconf.xml")) GTEST_SKIP() << "test corpus not found: " << base;
  cXML reader(latin1_);
  std::string outcomes;
  std::map<std::string, std::pair<int, int>> perType;  // accepted, total
  int tests = 0;
  for (const char* catalog : kCatalogs) {
    const fs::path catalogPath = base / catalog;
    std::optional<std::string> text = readCorpusFile(catalogPath);
    ASSERT_TRUE(text) << catalogPath;
    // Each "<TEST ...>" tag names one case; its attributes are read with
    // the reader's own tag scanner.
    for (size_t at = text->find("<TEST"); at != std::string::npos; at = text->find("<TEST", at + 1)) {
      char after = (*text)[at + 5];
      if (after != ' ' && after != '\t' && after != '\n' && after != '\r') continue;
      size_t end = text->find('>', at);
      std::string tag = text->substr(at + 1, end - at - 1);
      std::map<std::string, std::string> attributes;
      for (XmlAttribute a = tagNextAttribute(tag, 5); !a.name.empty();
           a = tagNextAttribute(tag, a.position)) {
        attributes[str(a.name)] = str(a.value);
      }
      ++tests;
      const std::string& type = attributes["TYPE"];
      fs::path file = catalogPath.parent_path() / attributes["URI"];
      std::optional<std::string> bytes = readCorpusFile(file);
      std::string outcome = "missing";
      if (bytes) {
        XmlExercise x = exerciseXml(reader, *bytes, utf8_, latin1_);
        EXPECT_TRUE(x.utf8WellFormed) << file;
      EXPECT_TRUE(x.controlFree) << file;
        EXPECT_TRUE(x.controlFree) << file;
        outcome = outcomeOf(x);
        auto& counts = perType[type];
        counts.first += x.parsed ? 1 : 0;
        counts.second += 1;
      }
      outcomes += std::string(catalog) + " " + attributes["ID"] + " " + type + " " + outcome + "\n";
    }
  }
  EXPECT_EQ(tests, 2586);
  for (const auto& [type, counts] : perType) {
    std::cout << "W3C " << type << ": " << counts.first << " of " << counts.second
              << " accepted\n";
  }
  compareOrUpdateOutcomes("xmlts_outcomes.txt", outcomes);
}

// Trees equal as the dump shows them, with an empty text after the end tag
// counting as none (an unclosed element is written with its end tag).
bool roundTripCandidate(webDataRoot& root) {
  bool ok = true;
  walkNodes<int>(
      root.head(), true,
      [&](webDataNode* n) {
        for (NodeText s : {n->infoText(), n->infoTextAfterEndTag()}) {
          if (!s.isNil() && s.view().find_first_of("<>") != std::string_view::npos) ok = false;
        }
        for (webAttributeText a = n->getFirstAttribute(nullptr, true); a.name;
             a = n->getNextAttribute(nullptr, true)) {
          if (a.value.view().find('"') != std::string_view::npos) ok = false;
        }
        return 0;
      },
      [](webDataNode*, int) {});
  return ok;
}

TEST_F(XmlCorpusTest, FeedCorporaParseConvertAndRoundTrip) {
  const fs::path feeds = fs::path(BRINDLEWORK_TESTDATA_DIR) / "feeds";
  if (!fs::exists(feeds)) GTEST_SKIP() << "test corpus not found: " << feeds;
  cXML reader(latin1_);
  std::string outcomes;
  for (const char* corpus : {"feedparser", "feedvalidator", "gofeed"}) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(feeds / corpus)) {
      std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && (ext == ".xml" || ext == ".opml")) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    int accepted = 0, roundTrips = 0;
    for (const fs::path& file : files) {
      std::optional<std::string> bytes = readCorpusFile(file);
      ASSERT_TRUE(bytes);
      XmlExercise x = exerciseXml(reader, *bytes, utf8_, latin1_);
      EXPECT_TRUE(x.utf8WellFormed) << file;
      EXPECT_TRUE(x.controlFree) << file;
      if (x.parsed) {
        ++accepted;
        if (roundTripCandidate(*x.root)) {
          Str written = createXMLintoString(*x.root, &utf8_, true);
          std::string again(written.view());
          ASSERT_TRUE(reader.open(again.c_str(), static_cast<int32_t>(again.size() + 1)))
              << file << ": " << reader.lastError();
          XmlParseResult r = reader.parseDocument();
          reader.close();
          ASSERT_TRUE(r.root) << file << ": " << str(r.message);
          std::string before = dumpWebTree(*x.root, utf8_, true);
          std::string after = dumpWebTree(*r.root, utf8_, true);
          EXPECT_EQ(before, after) << file;
          ++roundTrips;
        }
      }
      outcomes += fs::relative(file, feeds).string() + " " + outcomeOf(x) + "\n";
    }
    std::cout << corpus << ": " << accepted << " of " << files.size() << " accepted, "
              << roundTrips << " round trips\n";
  }
  compareOrUpdateOutcomes("feed_outcomes.txt", outcomes);
}

}  // namespace
}  // namespace bw
