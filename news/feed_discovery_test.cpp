// news/feed_discovery_test.cpp - the feeds a page announces: candidate
// collection on hand-made pages and on the autodiscovery corpus, and
// discovery end to end while adding a feed.
#include "news/feed_discovery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "news/feed_update_test_support.h"
#include "web/web_corpus_test_support.h"

namespace bw::testing_news {
namespace {

// "url|title" per candidate, ";"-joined, through the road the page takes.
std::string candidatesOf(const std::string& page, const char* pageURL = "http://site.test/blog/page.html") {
  cXML reader;
  std::unique_ptr<webDataRoot> doc;
  if (reader.open(page.data(), static_cast<int32_t>(page.size()))) {
    doc = reader.parseDocument().root;
    reader.close();
  }
  CandidateScan scan = collectFeedCandidates(doc.get(), page, pageURL);
  std::string out = doc || scan.headEnd ? "" : "(no head end) ";
  for (const FeedCandidate& c : scan.candidates) {
    out += (out.empty() || out.back() == ' ' ? "" : ";") + c.url.str() + "|" + c.title.str();
  }
  return out;
}

std::string htmlPage(const std::string& head, const std::string& body = "<p>x") {
  return "<html><head><title>t</title>\n" + head + "\n</head><body>" + body + "</body></html>";
}

const char* const kRss = "type=\"application/rss+xml\" rel=\"alternate\"";

// The modules the readers need.
using FeedCandidates = NewsTest;

TEST_F(FeedCandidates, HandMadePages) {
  const std::string rss = kRss;
  const struct {
    std::string page, want;
  } cases[] = {
      {htmlPage("<link " + rss + " href=\"/f.xml\" title=\"A\">"), "http://site.test/f.xml|A"},
      {htmlPage("<link " + rss + " href=\"f.xml\" title=\"A\"><link rel=\"alternate\" "
                "type=\"application/atom+xml\" href=\"http://o.test/a\" title=\"B\">"),
       "http://site.test/blog/f.xml|A;http://o.test/a|B"},
      {htmlPage("<link rel=\"Alternate\" type=\"application/rss+xml\" href=\"/f\" title=\"A\">"), ""},
      {htmlPage("<link rel=\"alternate\" type=\"text/html\" href=\"/f\" title=\"A\">"), ""},
      {htmlPage("<link rel=\"alternate\" type=\"Application/RSS+XML\" href=\"/f\" title=\"A\">"), ""},
      {htmlPage("<link " + rss + " title=\"no href\">"), ""},
      // A link without a title is labelled by its href.
      {htmlPage("<link " + rss + " href=\"f.xml\">"), "http://site.test/blog/f.xml|f.xml"},
      // Only http and https feeds are offered from an http page.
      {htmlPage("<link " + rss + " href=\"file:///etc/passwd\" title=\"A\"><link " + rss +
                " href=\"javascript:x()\" title=\"B\"><link " + rss + " href=\"https://s.test/f\" title=\"C\">"),
       "https://s.test/f|C"},
      // Links after the head, or in a page without a head end, do not count.
      {htmlPage("", "<link " + rss + " href=\"/f.xml\" title=\"A\">"), ""},
      {"<html><head><link " + rss + " href=\"/f.xml\" title=\"A\"><body></div>", "(no head end) "},
      // A well-formed page is read as a tree: the head's links in order.
      {"<html><head><link " + rss + " href=\"/x.xml\" title=\"X\"/></head><body/></html>",
       "http://site.test/x.xml|X"},
      {"<html><head><title>t</title></head><body><link " + rss + " href=\"/x\" title=\"X\"/></body></html>", ""},
      // Letter case of the tag and the head end is ignored by the HTML road.
      {"<HTML><HEAD><LINK " + rss + " HREF=\"/u.xml\" TITLE=\"U\"></HEAD><BODY>", "http://site.test/u.xml|U"},
  };
  for (const auto& c : cases) EXPECT_EQ(candidatesOf(c.page), c.want) << c.page;
  // A "file" page may name "file" feeds.
  EXPECT_EQ(candidatesOf(htmlPage("<link " + rss + " href=\"f.xml\" title=\"A\">"), "file:///srv/page.html"),
            "file:///srv/f.xml|A");
}

TEST_F(FeedCandidates, TheQuestionShowsTitlesAsWritten) {
  std::vector<FeedCandidate> c = {{Str("u1"), Str("A")}, {Str("u2"), Str("100% %s %n")}, {Str("u3"), Str("C")}};
  const std::string q = feedChoiceQuestion(c);
  EXPECT_EQ(q, "Please choose one of the following feeds:\n1. A\n2. 100%% %%s %%n\n3. C");
  EXPECT_EQ(fillFormatText(q, {}), "Please choose one of the following feeds:\n1. A\n2. 100% %s %n\n3. C");
  EXPECT_EQ(feedChoiceButtons(3), "1|2|3|Cancel");
}

// Each autodiscovery page of the corpus at its original address: whether
// the feed it announces is found is pinned; a found one is always the
// page's own feed, never a decoy.
TEST_F(FeedCandidates, AutodiscoveryCorpus) {
  const std::filesystem::path dir =
      std::filesystem::path(BRINDLEWORK_TESTDATA_DIR) / "feeds/feedvalidator/feedfinder-tests";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no corpus at " << dir;
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("html4-", 0) == 0 && e.path().extension() == ".html") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::string outcomes;
  int found = 0;
  for (const std::string& name : names) {
    const std::string page = *readCorpusFile(dir / name);
    const std::string url = "http://diveintomark.org/tests/client/autodiscovery/" + name;
    const std::string got = candidatesOf(page, url.c_str());
    const std::string stem = name.substr(0, name.size() - 5);
    if (!got.empty() && got[0] != '(') {
      ++found;
      EXPECT_EQ(got.find(';'), std::string::npos) << name << " offers several: " << got;
      const std::string address = got.substr(0, got.find('|'));
      EXPECT_EQ(address.substr(address.rfind('/') + 1), stem + ".xml") << name;
      outcomes += name + " found " + address + "\n";
    } else {
      outcomes += name + " none\n";
    }
  }
  compareOrUpdateOutcomesIn("news/testdata", "feedfinder_outcomes.txt", outcomes);
  std::printf("feed found on %d of %zu autodiscovery pages\n", found, names.size());
}

using Discovery = FeedUpdateTest;

std::string linkTo(const std::string& href, const std::string& title) {
  return "<link " + std::string(kRss) + " href=\"" + href + "\" title=\"" + title + "\">";
}

TEST_F(Discovery, AOneFeedPageSwitchesToItsFeed) {
  server.putFeed("/page.html", htmlPage(linkTo("feeds/a.xml", "A")));
  server.putFeed("/feeds/a.xml", rssFeed(1, 2));
  AddUpdateResult r = add(server.url("/page.html"));
  ASSERT_NE(r.feed, nullptr);
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_EQ(r.feed->url.str(), server.url("/feeds/a.xml"));
  EXPECT_EQ(items(r.feed).size(), 2u);
  // An update reads the feed itself and never discovers again.
  server.putFeed("/feeds/a.xml", htmlPage(linkTo("/other.xml", "O")));
  update(r.feed);
  EXPECT_EQ(server.hits("/other.xml"), 0);
}

TEST_F(Discovery, SeveralFeedsAreOfferedAndTheChoiceIsFetched) {
  // A "feed:" address is read as the address it wraps.
  const std::string b = "feed:" + server.url("/b.xml");
  server.putFeed("/page.html", htmlPage(linkTo("/a.xml", "A") + linkTo(b, "B") + linkTo("/c.xml", "C")));
  server.putFeed("/b.xml", rssFeed(1, 1));
  ui.answers = {2};
  AddUpdateResult r = add(server.url("/page.html"));
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].title, "Add feed");
  EXPECT_EQ(ui.calls[0].filled(), "Please choose one of the following feeds:\n1. A\n2. B\n3. C");
  EXPECT_EQ(ui.calls[0].buttons, "1|2|3|Cancel");
  ASSERT_NE(r.feed, nullptr);
  EXPECT_EQ(r.feed->url.str(), server.url("/b.xml"));
  EXPECT_EQ(server.hits("/a.xml") + server.hits("/c.xml"), 0);

  // Cancel: nothing fetched, nothing said, cancelled.
  ui.calls.clear();
  ui.answers = {0};
  AddUpdateResult cancelled = add(server.url("/page.html"));
  EXPECT_EQ(cancelled.feed, nullptr);
  EXPECT_TRUE(cancelled.cancelled && cancelled.errorReported);
  EXPECT_EQ(ui.calls.size(), 1u);
}

