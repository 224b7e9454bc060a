// web/json_suite_test.cpp - the reader over JSONTestSuite and the
// performance documents: no crash, well-formed UTF-8 out, pinned outcomes,
// and print -> parse round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

#include "web/json_exercise_support.h"
#include "web/json_test_support.h"
#include "web/web_corpus_test_support.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

class JsonSuiteTest : public JsonTest {
 protected:
  void SetUp() override {
    JsonTest::SetUp();
    sink_ = std::fopen("/dev/null", "w");
  }
  void TearDown() override {
    std::fclose(sink_);
    JsonTest::TearDown();
  }
  std::FILE* sink_ = nullptr;
};

TEST_F(JsonSuiteTest, TestSuiteOutcomesArePinned) {
  const fs::path dir = fs::path(BRINDLEWORK_TESTDATA_DIR) / "json/JSONTestSuite/test_parsing";
  if (!fs::exists(dir)) GTEST_SKIP() << "test corpus not found: " << dir;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 318u);

  cJSON reader(latin1_, nullptr);
  std::string outcomes;
  std::map<char, std::pair<int, int>> perPrefix;  // accepted, total
  for (const fs::path& file : files) {
    std::optional<std::string> bytes = readCorpusFile(file);
    ASSERT_TRUE(bytes) << file;
    JsonExercise x = exerciseJson(reader, *bytes, utf8_, latin1_, sink_);
    const std::string name = file.filename().string();
    EXPECT_TRUE(x.utf8WellFormed) << name;
    EXPECT_FALSE(reader.isOpen());
    EXPECT_LE(x.depth, kJsonDepthLimit + 1) << name;
    auto& counts = perPrefix[name[0]];
    counts.first += x.parsed ? 1 : 0;
    counts.second += 1;
    outcomes += name + " " + (x.parsed ? "accepted" : "refused: " + x.message) + "\n";
    x.root.reset();  // ends the tree, the depth bombs included
  }
  for (const auto& [prefix, counts] : perPrefix) {
    std::cout << "JSONTestSuite " << prefix << "_: " << counts.first << " of " << counts.second
              << " accepted\n";
  }
  compareOrUpdateOutcomes("json_suite_outcomes.txt", outcomes);
}

// The nodes of a tree as one line each: depth, name, kind and raw text.
std::string flatten(webDataRoot& root) {
  std::string out;
  int depth = 0;
  walkNodes<int>(
      root.head(), true,
      [&](webDataNode* n) {
        out += std::to_string(depth++) + " " + n->getName().str() + " " + std::to_string(n->getTextValue()) +
               " " + n->infoText().str() + "\n";
        return 0;
      },
      [&](webDataNode*, int) { --depth; });
  return out;
}

TEST_F(JsonSuiteTest, PerformanceDocumentsParseAndRoundTrip) {
  const fs::path dir = fs::path(BRINDLEWORK_TESTDATA_DIR) / "json/perf";
  if (!fs::exists(dir)) GTEST_SKIP() << "test corpus not found: " << dir;
  cJSON reader(utf8_, nullptr);
  for (const char* name : {"twitter.json", "citm_catalog.json", "canada.json"}) {
    std::optional<std::string> bytes = readCorpusFile(dir / name);
    ASSERT_TRUE(bytes) << name;
    JsonParseResult r = reader.parseDocument(bytes->c_str(), static_cast<int32_t>(bytes->size() + 1));
    ASSERT_TRUE(r.root) << name << ": " << str(r.message);
    ASSERT_TRUE(r.root->head());
    EXPECT_FALSE(r.root->head()->getNext()) << name;
    if (std::string_view(name) != "twitter.json") continue;

    // Printed into the UTF-8 system encoding, the text reads back as the
    // same tree.
    std::string printed = printedTo([&](std::FILE* out) { printJSONroot(*r.root, out); });
    JsonParseResult again = reader.parseDocument(printed.c_str(), static_cast<int32_t>(printed.size() + 1));
    ASSERT_TRUE(again.root) << str(again.message);
    std::string before = flatten(*r.root);
    EXPECT_GT(before.size(), 100000u);
    EXPECT_EQ(before, flatten(*again.root));
    webDataNode* statuses = r.root->head()->findChild("statuses", nullptr, nullptr, nullptr);
    ASSERT_TRUE(statuses);
    EXPECT_EQ(statuses->getTextValue(), kJsonArray);
  }
}

}  // namespace
}  // namespace bw
