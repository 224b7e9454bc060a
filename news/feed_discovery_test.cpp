// news/feed_discovery_test.cpp - the feeds a page announces: candidate
// collection on hand-made pages and on the autodiscovery corpus, and
// discovery end to end while adding a feed.
#include "news/feed_discovery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/utf8.h"
#include "platform/dos_env.h"

#include "news/feed_update_test_support.h"
#include "web/web_corpus_test_support.h"

namespace bw::testing_news {
namespace {

// "url|title" per candidate, ";"-joined; "(not a page) " first when the
// text held no html, head or body tag.
std::string candidatesOf(std::string_view page, const char* pageURL = "http://site.test/blog/page.html",
                         std::string_view httpCharset = "") {
  CandidateScan scan = collectFeedCandidates(page, pageURL, httpCharset);
  std::string out = scan.webPage ? "" : "(not a page) ";
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
      {htmlPage("<link rel=\"alternate\" type=\"text/html\" href=\"/f\" title=\"A\">"), ""},
      {htmlPage("<link rel=\"stylesheet\" type=\"application/rss+xml\" href=\"/f\" title=\"A\">"), ""},
      {htmlPage("<link " + rss + " title=\"no href\">"), ""},
      // A link without a title is labelled by its href.
      {htmlPage("<link " + rss + " href=\"f.xml\">"), "http://site.test/blog/f.xml|f.xml"},
      // Only http and https feeds are offered from an http page.
      {htmlPage("<link " + rss + " href=\"file:///etc/passwd\" title=\"A\"><link " + rss +
                " href=\"javascript:x()\" title=\"B\"><link " + rss + " href=\"https://s.test/f\" title=\"C\">"),
       "https://s.test/f|C"},
      // Links in the body do not count.
      {htmlPage("", "<link " + rss + " href=\"/f.xml\" title=\"A\">"), ""},
      {"<html><head><title>t</title></head><body><link " + rss + " href=\"/x\" title=\"X\"/></body></html>", ""},
      // A well-formed XHTML page is read the same way.
      {"<html><head><link " + rss + " href=\"/x.xml\" title=\"X\"/></head><body/></html>",
       "http://site.test/x.xml|X"},
      // Text that is no page: nothing, and not taken for one.
      {"<rss version=\"2.0\"><channel><title>broken</b>", "(not a page) "},
  };
  for (const auto& c : cases) EXPECT_EQ(candidatesOf(c.page), c.want) << c.page;
  // A "file" page may name "file" feeds.
  EXPECT_EQ(candidatesOf(htmlPage("<link " + rss + " href=\"f.xml\" title=\"A\">"), "file:///srv/page.html"),
            "file:///srv/f.xml|A");
}

// Heads as real sites write them, read as a browser tokenises them.
TEST_F(FeedCandidates, RealWorldHeads) {
  const struct {
    std::string head, want;
  } cases[] = {
      // A line break after "<link", capitals, attributes unquoted.
      {"<LINK\n  REL=alternate TYPE=application/rss+xml\tHREF=/feed/ TITLE=\"Blog &raquo; Feed\">",
       "http://site.test/feed/|Blog \xC2\xBB Feed"},
      // rel is a token list; type in any letter case.
      {"<link rel=\"alternate nofollow\" type=\"Application/Atom+XML\" href=\"atom.xml\" title=\"Atom\">",
       "http://site.test/blog/atom.xml|Atom"},
      {"<link rel=\"  feed alternate\n\" type=\"application/rss+xml\" href=\"r\">", "http://site.test/blog/r|r"},
      // ">" and "<" inside quoted values keep the tag whole.
      {"<link rel='alternate' type='application/rss+xml' title='a > b < c' href='/q'>", "http://site.test/q|a > b < c"},
      // A repeated attribute: the first one counts.
      {"<link rel=\"alternate\" type=\"application/rss+xml\" href=\"/one\" href=\"/two\" title=\"T\" title=\"U\">",
       "http://site.test/one|T"},
      // Links inside comments, scripts and titles are none.
      {"<!-- <link " + std::string(kRss) + " href=\"/old\"> --><script>var s = '<link " + kRss +
           " href=\"/js\">';</script><link " + kRss + " href=\"/new\" title=\"N\">",
       "http://site.test/new|N"},
      {"<!--> <link " + std::string(kRss) + " href=\"/short\" title=\"S\">", "http://site.test/short|S"},
      // <base href> moves every relative address, itself relative to the page.
      {"<base href=\"/other/dir/\"><link " + std::string(kRss) + " href=\"feed.xml\" title=\"F\">",
       "http://site.test/other/dir/feed.xml|F"},
      {"<base href=\"http://cdn.test/x/\"><base href=\"/ignored/\"><link " + std::string(kRss) + " href=\"../f\">",
       "http://cdn.test/f|../f"},
      {"<link " + std::string(kRss) + " href=\"/go?u=http://x.test/f\" title=\"Q\"><link " + kRss +
           " href=\"//cdn.test/n\" title=\"N\">",
       "http://site.test/go?u=http://x.test/f|Q;http://cdn.test/n|N"},
      // White space and line breaks around and inside an address.
      {"<link " + std::string(kRss) + " href=\"  /sp\nace.xml \" title=\"W\">", "http://site.test/space.xml|W"},
      // Character references in titles and addresses.
      {"<link " + std::string(kRss) + " href=\"/f?a=1&amp;b=2\" title=\"Tom &amp; Jerry&#8217;s &eacute\">",
       "http://site.test/f?a=1&b=2|Tom & Jerry\xE2\x80\x99s \xC3\xA9"},
  };
  for (const auto& c : cases) EXPECT_EQ(candidatesOf(htmlPage(c.head)), c.want) << c.head;

  // A page without "</head>", and links between "</head>" and the body.
  EXPECT_EQ(candidatesOf("<html><head><link " + std::string(kRss) + " href=\"/a\" title=\"A\"><body><p>x"),
            "http://site.test/a|A");
  EXPECT_EQ(candidatesOf("<!DOCTYPE html><title>t</title><link " + std::string(kRss) + " href=\"/b\" title=\"B\">"),
            "(not a page) http://site.test/b|B");
  EXPECT_EQ(candidatesOf("<html><head></head><link " + std::string(kRss) + " href=\"/c\" title=\"C\"><body>"),
            "http://site.test/c|C");
  // The first element of the body ends the search, even without <body>.
  EXPECT_EQ(candidatesOf("<html><head><div>x</div><link " + std::string(kRss) + " href=\"/d\">"), "");
  // A tag the text's end cuts is no tag.
  EXPECT_EQ(candidatesOf("<html><head><link " + std::string(kRss) + " href=\"/e\" title=\"E"), "");
}

// Titles come back in UTF-8 whatever the page's charset, named by its meta
// tag, else by the server, else UTF-8 with stray bytes read as Windows-1252.
TEST_F(FeedCandidates, TitlesInThePagesCharset) {
  const std::string link = "<link " + std::string(kRss) + " href=\"/f\" title=\"";
  const struct {
    std::string head, httpCharset, want;
  } cases[] = {
      {"<meta charset=\"iso-8859-2\">" + link + "\xB1\xE6\">", "", "\xC4\x85\xC4\x87"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">" + link + "\xCF\xF0\">",
       "", "\xD0\x9F\xD1\x80"},
      {"<meta charset=ISO-8859-15>" + link + "\xA4\">", "", "\xE2\x82\xAC"},
      // Latin-1 is read as Windows-1252, as browsers do.
      {"<meta charset=latin1>" + link + "\x93q\x94\">", "", "\xE2\x80\x9Cq\xE2\x80\x9D"},
      {link + "\x83\x65\x83\x58\x83\x67\">", "Shift_JIS", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},
      // The meta tag wins over the server.
      {"<meta charset=\"utf-8\">" + link + "\xC3\xA9\">", "iso-8859-1", "\xC3\xA9"},
      {link + "caf\xE9 \xC3\xA9\">", "", "caf\xC3\xA9 \xC3\xA9"},
      // An unknown charset reads as UTF-8.
      {"<meta charset=\"x-none\">" + link + "\xC3\xA9\">", "", "\xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(candidatesOf(htmlPage(c.head), "http://site.test/", c.httpCharset), "http://site.test/f|" + c.want)
        << c.head;
  }
  // A UTF-16 page with its byte-order mark.
  std::string utf16 = "\xFF\xFE";
  for (const char c : htmlPage(link + "T\">")) utf16 += std::string{c, '\0'};
  EXPECT_EQ(candidatesOf(utf16, "http://site.test/"), "http://site.test/f|T");
}

TEST_F(FeedCandidates, TheQuestionShowsTitlesAsWritten) {
  std::vector<FeedCandidate> c = {{Str("u1"), Str("A")}, {Str("u2"), Str("100% %s %n")}, {Str("u3"), Str("C")}};
  const std::string q = feedChoiceQuestion(c);
  EXPECT_EQ(q, "Please choose one of the following feeds:\n1. A\n2. 100%% %%s %%n\n3. C");
  EXPECT_EQ(fillFormatText(q, {}), "Please choose one of the following feeds:\n1. A\n2. 100% %s %n\n3. C");
  EXPECT_EQ(feedChoiceButtons(3), "1|2|3|Cancel");
}

// A first tag of 100,000 attributes (0.7 MB) is read whole: the first of
// each repeated attribute counts, wherever it stands. The stop is asked
// while it is read, and ends the scan with nothing offered.
TEST_F(FeedCandidates, TagsOfManyAttributes) {
  std::string link = "<link";
  for (int i = 0; i < 100'000; ++i) link += " a" + std::to_string(i) + "=1";
  link += std::string(" ") + kRss + " href=/first.xml title=T href=/second.xml rel=stylesheet>";
  const std::string page = htmlPage(link);
  EXPECT_EQ(candidatesOf(page), "http://site.test/first.xml|T");
  int asked = 0;
  const CandidateScan stopped =
      collectFeedCandidates(page, "http://site.test/", "", [&] { return ++asked == 3; });
  EXPECT_TRUE(stopped.interrupted);
  EXPECT_TRUE(stopped.candidates.empty());
  EXPECT_EQ(asked, 3);
  EXPECT_FALSE(collectFeedCandidates(page, "http://site.test/", "", [] { return false; }).interrupted);
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
    std::string got = candidatesOf(page, url.c_str());
    if (got.starts_with("(")) got.erase(0, got.find(") ") + 2);
    const std::string stem = name.substr(0, name.size() - 5);
    if (!got.empty() && got.find('|') != std::string::npos) {
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
      // A page without a head end is still a page.
      {"<html><body><p>no head end</div></html>", "No news feed found for:\n\x1b" "1URL"},
      {"<rss version=\"2.0\"><channel><title>broken</b>", "Parsing error on line"},
      // A text the reader refuses at once still names its reason.
      {std::string("\n\n<p>a\0b</p>", 12), "Parsing error on line 3:\n\x1b" "1not valid XML: NUL byte at line 3\n"},
      {" \n ", "Parsing error on line 2:\n\x1b" "1the document is empty\n"},
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

// Ctrl-C while a page is scanned cancels the add: nothing fetched, nothing
// said.
TEST_F(Discovery, CtrlCDuringTheScanCancelsTheAdd) {
  std::string head;
  for (int i = 0; i < 10'000; ++i) head += "<meta name=m" + std::to_string(i) + ">";
  server.putFeed("/page.html", htmlPage(head + linkTo("/a.xml", "A")));
  server.putFeed("/a.xml", rssFeed(1, 1));
  dos::signalBreak();
  AddUpdateResult r = add(server.url("/page.html"));
  EXPECT_FALSE(dos::checkBreak());
  EXPECT_EQ(r.feed, nullptr);
  EXPECT_TRUE(r.cancelled);
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_EQ(server.hits("/a.xml"), 0);
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

// Pages and feeds in other encodings, served with and without the
// server's charset, added end to end: the titles the user sees are UTF-8.
TEST_F(Discovery, PagesAndFeedsInOtherEncodings) {
  // "ニュース" in Shift_JIS, the page saying nothing of its charset.
  const std::string sjisNews = "\x83\x6A\x83\x85\x81\x5B\x83\x58";
  server.put("/jp.html", httpReply(htmlPage(linkTo("/a.xml", "A " + sjisNews) + linkTo("/b.xml", "B")), "200 OK",
                                   true, "Content-Type: text/html; charset=Shift_JIS\r\n"));
  ui.answers = {0};
  add(server.url("/jp.html"));
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].filled(), "Please choose one of the following feeds:\n1. A \xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9\n2. B");

  // A UTF-16 feed with its byte-order mark, and a Shift_JIS one named only
  // by the server.
  const std::string feed = rssDocument("<title>F</title><link>http://example.org/</link><item><title>caf\xC3\xA9 "
                                       "\xE6\x97\xA5</title><guid>g1</guid></item>");
  std::string utf16 = "\xFF\xFE";  // every character of it is in the first plane
  for (size_t i = 0; i < feed.size();) {
    const DecodedChara d = convertUTF8charaToUnicode(feed.data(), static_cast<int32_t>(i), static_cast<int32_t>(feed.size()), '?');
    utf16 += static_cast<char>(d.codePoint & 0xFF);
    utf16 += static_cast<char>(d.codePoint >> 8);
    i += static_cast<size_t>(d.size);
  }
  server.putFeed("/u16.xml", utf16);
  ui.calls.clear();
  AddUpdateResult r = add(server.url("/u16.xml"));
  ASSERT_NE(r.feed, nullptr) << r.failure;
  ASSERT_EQ(items(r.feed).size(), 1u);
  EXPECT_EQ(items(r.feed)[0].title, "caf\xC3\xA9 \xE6\x97\xA5");

  server.put("/sjis.xml", httpReply("<rss version=\"2.0\"><channel><title>F</title><link>http://example.org/s</link>"
                                    "<item><title>" + sjisNews + "</title><guid>s1</guid></item></channel></rss>",
                                    "200 OK", true, "Content-Type: application/rss+xml; charset=shift_jis\r\n"));
  AddUpdateResult s = add(server.url("/sjis.xml"));
  ASSERT_NE(s.feed, nullptr) << s.failure;
  ASSERT_EQ(items(s.feed).size(), 1u);
  EXPECT_EQ(items(s.feed)[0].title, "\xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9");

  // An encoding nothing here knows is told in words.
  server.putFeed("/k.xml", "<?xml version=\"1.0\" encoding=\"klingon\"?><rss version=\"2.0\"/>");
  AddUpdateResult k = add(server.url("/k.xml"));
  EXPECT_EQ(k.feed, nullptr);
  EXPECT_NE(k.failure.find("the feed's encoding klingon is not supported"), std::string::npos) << k.failure;
  removeBadDocuments();
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
