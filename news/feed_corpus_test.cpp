// news/feed_corpus_test.cpp - every feed of the three public corpora read,
// parsed twice under the sanitizers into a database of its own, with the
// outcomes pinned in news/testdata/feed_corpus_outcomes.txt. Every stored
// title, summary and content, as display text, must hold no tab and no white
// space at either end; valid UTF-8 stays valid; HTML keeps no tag (unless
// its markup carried a "<" as text).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "core/sweep_test_support.h"
#include "news/feed_corpus_test_support.h"
#include "news/html_text.h"
#include "web/xml_entities.h"

namespace bw::testing_news {
namespace {

bool validUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

// Whether the display text holds something shaped like a tag: "<", a
// letter or "/", and a ">" before the next "<".
bool holdsTag(std::string_view s) {
  for (size_t lt = s.find('<'); lt != std::string_view::npos; lt = s.find('<', lt + 1)) {
    if (lt + 1 >= s.size() || !(std::isalpha(static_cast<unsigned char>(s[lt + 1])) || s[lt + 1] == '/')) continue;
    const size_t gt = s.find_first_of("<>", lt + 1);
    if (gt != std::string_view::npos && s[gt] == '>') return true;
  }
  return false;
}

// Whether the markup carries a "<" as text (escaped or in CDATA), which may
// rightly show as a tag's name.
bool textMayNameTag(std::string_view html) {
  for (std::string_view sign : {"&lt", "&#60", "&#x3c", "&#x3C", "CDATA"}) {
    if (html.find(sign) != std::string_view::npos) return true;
  }
  return false;
}

class FeedCorpus : public FeedCorpusTest {
 protected:
  // The first display fault of the feed's texts, or "".
  std::string displayFault(newsFeed* feed, bool utf8In) {
    std::string fault;
    auto check = [&](const Str& text, uint8_t format) {
      if (text.isNil() || !fault.empty()) return;
      // XHTML is stored as markup; other texts as the feed escaped them.
      const std::string in =
          format == kFormatXHTML ? text.str() : std::string(xmlMarkupText(text.view(), *sharedXmlEntityMap()));
      const bool html = format == kFormatHTML || format == kFormatXHTML ||
                        (format == kFormatDetect && looksLikeHtml(in));
      const std::string s(feedTextForDisplay(*feed->docFormat, &utf8, text, format, false).view());
      if (s.find('\t') != std::string::npos) fault = "tab";
      if (!s.empty() && std::string(" \n\r").find_first_of(std::string{s.front(), s.back()}) != std::string::npos)
        fault = "white space at an end";
      if (utf8In && validUtf8(in) && !validUtf8(s)) fault = "invalid UTF-8";
      if (html && !textMayNameTag(in) && holdsTag(s)) fault = "tag left";
      if (!fault.empty()) fault += " in " + in.substr(0, 60);
    };
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0 && fault.empty();) {
      newsItem* it = item(i, feed);
      newsItemBody* body = loadObject_newsItemBody(*db, it->bodyIndex);
      check(it->title, it->titleFormat);
      if (body) check(body->summary, body->summaryFormat), check(body->content, body->contentFormat);
      i = it->infoNextIndex();
      db->unloadObject(body);
      db->unloadObject(it);
    }
    return fault;
  }
};

// Every fourth document of the corpora, compared with its pinned line; all
// of them with BRINDLEWORK_FULL_SWEEPS=1 (or when rewriting the outcomes).
TEST_F(FeedCorpus, EveryDocumentParsesAndRepeatsAddNothing) {
  const std::filesystem::path base = feedCorpora();
  if (!std::filesystem::exists(base)) GTEST_SKIP() << "no feed corpora at " << base;
  const long long stride = std::getenv("BRINDLEWORK_UPDATE_OUTCOMES") ? 1 : testing::sweepCount(nullptr, 4, 1);
  std::string lines;
  int faults = 0;
  long long index = 0;
  for (const char* corpus : {"feedparser", "feedvalidator", "gofeed"}) {
    for (const auto& path : corpusFeeds(base / corpus)) {
      if (index++ % stride != 0) continue;
      const std::string name = std::filesystem::relative(path, base).string();
      SCOPED_TRACE(name);
      Parsed p = parse(*readCorpusFile(path));
      if (p.feed) {
        const std::string fault = displayFault(p.feed, p.utf8);
        if (!fault.empty()) p.outcome += " DISPLAY " + fault;
      }
      const bool fault = p.outcome.find("DISPLAY") != std::string::npos ||
                         p.outcome.find("exception") != std::string::npos ||
                         p.outcome.find("GREW") != std::string::npos;
      EXPECT_FALSE(fault) << p.outcome;
      faults += fault;
      lines += name + " " + p.outcome + "\n";
    }
  }
  compareOrUpdateOutcomesIn("news/testdata", "feed_corpus_outcomes.txt", lines, stride);
  EXPECT_EQ(faults, 0);
}

}  // namespace
}  // namespace bw::testing_news
