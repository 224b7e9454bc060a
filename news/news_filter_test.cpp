// news/news_filter_test.cpp - the Filter and Search language: a table of
// cases, the duplicate rule, and random titles and terms against a reference
// written from the language's description.
#include "news/news_filter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/string_procs.h"
#include "news/news_show_test_support.h"

namespace bw {
namespace {

class NewsFilterTest : public testing_news::NewsShowTest {
 protected:
  // Whether an item of these texts is hidden by the terms, as a feed's
  // Filter or as the root's Search.
  bool hidden(const char* terms, const char* title, bool search = false, const char* link = nullptr,
              const char* tags = nullptr) {
    newsFeed feed;
    feed.type = Str("RSS 2.0");
    newsItem item;
    item.title = Str(title);
    item.link = Str(link);
    item.tags = Str(tags);
    root->searchTerms.clear();
    if (search) {
      root->searchTerms = splitString(terms, ",").chain;
    } else {
      feed.setFilter(terms);
    }
    return matchNewsItemFilter(*db, root.get(), item, feed);
  }
};

TEST_F(NewsFilterTest, TermsHideAndShowAsTheLanguageSays) {
  struct {
    const char* terms;
    const char* title;
    bool hidden;
  } cases[] = {
      {"iraq,brexit,~,blair", "blair meets iraq envoy", false},  // the last matching term wins
      {"iraq,brexit,~,blair", "news from iraq", true},
      {"iraq,brexit,~,blair", "brexit: blair speaks", false},
      {"~,keep me up", "songs to keep me up at night", false},
      {"~,keep me up", "keep me upright", true},
      {"~,keep me up", "anything else", true},
      {"keep", "keeper of the keys", false},
      {"keep_", "keeper of the keys", true},
      {"_keep", "upkeep costs", true},
      {"_keep", "upkeeper", false},
      {"iraq", "leaving iraq", true},         // at the very end
      {"iraq", "iraq2 report", false},        // a digit blocks
      {"iraq", "2iraq report", false},
      {"iraq", "iraq. report", true},         // punctuation does not
      {"iraq", "iraq\treport", true},         // nor white space
      {"iraq", "iraq\xC3\xA9 report", true},  // nor bytes of 128 and above
      {"iraq", "Iraqi forces leave Iraq", true},  // a later occurrence that passes both edges
      {",,_", "anything", false},                 // empty and "_" terms change nothing
      {"~,,__", "anything", true},
      {"", "anything", false},
      {"\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2 world", true},  // Cyrillic folds
      {"\xC3\xA9lan", "\xC3\x89LAN vital", true},  // so does an accented capital
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hidden(c.terms, c.title), c.hidden) << c.terms << " / " << c.title;
  }
  EXPECT_FALSE(hidden("iraq", nullptr));

  struct {
    const char* terms;
    const char* link;
    const char* tags;
    bool hidden;
  } fields[] = {
      {"url:example.com/n", "http://Example.COM/News/1", nullptr, true},
      {"URL:/news/", "http://example.com/news/1", nullptr, true},
      {"url:other", "http://example.com/", nullptr, false},
      {"url:x", nullptr, nullptr, false},
      {"tag:news", nullptr, "newsletter", false},
      {"Tag:news", nullptr, "World,News", true},
      {"tag:news", nullptr, nullptr, false},
  };
  for (const auto& c : fields) EXPECT_EQ(hidden(c.terms, "title", false, c.link, c.tags), c.hidden) << c.terms;

