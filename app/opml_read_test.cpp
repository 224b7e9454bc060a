// app/opml_read_test.cpp - reading OPML files and walking their outlines:
// the feedvalidator corpus against a pinned outcome list, crafted nests, and
// the files that must never be waited on or read whole.
#include "app/opml_read.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "news/news_module_list.h"
#include "news/ui_seam_test_support.h"
#include "platform/path_test_support.h"
#include "web/web_corpus_test_support.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

class OpmlRead : public ::testing::Test {
 protected:
  void SetUp() override {
    addNewsModules(modules);
    modules.initAll();
    charset = newSystemEncoding();
  }
  void TearDown() override {
    charset.reset();
    modules.endAll();
  }
  // What reading and walking the file gives: the first line of the one
  // message, or one line per feed offered ("name | address | tags").
  std::string outcome(const std::string& path) {
    testing_news::ScriptedNewsUi ui;
    OpmlDocument opml = readOpmlFile(Text(path));
    std::string out;
    for (const auto& call : ui.calls) {
      std::string filled = call.filled();
      out += call.title + ": " + filled.substr(0, filled.find('\n')) + "\n";
    }
    if (!opml) return out;
    walkOpmlOutlines(*opml.body, *charset, [&](const OpmlFeedOutline& f) {
      out += "  " + f.name.str() + " | " + f.address.str() + " | " + (f.tags.isNil() ? "NIL" : f.tags.str()) + "\n";
      return true;
    });
    return out;
  }
  std::string write(const std::string& name, const std::string& text) {
    fs::path path = tree.host(name);
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  ModuleRegistry modules;
  std::unique_ptr<cEncoding> charset;
  testing_paths::TempTree tree{"OpmlTest"};
};

TEST_F(OpmlRead, FeedValidatorCorpusOutcomesArePinned) {
  const fs::path folder = fs::path(BRINDLEWORK_TESTDATA_DIR) / "feeds/feedvalidator/opml";
  if (!fs::exists(folder)) GTEST_SKIP() << "no OPML corpus at " << folder;
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 37u);
  std::string all;
  for (const fs::path& f : files) {
    std::string o = outcome(f.string());
    // The messages name the path as given; the pinned list names the file.
    for (size_t at; (at = o.find(folder.string())) != std::string::npos;) o.replace(at, folder.string().size(), "");
    all += fs::relative(f, folder).string() + "\n" + o;
  }
  compareOrUpdateOutcomesIn("app/testdata", "opml_outcomes.txt", all);
}

TEST_F(OpmlRead, CraftedDocuments) {
  const std::string head = "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><body>";
  struct Case {
    const char* name;
    std::string body;
    const char* expected;
  } cases[] = {
      // Only the immediate folder's text becomes the tag.
      {"nested", "<outline text=\"Outer\"><outline text=\"Inner\"><outline type=\"rss\" text=\"T\" xmlUrl=\"http://x/\"/>"
                 "</outline></outline>",
       "  T | http://x/ | Inner\n"},
      // Any type, or none, with an address is a feed; its children are not visited.
      {"any type", "<outline type=\"RSS\" text=\"F\" xmlUrl=\"http://f/\"><outline type=\"rss\" text=\"C\" "
                   "xmlUrl=\"https://c/\"/></outline><outline text=\"N\" xmlUrl=\"http://n/\"/>"
                   "<outline type=\"link\" text=\"L\" xmlUrl=\"http://l/\"/>",
       "  F | http://f/ | NIL\n  N | http://n/ | NIL\n  L | http://l/ | NIL\n"},
      {"title wins", "<outline type=\"rss\" text=\"Text\" title=\"Title\" XMLURL=\"http://t/\"/>",
       "  Title | http://t/ | NIL\n"},
      // A feed outline without an address is skipped; one without a name
      // keeps the name its feed gives.
      {"skipped", "<outline type=\"rss\" xmlUrl=\"http://a/\"/><outline type=\"rss\" text=\"b\"/>"
                  "<outline type=\"rss\" text=\"c\" xmlUrl=\"u\"><outline type=\"rss\" text=\"kid\" xmlUrl=\"k\"/></outline>",
       "   | http://a/ | NIL\n  c | u | NIL\n"},
      {"escapes", "<outline text=\"A &amp; B\"><outline type=\"rss\" text=\"x&nbsp;y&#65;\" xmlUrl=\"http://e/?a=1&amp;b=2\"/>"
                  "</outline>",
       "  x\xC2\xA0yA | http://e/?a=1&b=2 | A & B\n"},
      {"malformed", "<outline text=\"a\">\n\n<outline</body></opml>", "Import OPML: Parsing error on line 4:\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = head + c.body + (std::string(c.name) == "malformed" ? "" : "</body></opml>");
    std::string got = outcome(write("crafted.opml", text));
    if (std::string(c.name) == "escapes" && charset->infoName().view() != "UTF-8") continue;
    EXPECT_EQ(got, c.expected);
  }
}

TEST_F(OpmlRead, HundredThousandNestedOutlinesWalkWithoutRecursion) {
  const int depth = 100000;
  std::string text = "<opml><body>";
  for (int i = 0; i < depth; ++i) text += "<outline text=\"f" + std::to_string(i) + "\">";
  text += "<outline type=\"rss\" text=\"deep\" xmlUrl=\"http://d/\"/>";
  for (int i = 0; i < depth; ++i) text += "</outline>";
  text += "</body></opml>";
  EXPECT_EQ(outcome(write("deep.opml", text)), "  deep | http://d/ | f99999\n");
}

TEST_F(OpmlRead, OnlyRegularFilesUpToTheBoundAreOpened) {
  const std::string fifo = tree.host("fifo.opml").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string big = tree.host("big.opml").string();
  { std::ofstream(big) << "<opml/>"; }
  ASSERT_EQ(::truncate(big.c_str(), kOpmlMaxFileBytes + 1), 0);
  const std::string atBound = write("bound.opml", "<opml><body/></opml>");
  ASSERT_EQ(::truncate(atBound.c_str(), kOpmlMaxFileBytes), 0);
  for (const std::string& path : {fifo, big, tree.host().string(), tree.host("missing.opml").string()}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(outcome(path), "Import OPML: Failed to open file:\n");
    testing_news::ScriptedNewsUi ui;
    readOpmlFile(Text(path));
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].filled(), "Failed to open file:\n\x1b" "1" + path);
  }
  // A file of exactly the bound is read (and its NULs end the text).
  EXPECT_EQ(outcome(atBound), "");
}

}  // namespace
}  // namespace bw
