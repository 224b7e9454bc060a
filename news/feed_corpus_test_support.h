// news/feed_corpus_test_support.h - the fixture of the feed corpus tests:
// each document read, given to the parser its top element names and parsed
// twice, into a database of its own on the in-memory backend, which is
// closed and checked at every level afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ascii_case.h"
#include "news/feed_parse_test_support.h"
#include "news/news_config.h"
#include "web/web_corpus_test_support.h"

namespace bw::testing_news {

enum class FeedParser { kNone, kRss, kAtom };

// The parser the top element asks for, as a download chooses it.
inline FeedParser parserFor(webDataRoot& document) {
  if (webDataNode* rss = document.findNode("rss", nullptr, nullptr, nullptr)) {
    return isReadableRssVersion(rss->getAttribute("version", nullptr, true)) ? FeedParser::kRss : FeedParser::kNone;
  }
  return findAtomFeed(document, nullptr) ? FeedParser::kAtom : FeedParser::kNone;
}

inline std::filesystem::path feedCorpora() {
  return std::filesystem::path(BRINDLEWORK_TESTDATA_DIR) / "feeds";
}

// The .xml files under folder, sorted.
inline std::vector<std::filesystem::path> corpusFeeds(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (e.path().extension() == ".xml") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class FeedCorpusTest : public FeedParseTest {
 protected:
  // What became of one document. feed is the stored feed after the second
  // parse (loaded until the next document), NIL when none was stored.
  struct Parsed {
    std::string outcome;
    newsFeed* feed = nullptr;
    FeedParser parser = FeedParser::kNone;
    bool utf8 = false;  // the document's encoding is UTF-8
  };

  // Reads text (its path names it in failures) into a fresh database and
  // parses it twice; the second parse must add nothing.
  Parsed parse(const std::string& text) {
    freshDatabase();
    Parsed p;
    document.reset();
    source = text;
    cXML reader;
    if (!reader.open(source.data(), static_cast<int32_t>(source.size()))) {
      p.outcome = "unreadable: " + reader.lastError();
      return p;
    }
    XmlParseResult r = reader.parseDocument();
    if (!r.root) {
      p.outcome = "malformed";
      return p;
    }
    document = std::move(r.root);
    p.parser = parserFor(*document);
    if (p.parser == FeedParser::kNone) {
      p.outcome = "no parser";
      return p;
    }
    p.utf8 = equalsNoCase(document->infoEncodingName().view(), "UTF-8");
    const std::string kind = p.parser == FeedParser::kRss ? "rss" : "atom";
    auto run = [&](newsFeed* update) {
      return p.parser == FeedParser::kRss
                 ? parseRssFeed(*db, *document, *root, nullptr, "http://corpus/", update, nullptr)
                 : parseAtomFeed(*db, *document, *root, nullptr, "http://corpus/", update, nullptr);
    };
    try {
      const size_t asked = ui.calls.size();
      FeedParseResult first = run(nullptr);
      if (!first.feed) {
        p.outcome = kind + (ui.calls.size() > asked ? " refused: no uniqueID" : " refused: nothing to read");
        return p;
      }
      used = true;
      const std::vector<ItemView> once = items(first.feed);
      run(first.feed);
      p.feed = first.feed;
      p.outcome = kind + " items=" + std::to_string(once.size());
      if (items(first.feed).size() != once.size()) p.outcome += " GREW ON SECOND PARSE";
    } catch (const eException& e) {
      used = true;
      p.outcome = kind + " exception " + e.code() + " " + e.message();
    }
    return p;
  }

 private:
  // Closes the last document's database, checks it at every level, and
  // opens an empty one on a new backend with a new root (the same one when
  // the last document stored nothing).
  void freshDatabase() {
    dropLoaded();
    if (used && db && db->isOpen()) {
      const bool discarded = db->infoMustClose();
      db->close();
      if (!discarded) testing::expectSoupSound(image(kName), soupcheck::Expect::kClosed);
      backend = std::make_shared<CrashingIoBackend>();
      open();
    }
    used = false;
    root = std::make_unique<newsRoot>();
    root->init(db.get());
  }

  std::string source;
  std::unique_ptr<webDataRoot> document;
  bool used = true;
};

}  // namespace bw::testing_news