TEST_F(Discovery, PagesWithoutAFeedAreReportedByWhatTheyLack) {
  const struct {
    std::string page;
    std::string message;  // "" for none
  } cases[] = {
      {htmlPage("<link rel=\"stylesheet\" href=\"s.css\">"), "No news feed found for:\n\x1b" "1URL"},
      // Well-formed XHTML without feed links is a document no parser takes.
      {"<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>x</title></head><body/></html>", ""},
      {"<html><body><p>no head end</div></html>", "Parsing error on line"},
      // A text the reader refuses at once still names its reason.
      {std::string("\n\n<p>a\0b</p>", 12), "Parsing error on line 3:\n\x1b" "1not valid XML: NUL byte at line 3"},
      {" \n ", "Parsing error on line 2:\n\x1b" "1not valid XML: the document is empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    ui.calls.clear();
    server.putFeed("/page.html", c.page);
    AddUpdateResult r = add(server.url("/page.html"));
    EXPECT_EQ(r.feed, nullptr);
    if (c.message.empty()) {
      EXPECT_TRUE(ui.calls.empty());
      continue;
    }
    ASSERT_EQ(ui.calls.size(), 1u);
    std::string want = c.message;
    if (want.find("URL") != std::string::npos) want.replace(want.find("URL"), 3, server.url("/page.html"));
    EXPECT_EQ(ui.calls[0].filled().substr(0, want.size()), want);
    removeBadDocuments();
  }
}

TEST_F(Discovery, AChosenFeedThatFailsIsReportedUnderItsAddress) {
  server.putFeed("/page.html", htmlPage(linkTo("/dead.xml", "D")));
  AddUpdateResult dead = add(server.url("/page.html"));
  EXPECT_EQ(dead.feed, nullptr);
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].filled(), "Downloading failed for:\n\x1b" "1" + server.url("/dead.xml") + "\nHTTP 404 Not Found");

  ui.calls.clear();
  server.putFeed("/dead.xml", "<rss version=\"2.0\"><channel><title>broken</b>");
  add(server.url("/page.html"));
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(badDocument(ui.calls[0]), "<rss version=\"2.0\"><channel><title>broken</b>");
}

