// web/web_dump_test.cpp - the trees the JSON and XML readers build from the
// public corpora, pinned as one digest per corpus folder: every node's depth,
// namespace, name, kind, raw strings, attributes and decoded texts. Any change
// to how a tree is built or stored that shows through the node interface
// changes a digest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "web/json_test_support.h"
#include "web/web_corpus_test_support.h"
#include "web/web_dump.h"
#include "web/web_walk.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

struct Digest {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
  long files = 0, trees = 0, nodes = 0;
  void add(std::string_view bytes) {
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  }
  void add(const Str& s) {
    add(s.isNil() ? std::string_view("\x01NIL") : s.view());
    add(std::string_view("\0", 1));
  }
};

class WebDumpTest : public JsonTest {
 protected:
  // Everything a caller can read of the tree, into the digest.
  void addTree(Digest& d, webDataRoot& root) {
    ++d.trees;
    int depth = 0;
    auto enter = [&](webDataNode* n) -> int {
      ++d.nodes;
      d.add(std::to_string(depth++) + " " + std::to_string(n->getTextValue()));
      d.add(n->getNamespace());
      d.add(n->getName());
      d.add(n->getText(&utf8_, true));
      d.add(n->getTextAfterEndTag(&utf8_, true));
      for (const cEncoding* target : {static_cast<const cEncoding*>(&utf8_), static_cast<const cEncoding*>(&latin1_)}) {
        d.add(n->getText(target, false));
        d.add(n->getTextAfterEndTag(target, false));
      }
      for (webAttributeText a = n->getFirstAttribute(&utf8_, false); a.name; a = n->getNextAttribute(&utf8_, false)) {
        d.add(*a.name);
        d.add(a.value);
        d.add(n->getAttribute(*a.name, &utf8_, true));
      }
      return 0;
    };
    walkNodes<int>(root.head(), true, enter, [&](webDataNode*, int) { --depth; });
  }

  static std::vector<fs::path> filesUnder(const fs::path& dir, std::initializer_list<const char*> extensions) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && std::find(extensions.begin(), extensions.end(), ext) != extensions.end()) {
        files.push_back(entry.path());
      }
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  // One line per folder (relative to base, at most two levels deep).
  static std::string digestLines(const std::map<std::string, Digest>& groups) {
    std::string out;
    for (const auto& [group, d] : groups) {
      char line[300];
      std::snprintf(line, sizeof line, "%s files=%ld trees=%ld nodes=%ld digest=%016llx\n", group.c_str(), d.files,
                    d.trees, d.nodes, static_cast<unsigned long long>(d.hash));
      out += line;
    }
    return out;
  }

  static std::string groupOf(const fs::path& file, const fs::path& base, const char* prefix) {
    fs::path relative = fs::relative(file.parent_path(), base);
    std::string group = prefix;
    int levels = 0;
    for (const auto& part : relative) {
      if (part == "." || levels++ == 2) break;
      group += "/" + part.string();
    }
    return group;
  }
};

TEST_F(WebDumpTest, CorpusTreesArePinned) {
  const fs::path testdata = BRINDLEWORK_TESTDATA_DIR;
  const fs::path xmlts = BRINDLEWORK_XMLTS_DIR;
  if (!fs::exists(testdata / "json") || !fs::exists(testdata / "feeds") || !fs::exists(xmlts)) {
    GTEST_SKIP() << "test corpus not found: " << testdata;
  }
  std::map<std::string, Digest> groups;
  cJSON jsonReader(latin1_, nullptr);
  for (const fs::path& file : filesUnder(testdata / "json", {".json"})) {
    if (file.filename() == "entities.json") continue;
    Digest& d = groups[groupOf(file, testdata / "json", "json")];
    ++d.files;
    std::optional<std::string> bytes = readCorpusFile(file);
    ASSERT_TRUE(bytes);
    JsonParseResult r = jsonReader.parseDocument(bytes->c_str(), static_cast<int32_t>(bytes->size() + 1));
    if (r.root) addTree(d, *r.root);
  }
  cXML xmlReader(latin1_);
  auto readXml = [&](const fs::path& base, const char* prefix, std::initializer_list<const char*> extensions) {
    for (const fs::path& file : filesUnder(base, extensions)) {
      Digest& d = groups[groupOf(file, base, prefix)];
      ++d.files;
      std::optional<std::string> bytes = readCorpusFile(file);
      ASSERT_TRUE(bytes);
      if (!xmlReader.open(bytes->c_str(), static_cast<int32_t>(bytes->size() + 1))) continue;
      XmlParseResult r = xmlReader.parseDocument();
      xmlReader.close();
      if (r.root) addTree(d, *r.root);
    }
  };
  readXml(testdata / "feeds", "feeds", {".xml", ".opml", ".rdf", ".atom"});
  readXml(xmlts, "xmlts", {".xml"});
  compareOrUpdateOutcomes("tree_digests.txt", digestLines(groups));
}

}  // namespace
}  // namespace bw