  EXPECT_TRUE(hidden("x", "y only", true));  // a Search hides what matches none of its terms
  EXPECT_FALSE(hidden("x,y", "y only", true));
  EXPECT_FALSE(hidden("~,x", "y only", true));
  EXPECT_TRUE(hidden("~,x", "x and y", true));
  EXPECT_FALSE(hidden(",x", "y only", true));  // an empty first term: starts from shown
}

TEST_F(NewsFilterTest, TitlesAreMatchedAsTheListShowsThem) {
  // Stored titles keep their feed's escapes and CDATA sections; the words
  // a user types are those the list shows.
  struct {
    const char* stored;
    uint8_t format;
    const char* terms;
    bool hidden;
  } cases[] = {
      {"AT&amp;T results", kFormatPlainText, "at&t", true},
      {"Q&amp;A: caf&#233; hours", kFormatDetect, "caf\xC3\xA9,nothing", true},
      {"<![CDATA[Fish & Chips]]>", kFormatPlainText, "fish & chips", true},
      {"&lt;b&gt;Bold&lt;/b&gt; move", kFormatHTML, "bold", true},  // shown "*Bold* move"
      {"&lt;b&gt;Bold&lt;/b&gt; move", kFormatHTML, "b", false},  // markup is no word
      {"Why &lt;p&gt; tags matter", kFormatPlainText, "<p>", true},
      {"AT&amp;T results", kFormatPlainText, "amp", false},
  };
  newsFeed feed;
  feed.type = Str("RSS 2.0");
  feed.docFormat = feedTypeToDocFormat(feed.type);
  for (const auto& c : cases) {
    newsItem item;
    item.title = Str(c.stored);
    item.titleFormat = c.format;
    feed.setFilter(c.terms);
    EXPECT_EQ(matchNewsItemFilter(*db, root.get(), item, feed), c.hidden) << c.stored << " / " << c.terms;
  }
}

TEST(FoldCaseUtf8, LowersByTheUnicodeTablesAndKeepsWhatIsNotUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"Hello WORLD 42", "hello world 42"},
      {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"},                      // ÉTÉ
      {"\xD0\x9C\xD0\x98\xD0\xA0", "\xD0\xBC\xD0\xB8\xD1\x80"},        // МИР, a length kept
      {"\xCE\xA3\xCE\x9F\xCE\xA6", "\xCF\x83\xCE\xBF\xCF\x86"},        // ΣΟΦ
      {"\xE4\xB8\xAD\xE6\x96\x87", "\xE4\xB8\xAD\xE6\x96\x87"},        // no case: as it stood
      {"A\xE9" "B\xFF", "a\xE9" "b\xFF"},                                   // stray bytes stay
      {"\xC3", "\xC3"},                                                 // a cut sequence too
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(foldCaseUtf8(text), want) << text;
}

TEST_F(NewsFilterTest, OneItemOfAChainIsShown) {
  for (const char* type : {"RSS 2.0", "Facebook v2.8"}) {
    SCOPED_TRACE(type);
    newsFeed* feed = makeFeed(type);
    int32_t oldest = addItem(feed), middle = addItem(feed), newest = addItem(feed), alone = addItem(feed);
    newsItem* first = item(oldest, feed);
    newsItem* second = item(middle, feed);
    newsItem* third = item(newest, feed);
    first->addAsNewestDuplicate(*db, second);
    first->addAsNewestDuplicate(*db, third);
    bool facebook = type[0] == 'F';
    newsItem* lone = item(alone, feed);
    EXPECT_EQ(matchNewsItemFilter(*db, nullptr, *first, *feed), facebook);
    EXPECT_TRUE(matchNewsItemFilter(*db, nullptr, *second, *feed));
    EXPECT_EQ(matchNewsItemFilter(*db, nullptr, *third, *feed), !facebook);
    EXPECT_FALSE(matchNewsItemFilter(*db, nullptr, *lone, *feed));
    for (newsItem* i : {first, second, third, lone}) db->unloadObject(i);
  }
}

// The language from its description, with no shared code: every occurrence
// is tried, word edges are bytes that are neither letters nor digits.
bool referenceHidden(const std::vector<std::string>& terms, const std::string& title, bool search) {
  auto edge = [](unsigned char c) { return !std::isalnum(c) || c >= 128; };
  std::string lower = title;
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
  bool result = terms[0] == "~", invert = false;
  if (search && !terms[0].empty()) result = !result, invert = true;
  for (const std::string& term : terms) {
    if (term == "~") {
      invert = !invert;
      continue;
    }
    size_t b = 0, e = term.size();
    bool anyLeft = e > 0 && term[0] == '_';
    b += anyLeft;
    bool anyRight = e > b && term[e - 1] == '_';
    e -= anyRight;
    std::string pattern = term.substr(b, e - b);
    if (pattern.empty()) continue;
    for (size_t p = 0; p + pattern.size() <= lower.size(); ++p) {
      if (lower.compare(p, pattern.size(), pattern) != 0) continue;
      size_t end = p + pattern.size();
      if ((anyLeft || p == 0 || edge(lower[p - 1])) && (anyRight || end == lower.size() || edge(lower[end]))) {
        result = !invert;
        break;
      }
    }
  }
  return result;
}

TEST_F(NewsFilterTest, RandomTitlesAndTermsAgreeWithTheReference) {
  std::mt19937 rng(20261207);
  const std::string alphabet[] = {"a", "b", "A", " ", "1", ".", "\xE9", "\t"};
  const std::string termAlphabet[] = {"a", "b", "ab", "_", " ", "1"};
  auto pick = [&](int n) { return static_cast<size_t>(rng() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 100000; ++round) {
    std::string title;
    for (size_t n = pick(12); n > 0; --n) title += alphabet[pick(8)];
    std::vector<std::string> terms;
    std::string joined;
    for (size_t n = 1 + pick(4); n > 0; --n) {
      std::string term;
      if (pick(5) == 0) {
        term = "~";
      } else {
        for (size_t k = pick(4); k > 0; --k) term += termAlphabet[pick(6)];
      }
      joined += (terms.empty() ? "" : ",") + term;
      terms.push_back(term);
    }
    bool search = pick(2) == 0;
    if (joined.empty() && !search) continue;  // an empty Filter text is no Filter
    ASSERT_EQ(hidden(joined.c_str(), title.c_str(), search), referenceHidden(terms, title, search))
        << "terms \"" << joined << "\" title \"" << title << "\" search " << search;
  }
}

}  // namespace
}  // namespace bw