TEST_F(Discovery, RelativeLinksOfAMovedPageResolveAgainstItsNewAddress) {
  server.put("/old", httpReply("", "301 Moved Permanently", true, "Location: /blog/\r\n"));
  server.putFeed("/blog/", htmlPage(linkTo("feed.xml", "F")));
  server.putFeed("/blog/feed.xml", atomFeed(1));
  AddUpdateResult r = add(server.url("/old"));
  ASSERT_NE(r.feed, nullptr);
  EXPECT_EQ(r.feed->url.str(), server.url("/blog/feed.xml"));
}

// The corpus pages whose feed lies under the page's own path, served with
// their feeds and added end to end.
TEST_F(Discovery, AutodiscoveryPagesServedAndAdded) {
  const std::filesystem::path dir =
      std::filesystem::path(BRINDLEWORK_TESTDATA_DIR) / "feeds/feedvalidator/feedfinder-tests";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no corpus at " << dir;
  int added = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("html4-", 0) != 0 || e.path().extension() != ".html") continue;
    const std::string stem = name.substr(0, name.size() - 5);
    const std::string page = *readCorpusFile(e.path());
    const std::string got = candidatesOf(page, server.url("/auto/" + name).c_str());
    const std::optional<std::string> feed = readCorpusFile(dir / (stem + ".xml"));
    if (!feed || got.find(server.url("/auto/" + stem + ".xml")) == std::string::npos) continue;
    SCOPED_TRACE(name);
    server.putFeed("/auto/" + name, page);
    server.putFeed("/auto/" + stem + ".xml", *feed);
    AddUpdateResult r = add(server.url("/auto/" + name));
    ASSERT_NE(r.feed, nullptr);
    EXPECT_EQ(r.feed->type.str().substr(0, 4), "Atom");
    ++added;
  }
  EXPECT_GT(added, 0);
  EXPECT_TRUE(ui.calls.empty());
}

}  // namespace
}  // namespace bw::testing_news
