// app/news_item_text_test.cpp - rendering items and their chains of updates
// into the summary and contents gadgets, and the fields of the info window.
#include "app/news_item_text.h"

#include <QGuiApplication>
#include <QScreen>
#include <fstream>
#include <iterator>

#include "app/gui_user_test_support.h"
#include "app/news_item_test_support.h"
#include "gui/host/core/gui_native_items.h"
#include "platform/time.h"

namespace bw {
namespace {

using testing_app::NewsItemTest;
using testing_app::Rendered;

const std::string kMinus = kMinusRule;
const std::string kEquals = kEqualsRule;
const std::string kClosing = kClosingRule;

TEST_F(NewsItemTest, AnItemInNoChainIsOnePassWithoutRules) {
  struct Case {
    const char *summary, *content;
    std::string wantSummary, wantContents;
    bool none;
  } cases[] = {
      {"The summary", "The contents", "The summary", "The contents", false},
      {nullptr, "one two three four five six seven eight", "one two three four ...", "one two three four five six seven eight",
       false},
      {"The summary", " \n\t\r ", "The summary", "", true},  // blank contents count as none
      {nullptr, nullptr, "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wantSummary);
    Rendered r = render(add(feed, "Title", c.summary, c.content));
    EXPECT_EQ(r.summaryTitle, "Title");
    EXPECT_EQ(r.contentsTitle, "Title");
    EXPECT_EQ(r.summary, c.wantSummary);
    EXPECT_EQ(r.contents, c.wantContents);
    EXPECT_EQ(r.noContents, c.none);
  }
}

TEST_F(NewsItemTest, SummaryIsContentsMakesTheSummaryTheContents) {
  int32_t index = add(feed, "Title", "<p>Summary in <b>HTML</b> here</p>", nullptr, false, kFormatHTML);
  EXPECT_TRUE(render(index).noContents);
  feed->summaryIsContents = true;
  Rendered r = render(index);
  EXPECT_FALSE(r.noContents);
  EXPECT_EQ(r.contents.find('<'), std::string::npos) << r.contents;
  EXPECT_NE(r.contents.find("HTML"), std::string::npos) << r.contents;
}

TEST_F(NewsItemTest, TheNewestRssUpdateShowsTheChainUntilATextOfSeveralLines) {
  int32_t newest = add(feed, "Title", "s3", "c3");
  int32_t middle = add(feed, "Title", "s2", "c2");
  int32_t oldest = add(feed, "Title", "s1", "c1");
  chain(feed, {newest, middle, oldest});

  Rendered r = render(newest);
  EXPECT_EQ(r.contents, "c3" + kMinus + "c2" + kMinus + "c1");
  EXPECT_EQ(r.summary, "s3" + kMinus + "s2" + kMinus + "s1");
  EXPECT_EQ(r.contentsTitle, "Title");
  // Older updates show their own text; the oldest is marked.
  EXPECT_EQ(render(middle).contents, "c2");
  EXPECT_EQ(render(oldest).contents, "c1");
  EXPECT_EQ(render(oldest).summaryTitle, "* Title");

  // A pass whose text holds a line feed stops that text; the other goes on.
  HeldItem m(*db, item(middle, feed));
  newsItemBody* body = loadObject_newsItemBody(*db, m->bodyIndex);
  body->content = Str("c2\nsecond line");
  db->saveChangesToObject(body);
  db->unloadObject(body);
  r = render(newest);
  EXPECT_EQ(r.contents, "c3" + kMinus + "c2\nsecond line");
  EXPECT_EQ(r.summary, "s3" + kMinus + "s2" + kMinus + "s1");
}

TEST_F(NewsItemTest, FacebookUpdatesAreJoinedUpToTheFirstSeenOne) {
  newsFeed* facebook = loadedFeed("Facebook");
  int32_t newest = add(facebook, "(comment by Ann) nice", nullptr, "newest", false);
  int32_t middle = add(facebook, "(shared) Post", nullptr, "(aside) middle", false);
  int32_t seen = add(facebook, "Post", "seen summary", nullptr, true);
  int32_t oldest = add(facebook, "(Ann) Post", nullptr, "oldest", true);
  chain(facebook, {newest, middle, seen, oldest});

  Rendered r = render(newest, facebook);
  // A "(comment by" title, or one opening with "(" over contents that do
  // not, gives its line above the contents; a missing contents takes the
  // summary.
  EXPECT_EQ(r.contents, "(comment by Ann)\nnewest" + kMinus + "(aside) middle" + kEquals + "seen summary" + kMinus +
                            "(Ann)\noldest");
  EXPECT_FALSE(r.noContents);

  // With nothing seen both texts end with the closing rule.
  for (int32_t index : {seen, oldest}) {
    HeldItem it(*db, item(index, facebook));
    it->seen = false;
    db->saveChangesToObject(it.get());
  }
  r = render(newest, facebook);
  EXPECT_EQ(r.contents.substr(r.contents.size() - kClosing.size()), kClosing);
  EXPECT_EQ(r.summary.substr(r.summary.size() - kClosing.size()), kClosing);
  EXPECT_EQ(r.contents.find(kEquals), std::string::npos);

  int32_t lone = add(facebook, "Post", nullptr, nullptr);
  r = render(lone, facebook);
  EXPECT_EQ(r.contents, kClosing);
  EXPECT_FALSE(r.noContents);
}

TEST_F(NewsItemTest, AChainThatLoopsBackEndsTheWalk) {
  int32_t a = add(feed, "Title", "a", "a");
  int32_t b = add(feed, "Title", "b", "b");
  int32_t c = add(feed, "Title", "c", "c");
  // a -> b -> c -> b: the walk from a meets b again.
  setOlderLink(feed, a, b, 0);
  setOlderLink(feed, b, c, 0);
  setOlderLink(feed, c, b, a);
  EXPECT_EQ(render(a).contents, "a" + kMinus + "b" + kMinus + "c");
}

TEST_F(NewsItemTest, CorpusHtmlReachesTheBoxesAsText) {
  const std::string dir = std::string(BRINDLEWORK_TESTDATA_DIR) + "/feeds/feedvalidator/";
  struct Case {
    const char* file;
    std::string Rendered::*box;
    std::string shown;
  } cases[] = {
      {"rss20/element-channel-item-description/html_in_item_description.xml", &Rendered::summary, "Lo\u00efc Le Meur has joined the RSS Board"},
      {"rss/should/content_encoded_contains_unicode.xml", &Rendered::contents,
       "\x1bu\x1b" "5Test\x1bn\x1b" "2"},  // a link: underlined in the highlight pen,
  };
  for (const Case& c : cases) {
    std::ifstream in(dir + c.file, std::ios::binary);
    if (!in) GTEST_SKIP() << "corpus not found: " << dir;
    FeedParseResult parsed = rss(std::string(std::istreambuf_iterator<char>(in), {}), nullptr, c.file);
    ASSERT_NE(parsed.feed, nullptr) << c.file << (ui.calls.empty() ? "" : ui.calls.back().filled());
    Rendered r = render(parsed.feed->itemList->infoHeadIndex(), parsed.feed);
    EXPECT_EQ(r.*c.box, c.shown) << c.file;
  }
}

TEST_F(NewsItemTest, InfoFieldsInOrder) {
  int32_t index = add(feed, "A &amp; B", nullptr, nullptr);
  HeldItem it(*db, item(index, feed));
  newsItemBody body;
  it->link = Str("http://example.org/a");
  it->uniqueID = Str("id-1");
  it->tags = Str(",x,y,");
  it->downloaded = pTime::DateTimeToBigTime(2017, 6, 18, 9, 5, 7);
  body.publishedText = Str("Sun, 18 Jun 2017");
  body.author = Str("Ann");
  body.encoding = Str("UTF-8");
  auto fields = [&] {
    std::vector<std::string> out;
    for (const Str& s : newsItemInfoFields(*it.get(), &body, &utf8)) out.push_back(s.str());
    return out;
  };
  EXPECT_EQ(fields(), (std::vector<std::string>{"A & B", "http://example.org/a", "id-1", "Sun, 18 Jun 2017", "",
                                                "2017-06-18 09:05:07", ",x,y,", "Ann", "", "UTF-8"}));
  it->statedLink = Str("http://example.org/b");
  it->downloaded = kDateUnset;
  it->olderDuplicateItemIndex = index;  // in a chain: Updated falls back to Published
  body.statedEncoding = Str("ISO-8859-1");
  std::vector<std::string> f = fields();
  EXPECT_EQ(f[1], "http://example.org/a (stated http://example.org/b)");
  EXPECT_EQ(f[4], "Sun, 18 Jun 2017");
  EXPECT_EQ(f[5], "");
  EXPECT_EQ(f[9], "UTF-8 (stated ISO-8859-1)");
  it->olderDuplicateItemIndex = 0;
}

class NewsItemInfoWindow : public testing_app::NewsItemGuiTest {};

TEST_F(NewsItemInfoWindow, OkCloseAndQuitCloseItOnlyQuitAnswersTrue) {
  using namespace testing_app;
  HeldItem it(*db, item(add(feed, "Storm warning for the coast", nullptr, nullptr), feed));
  it->link = Str("http://example.org/storm");
  it->uniqueID = Str("tag:example.org,2017:storm");
  it->downloaded = pTime::DateTimeToBigTime(2017, 6, 18, 9, 5, 7);
  newsItemBody body;
  body.publishedText = Str("Sun, 18 Jun 2017 09:00:00 GMT");
  body.encoding = Str("UTF-8");
  body.statedEncoding = Str("ISO-8859-1");
  cGuiWindow owner;  // the main window, 1600 wide: the window opens 800 wide
  owner.setSize(1600, 900);
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    std::vector<std::string> labels, values;
    ScriptedUser user({[&] {
      cGuiWindow* w = windowTitled("Info about news item");
      ASSERT_NE(w, nullptr);
      EXPECT_TRUE(w->infoIsOpen());
      // 800 wide, within the screen with its frame (the offscreen screen
      // is 800 wide).
      const int screen = QGuiApplication::primaryScreen()->availableGeometry().width();
      EXPECT_EQ(w->infoWidth(), kind == 1 ? 640 : std::min(800, screen - 8));
      for (const char* label : kNewsItemInfoLabels) {
        labels.push_back(label);
        values.push_back(gadget<cGuiText>(w, label)->getState().str());
      }
      if (kind == 0) {
        screenshot(w, "news_item_info_window");
        click(w, gadget<cGuiKeyButton>(w, ""));
      }
      if (kind == 1) closeWindow(w);
      if (kind == 2) guiAppClient()->killCommand();
    }});
    EXPECT_EQ(showNewsItemInfo(*it.get(), &body, &utf8, kind == 1 ? nullptr : &owner), kind == 2);
    EXPECT_TRUE(user.finished());
    EXPECT_EQ(windowCount(), 0);
    ASSERT_EQ(values.size(), 10u);
    EXPECT_EQ(values[1], "http://example.org/storm");
    EXPECT_EQ(values[9], "UTF-8 (stated ISO-8859-1)");
  }
}

}  // namespace
}  // namespace bw
