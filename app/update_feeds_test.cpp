// app/update_feeds_test.cpp - the "Update feeds" window as built and as
// the news layer sees it; updateFeeds against loopback servers on three
// hosts that log their connections, on the offscreen host, driven by a
// scripted user who presses the window's buttons through the toolkit's
// queue; the count lines, the marks and the companion windows' sizes.
#include "app/update_feeds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <chrono>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/feed_list.h"
#include "app/gui_host_test_support.h"
#include "app/update_server_test_support.h"
#include "app/window_sizes.h"
#include "gui/host/gui_app_client.h"
#include "news/feed_update_test_support.h"
#include "platform/app_host.h"
#include "platform/spawn_test_support.h"
#include "social/facebook_downloader.h"
#include "social/facebook_fake_api.h"
#include "social/facebook_module.h"
#include "social/service_config.h"
#include "social/twitter_downloader.h"
#include "social/twitter_fake_api.h"
#include "social/twitter_module.h"

namespace bw {
namespace {

using testing_app::FeedHostServer;
using testing_app::ServedAnswer;

cGuiWindowHostCore* hostOf(cGuiWindow* w) { return static_cast<cGuiWindowHostCore*>(w); }

// The item tree as nested text: a group as its class and members in
// brackets, a gadget as its class and label.
std::string itemTree(const cGuiItem* item) {
  std::string out = item->className();
  if (!item->isOfClass(cGuiGroupItem::kClassName))
    return out + ":" + static_cast<const cGuiLabelledItem*>(item)->infoLabel().str();
  out += "[";
  for (cGuiItem* i = static_cast<const cGuiGroupItem*>(item)->infoFirst(); i; i = i->infoNext())
    out += (out.back() == '[' ? "" : " ") + itemTree(i);
  return out + "]";
}

// A line of the update window that also keeps every text it was shown.
class RecordedText : public NewsGuiText {
 public:
  void setState(Text text) override {
    shown->setState(text);
    history.emplace_back(text.view());
  }
  Str state() const override { return shown->state(); }
  bool showed(const std::string& text) const { return std::find(history.begin(), history.end(), text) != history.end(); }
  NewsGuiText* shown = nullptr;
  std::vector<std::string> history;
};

// The news interface over the host's windows; before every poll and every
// wait the user may look at the windows and press something.
class ScriptedUser : public NewsUi {
 public:
  explicit ScriptedUser(NewsGuiWindows& windows) : windows_(windows) { setNewsUi(this); }
  ~ScriptedUser() override { setNewsUi(nullptr); }
  int32_t gui_requester(Text, Text text, Text, const RequesterParameters& parameters, int32_t, int32_t) override {
    reports.push_back(fillFormatText(text.view(), parameters));
    return 1;
  }
  void report(Text, Text text, const RequesterParameters& parameters) override {
    reports.push_back(fillFormatText(text.view(), parameters));
  }
  ChangedGuiItem checkForChangedGuiItem() override {
    ++polls;
    if (user) user(false);
    return windows_.checkForChangedGuiItem();
  }
  ChangedGuiItem waitForChangedGuiItem() override {
    ++waits;
    if (user) user(true);
    if (guiAppClient()->infoQueued() == 0) {
      ADD_FAILURE() << "a wait with nothing to come";
      guiAppClient()->killCommand();
    }
    return windows_.waitForChangedGuiItem();
  }
  std::unique_ptr<NewsGuiBuiltWindow> CreateGuiWindow(Text title) override { return windows_.CreateGuiWindow(title); }

  std::function<void(bool waiting)> user;
  std::vector<std::string> reports;
  int polls = 0, waits = 0;

 private:
  NewsGuiWindows& windows_;
};

class UpdateFeedsTest : public testing_news::FeedParseTest {
 protected:
  void SetUp() override {
    FeedParseTest::SetUp();
    setClockSource([this] { return ClockReading{testing_news::kNowUnix + seconds.load(), 0, false}; });
    host = std::make_unique<testing_app::GuiHostUp>("bw-update");
    main = cGuiHost::CreateGuiWindow("Main");
    main->beginGroupVertical(nullptr);
    feedStatus = main->addText("");
    tags = main->beginList(1, nullptr);
    tags->initMultiSelect(true, true);
    tags->setSortByColumn(0, false);
    main->endList();
    feedList = main->beginList(5, nullptr);
    feedList->initMultiSelect(true, true);
    feedList->setSortByUser(2, true);
    main->endList();
    undo = main->addButton("Undo seen");
    main->endGroup();
    main->build(true);
    main->setSize(1000, 600);
    record = buildUpdateWindow(windows);
    for (auto [line, field] : {std::pair{&feedText, &record.progress.feedText}, {&stepText, &record.progress.stepText},
                               {&progressText, &record.progress.progressText}}) {
      line->shown = *field;
      *field = line;
    }
    if (!hostB.listening()) GTEST_SKIP() << "127.0.0.2 cannot be listened on here";
  }
  void TearDown() override {
    endUpdateWindow(record, windows);
    endGuiWindow(main);
    host.reset();
    FeedParseTest::TearDown();
  }

  // A stored RSS feed at url, chained as loaded and listed in the feed list.
  newsFeed* feed(const std::string& title, const std::string& url, const char* type = "RSS 2.0") {
    newsFeed* f = makeFeed(type);
    f->title = Str(title);
    f->url = Str(url);
    newsFeed** tail = &root->firstLoadedFeed;
    while (*tail) tail = &(*tail)->nextLoadedFeed;
    *tail = f;
    refreshTagChooserAndFeedList(*feedList, *tags, *db, &utf8, *root);
    return f;
  }
  // Feeds named by host letter and number ("a1"); each answers body after
  // delayMs, unless answers gives its own.
  std::vector<newsFeed*> feeds(const std::string& letters, int delayMs = 100,
                               std::map<std::string, ServedAnswer> answers = {}) {
    std::map<char, int> numbers;
    std::vector<newsFeed*> out;
    for (char letter : letters) {
      FeedHostServer& server = letter == 'a' ? hostA : letter == 'b' ? hostB : hostC;
      const std::string name = letter + std::to_string(++numbers[letter]);
      auto given = answers.find(name);
      server.put("/" + name, given != answers.end() ? given->second : ServedAnswer{body, delayMs});
      out.push_back(feed(name, server.url("/" + name)));
    }
    return out;
  }
  bool update(const std::vector<newsFeed*>& work, int64_t deadline = kRequestDeadlineSeconds) {
    cMegaList_class list(false, nullptr, false);
    for (newsFeed* f : work) list.infoPastEnd()->beforeInsert(list.makeFloating(f));
    return updateFeeds(list, *feedList, *tags, main, record, undo, *db, &utf8, *root, deadline);
  }
  static bool updated(const newsFeed* f) { return !f->downloadFailed && f->itemList->infoHeadIndex() != 0; }
  static bool untouched(const newsFeed* f) { return !f->downloadFailed && f->itemList->infoHeadIndex() == 0; }
  void press(cGuiButton* button) { guiNotify(button, hostOf(record.window)); }
  std::string countLine() {
    showFeedCountStatus(feedStatus, *feedList);
    return feedStatus->getState().str();
  }
  // Selects the rows of these feeds.
  void select(const std::vector<newsFeed*>& chosen) {
    for (int32_t i = 0; i < feedList->infoCount(); ++i) {
      if (std::find(chosen.begin(), chosen.end(), feedOfListEntry(feedList->infoEntryAt(i)->dataBox.get())) ==
          chosen.end())
        continue;
      feedList->cursor_gotoStart();
      feedList->cursor_gotoNext(i);
      feedList->cursor_setState(true);
    }
  }
  // The titles of the feeds whose rows are selected, sorted.
  std::string selectedFeeds() {
    std::vector<std::string> titles;
    for (int32_t i = 0; i < feedList->infoCount(); ++i)
      if (feedList->infoEntryAt(i)->selected)
        titles.push_back(feedOfListEntry(feedList->infoEntryAt(i)->dataBox.get())->title.str());
    std::sort(titles.begin(), titles.end());
    std::string out;
    for (const std::string& t : titles) out += t + " ";
    return out;
  }

  const std::string body = testing_news::rssFeed(1, 2);
  std::atomic<int64_t> seconds{0};  // the clock seam's time past the start
  testing_app::ConnectionLog log;
  FeedHostServer hostA{log, "127.0.0.1", "127.0.0.1"};
  FeedHostServer hostB{log, "127.0.0.2", "127.0.0.2"};
  FeedHostServer hostC{log, "127.0.0.1", "localhost"};
  std::unique_ptr<testing_app::GuiHostUp> host;
  NewsGuiWindows windows;
  ScriptedUser user{windows};
  cGuiWindow* main = nullptr;
  cGuiText* feedStatus = nullptr;
  cGuiList* tags = nullptr;
  cGuiList* feedList = nullptr;
  cGuiButton* undo = nullptr;
  UpdateWindowRecord record;
  RecordedText feedText, stepText, progressText;
};

TEST_F(UpdateFeedsTest, TwoRequestsInFlightNeverTwoToOneHost) {
  struct {
    const char* hosts;
    int maxOpen;
    std::vector<std::string> firstTexts;
  } cases[] = {
      {"aaaaa", 1, {"(1/5) a1", "(2/5) a2", "(3/5) a3", "(4/5) a4", "(5/5) a5"}},
      {"abcab", 2, {"(1/5) a1", "(1/5) b1 + a1"}},
      {"a", 1, {"a1"}},
  };
  const std::regex shape(R"((\(\d/5\) )?[abc]\d( \+ [abc]\d)?)");
  for (auto& c : cases) {
    SCOPED_TRACE(c.hosts);
    const size_t first = log.connections().size();
    feedText.history.clear();
    std::vector<newsFeed*> work = feeds(c.hosts);
    EXPECT_FALSE(update(work));
    for (newsFeed* f : work) EXPECT_TRUE(updated(f)) << f->title.str();
    EXPECT_EQ(testing_app::mostOpenAtOnce(log.connections(first), true), 1);
    EXPECT_EQ(testing_app::mostOpenAtOnce(log.connections(first), false), c.maxOpen);
    std::vector<std::string> texts;  // without repeats
    for (const std::string& t : feedText.history)
      if (texts.empty() || texts.back() != t) texts.push_back(t);
    ASSERT_GE(texts.size(), c.firstTexts.size());
    EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + c.firstTexts.size()), c.firstTexts);
    for (const std::string& t : texts) EXPECT_TRUE(std::regex_match(t, shape)) << t;
    EXPECT_TRUE(progressText.showed(std::to_string(body.size()) + " bytes (100%)"));
    EXPECT_TRUE(stepText.showed("Connecting to feed..."));
    EXPECT_FALSE(record.window->infoIsOpen());
  }
  // One host's feeds strictly one after another.
  std::vector<testing_app::ConnectionLog::Connection> sameHost;
  for (auto& conn : log.connections())
    if (conn.path.starts_with("/a")) sameHost.push_back(conn);
  for (size_t i = 1; i < sameHost.size(); ++i) EXPECT_LT(sameHost[i - 1].closed, sameHost[i].opened);
}

TEST_F(UpdateFeedsTest, PauseHoldsTheDownloadAndCancelEndsTheUpdate) {
  // Pause while the body comes in pieces: the progress stands still with
  // " (paused)" while other windows' presses are dropped; Resume goes on.
  std::vector<newsFeed*> one = feeds("a", 0, {{"a1", ServedAnswer{body, 0, 200, 4, 150}}});
  std::string pausedAt;
  user.user = [&](bool waiting) {
    const std::string shown = progressText.state().str();
    if (!waiting && pausedAt.empty() && shown.find(" bytes (") != std::string::npos) {
      pausedAt = shown;
      press(record.pauseButton);
    } else if (waiting) {
      EXPECT_EQ(shown, pausedAt + " (paused)");
      EXPECT_EQ(record.buttonPage->getState(), 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (user.waits < 3) guiNotify(undo, hostOf(main));
      if (user.waits == 3) press(record.resumeButton);
    }
  };
  EXPECT_FALSE(update(one));
  EXPECT_TRUE(updated(one[0]));
  EXPECT_EQ(user.waits, 3);
  EXPECT_NE(pausedAt.find("%)"), std::string::npos);
  EXPECT_EQ(record.buttonPage->getState(), 0);

  // Cancel while the third feed (c1, in pieces) downloads: the feed
  // connecting beside it and the rest of the list stay untouched. The
  // delays fix the order in which the answers begin.
  bool cancelled = false;
  user.user = [&](bool) {
    if (!cancelled && feedText.state().str().ends_with("c1") &&
        progressText.state().str().find(" bytes (") != std::string::npos) {
      cancelled = true;
      press(record.cancelButton);
    }
  };
  std::vector<newsFeed*> five =
      feeds("abcab", 0, {{"c1", ServedAnswer{body, 200, 200, 4, 150}}, {"a2", ServedAnswer{body, 600}}});
  EXPECT_FALSE(update(five));
  EXPECT_TRUE(cancelled);
  int updates = 0, untouchedFeeds = 0;
  for (newsFeed* f : five) {
    updates += updated(f);
    untouchedFeeds += untouched(f);
  }
  EXPECT_EQ(updates, 2);  // a1 and b1
  EXPECT_EQ(untouchedFeeds, 3);
  EXPECT_TRUE(untouched(five[2]));
  EXPECT_EQ(log.requestsFor("/b2"), 0);
  EXPECT_FALSE(record.window->infoIsOpen());
}

// A server that accepts and never answers: the update window keeps working
// while both requests wait, and the feeds fail at the deadline of unpaused
// time.
TEST_F(UpdateFeedsTest, ARequestThatNeverAnswersLeavesTheWindowWorking) {
  enum Act { kCancel, kClose, kQuit, kDeadline, kPause };
  struct {
    Act act;
    bool result;
    bool failed;
  } cases[] = {{kCancel, false, false}, {kClose, true, false}, {kQuit, true, false},
               {kDeadline, false, true}, {kPause, false, true}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.act);
    const ServedAnswer never{"", 0, 200, 1, 0, true};
    std::vector<newsFeed*> work = feeds("ab", 0, {{"a1", never}, {"b1", never}});
    int pollsAfterResume = -1;
    std::chrono::steady_clock::time_point pressedAt;
    while (cGuiHost::checkForChangedGuiItem(false).window) {
    }
    user.polls = user.waits = 0;
    user.user = [&](bool waiting) {
      if (waiting) {
        EXPECT_EQ(progressText.state().str(), " (paused)");
        seconds += 100;  // paused time does not count
        if (user.waits == 2) press(record.resumeButton), pollsAfterResume = 0;
        else guiNotify(undo, hostOf(main));  // dropped
        return;
      }
      seconds += 2;
      if (pollsAfterResume >= 0) ++pollsAfterResume;
      if (user.polls != 1) return;
      pressedAt = std::chrono::steady_clock::now();
      if (c.act == kCancel) press(record.cancelButton);
      if (c.act == kClose) guiAppClient()->queueWindowEvent(hostOf(record.window));
      if (c.act == kQuit) guiAppClient()->killCommand();
      if (c.act == kPause) press(record.pauseButton);
    };
    EXPECT_EQ(update(work, 5), c.result);
    if (c.act <= kQuit) {
      EXPECT_LT(std::chrono::steady_clock::now() - pressedAt, std::chrono::seconds(1));
    }
    for (newsFeed* f : work) EXPECT_EQ(f->downloadFailed, c.failed) << f->title.str();
    // 2 s a poll against 5 s: the third unpaused poll fails them, as
    // without the pause.
    EXPECT_EQ(pollsAfterResume, c.act == kPause ? 2 : -1);
    EXPECT_EQ(main->infoQuitRequested(false), c.act == kQuit);
    for (newsFeed* f : work) f->downloadFailed = false;
  }
  for (int i = 0; i < 100 && testing_app::mostOpenAtOnce(log.connections(), false) > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (auto& conn : log.connections()) EXPECT_NE(conn.closed, -1) << conn.path;
}

// A pause while one feed downloads holds the other request's deadline too:
// b1, whose server never answers, is still waiting when a2 begins, and
// fails only later, at the deadline of its own download.
TEST_F(UpdateFeedsTest, APauseWhileDownloadingHoldsTheOtherRequest) {
  const ServedAnswer never{"", 0, 200, 1, 0, true};
  std::vector<newsFeed*> work = feeds("aba", 0, {{"a1", ServedAnswer{body, 0, 200, 4, 150}}, {"b1", never}});
  bool paused = false;
  int b1FailedWhenA2Began = -1;
  user.user = [&](bool waiting) {
    if (waiting) {
      seconds += 100;
      if (user.waits == 2) press(record.resumeButton);
      else guiNotify(undo, hostOf(main));  // dropped
      return;
    }
    seconds += 2;
    const std::string feed = feedText.state().str();
    if (!paused && feed == "(1/3) a1" && progressText.state().str().find(" bytes (") != std::string::npos) {
      paused = true;
      press(record.pauseButton);
    }
    if (b1FailedWhenA2Began < 0 && feed == "(2/3) a2") b1FailedWhenA2Began = work[1]->downloadFailed;
  };
  EXPECT_FALSE(update(work));
  EXPECT_TRUE(paused);
  EXPECT_EQ(user.waits, 2);
  EXPECT_EQ(b1FailedWhenA2Began, 0);
  EXPECT_TRUE(updated(work[0]));
  EXPECT_TRUE(work[1]->downloadFailed);
  EXPECT_TRUE(updated(work[2]));
}

TEST_F(UpdateFeedsTest, EveryFeedEndsUpdatedFailedOrUntouched) {
  // A disabled feed is neither fetched nor counted.
  std::vector<newsFeed*> disabled = feeds("c");
  disabled[0]->disabled = true;
  EXPECT_FALSE(update(disabled));
  EXPECT_TRUE(untouched(disabled[0]));
  EXPECT_EQ(log.requestsFor("/c1"), 0);
  EXPECT_EQ(countLine(), "0 feeds shown (plus 1 disabled)");

  // Feeds that get no downloader fail at the first feed, beside a request
  // in flight and one at a time; a refused request fails its feed. The
  // selection before the update is selected again after it.
  int port = 0;
  ::close(test::listenLoopback(1, &port));
  const std::string refused = "http://127.0.0.1:" + std::to_string(port) + "/r1";
  std::vector<newsFeed*> as = feeds("aa");
  std::vector<newsFeed*> work = {feed("x1", "http://social.example/x1", "Facebook"), as[0],
                                 feed("y1", "http://other.example/y1", "Facebook"), as[1],
                                 feed("z1", hostA.url("/z1"), "Facebook"), feed("r1", refused)};
  select({disabled[0], work[0]});
  std::vector<std::string> names;  // the parser renames the updated ones
  for (newsFeed* f : work) names.push_back(f->title.str());
  EXPECT_FALSE(update(work));
  std::string outcome;
  for (size_t i = 0; i < work.size(); ++i)
    outcome += names[i] + (updated(work[i]) ? "+ " : work[i]->downloadFailed ? "! " : "? ");
  EXPECT_EQ(outcome, "x1! a1+ y1! a2+ z1! r1! ");
  // Each failed feed keeps its reason for the run (its row and Info show it).
  for (newsFeed* f : work) EXPECT_EQ(f->failureReason.empty(), !f->downloadFailed) << f->title.str();
  EXPECT_EQ(work[5]->failureReason.rfind("could not connect to 127.0.0.1:" + std::to_string(port), 0), 0u)
      << work[5]->failureReason;
  EXPECT_EQ(countLine(), "6 feeds shown (plus 1 disabled), but 4 failed to download");
  EXPECT_EQ(selectedFeeds(), "c1 x1 ");
  showNewsItemCountStatus(feedStatus, 0);
  EXPECT_EQ(feedStatus->getState().str(), "0 news items shown");
}

// The Twitter and Facebook modules started against the fake services, the
// root holding tokens they accept, and a stored feed of each.
struct SocialServices {
  struct Modules {
    Modules() {
      twitterModuleNew();
      facebookModuleNew();
    }
    ~Modules() {
      setTwitterSignInHook(nullptr);
      setFacebookSignInHook(nullptr);
      facebookModuleEnd();
      twitterModuleEnd();
      credentialsModuleEnd();
    }
  } modules;
  static test::FakeTwitterApi::Settings twitterSettings() {
    test::FakeTwitterApi::Settings settings;
    settings.consumerSecret = twitterConsumerSecret().str();
    return settings;
  }
  test::FakeTwitterApi twitter{twitterSettings()};
  test::FakeGraphApi graph;
  testing_support::EnvScope twitterBase{"BRINDLEWORK_TWITTER_API", twitter.origin().c_str()};
  testing_support::EnvScope graphBase{"BRINDLEWORK_GRAPH_API", graph.origin().c_str()};
  newsFeed* tweets = nullptr;
  newsFeed* posts = nullptr;
};

class SocialUpdateTest : public UpdateFeedsTest {
 protected:
  void SetUp() override {
    UpdateFeedsTest::SetUp();
    if (IsSkipped()) return;
    social = std::make_unique<SocialServices>();
    social->twitter.acceptToken("userToken", "userSecret");
    social->graph.acceptToken("T");
    db->createdObject(root.get());
    rootStored = true;
    root->twitterToken = Str("userToken");
    root->twitterTokenSecret = Str("userSecret");
    root->facebookAccessToken = Str("T");
    social->tweets = feed("SomeUser", "https://twitter.com/SomeUser", "Twitter v1.1");
    social->tweets->uniqueID = Str("12345");
    social->posts = feed("Some Page", "https://www.facebook.com/SomePage", "Facebook v2.8");
    social->posts->uniqueID = Str("2000");
  }
  void TearDown() override {
    UpdateFeedsTest::TearDown();
    social.reset();
  }
  std::unique_ptr<SocialServices> social;
};

// Twitter and Facebook feeds beside a feed on another host, two requests in
// flight: each social answer may be whole before its downloader is given a
// destination. Every run brings each feed one new item, and every feed takes
// it, as each does alone.
TEST_F(SocialUpdateTest, TwitterAndFacebookBesideOtherHostsAreEachUpdated) {
  newsFeed* tweets = social->tweets;
  newsFeed* posts = social->posts;
  auto itemCount = [&](newsFeed* f) {
    int n = 0;
    for (int32_t i = f->itemList->infoHeadIndex(); i != 0; i = db->readObjectNodeHeader(i).nextIndex) ++n;
    return n;
  };
  std::vector<test::FakeTweet> timeline;
  std::vector<std::string> graphPosts;
  std::vector<newsFeed*> rss;
  for (int run = 1; run <= 20; ++run) {
    SCOPED_TRACE(run);
    const std::string n = std::to_string(run);
    timeline.push_back({run, "tweet " + n, "Wed Aug 27 13:" + std::to_string(10 + run) + ":45 +0000 2008", ""});
    social->twitter.setTweets(timeline);
    graphPosts.insert(graphPosts.begin(), R"({"id":"2000_)" + n + R"(","from":{"id":"2000","name":"Page"},)"
                                          R"("message":"post )" + n + R"(","type":"status","created_time":"2017-06-)" +
                                          std::to_string(10 + run) + R"(T10:00:00+0000"})");
    social->graph.setPosts(graphPosts);
    hostB.put("/b1", ServedAnswer{testing_news::rssFeed(1, run), 0});
    if (rss.empty()) rss.push_back(feed("b1", hostB.url("/b1")));
    // Both social feeds connect beside the RSS feed or beside each other.
    for (std::vector<newsFeed*> order : {std::vector{tweets, posts, rss[0]}, std::vector{rss[0], posts, tweets}}) {
      feedText.history.clear();
      EXPECT_FALSE(update(order));
      bool twoInFlight = false;
      for (const std::string& t : feedText.history) twoInFlight = twoInFlight || t.find(" + ") != std::string::npos;
      EXPECT_TRUE(twoInFlight);
    }
    for (newsFeed* f : {tweets, posts, rss[0]}) {
      EXPECT_FALSE(f->downloadFailed) << f->title.str() << ": " << f->failureReason;
      EXPECT_EQ(itemCount(f), run) << f->title.str();
    }
  }
}

// A token the service refuses starts a sign-in; when the user refuses it in
// the browser, or cancels it, the feed's Info line says which.
TEST_F(SocialUpdateTest, ARefusedOrCancelledSignInIsToldOnTheFeedsLine) {
  root->facebookAccessToken = Str("stale");
  hostB.put("/b1", ServedAnswer{body, 0});
  newsFeed* plain = feed("b1", hostB.url("/b1"));
  for (SignInEnd end : {SignInEnd::kRefused, SignInEnd::kCancelled, SignInEnd::kFailed}) {
    SCOPED_TRACE(static_cast<int>(end));
    int signIns = 0;
    setTwitterSignInHook([&](cHTTP&) {
      ++signIns;
      return TwitterAccessToken{Str(), Str(), kSignInFailed, end};
    });
    setFacebookSignInHook([&] {
      ++signIns;
      return FacebookAccessToken{Str(), end};
    });
    social->twitter.script("timeline", 401);  // the rate-limit check before takes the pair
    EXPECT_FALSE(update({social->tweets, plain, social->posts}));
    EXPECT_EQ(signIns, 2);
    const std::string told = end == SignInEnd::kRefused     ? "the sign-in was refused in the browser"
                             : end == SignInEnd::kCancelled ? "the sign-in was cancelled"
                                                            : "";
    for (newsFeed* f : {social->tweets, social->posts}) {
      EXPECT_TRUE(f->downloadFailed) << f->title.str();
      if (!told.empty()) {
        EXPECT_EQ(f->failureReason, told) << f->title.str();
      } else {  // what the request says
        EXPECT_FALSE(f->failureReason.empty());
        EXPECT_EQ(f->failureReason.find("sign-in"), std::string::npos) << f->failureReason;
      }
    }
    EXPECT_TRUE(updated(plain));
  }
}

TEST_F(UpdateFeedsTest, TheWindowAsBuiltAndAsTheNewsLayerSeesIt) {
  UpdateWindowRecord& r = record;
  EXPECT_EQ(r.window->infoTitle().str(), "Update feeds");
  EXPECT_EQ(r.window->infoSaveID(), guiSaveId("UpdF"));
  EXPECT_TRUE(r.window->infoBuilt());
  EXPECT_FALSE(r.window->infoIsOpen());
  EXPECT_EQ(itemTree(r.window->infoRootGroup()),
            "cGuiGroupVerticalHost[cGuiTextHost:Feed cGuiTextHost:Status cGuiTextHost:Progress "
            "cGuiGroupHorizontalHost[cGuiGroupPageHost[cGuiGroupHorizontalHost[cGuiButtonHost:Pause] "
            "cGuiGroupHorizontalHost[cGuiButtonHost:Resume]] cGuiButtonHost:Cancel]]");
  std::string labels;
  for (cGuiLabelledItem* g : std::initializer_list<cGuiLabelledItem*>{
           r.feedText, r.statusText, r.progressText, r.pauseButton, r.resumeButton, r.cancelButton})
    labels += g->infoLabel().str() + ",";
  EXPECT_EQ(labels, "Feed,Status,Progress,Pause,Resume,Cancel,");
  EXPECT_EQ(r.pauseButton->infoParent()->infoParent(), r.buttonPage);

  // What the news layer writes shows on the gadgets.
  const feedProgressGui& p = r.progress;
  p.feedText->setState("(1/2) A");
  p.stepText->setState("Connecting to feed...");
  p.progressText->setState("12 bytes (50%)");
  p.pauseResumePage->setState(1);
  EXPECT_EQ(r.feedText->getState().str(), "(1/2) A");
  EXPECT_EQ(r.statusText->getState().str(), "Connecting to feed...");
  EXPECT_EQ(p.progressText->state().str(), "12 bytes (50%)");
  EXPECT_EQ(r.buttonPage->getState(), 1);

  // And its polls answer the window's own items.
  struct {
    cGuiButton* button;
    NewsGuiItem* expected;
  } presses[] = {{r.pauseButton, p.pauseButton}, {r.resumeButton, p.resumeButton}, {r.cancelButton, p.cancelButton}};
  for (auto& press : presses) {
    guiNotify(press.button, hostOf(r.window));
    ChangedGuiItem e = windows.checkForChangedGuiItem();
    EXPECT_EQ(e.window, p.window);
    EXPECT_EQ(e.item, press.expected);
  }
  guiAppClient()->queueWindowEvent(hostOf(r.window));
  ChangedGuiItem close = windows.checkForChangedGuiItem();
  EXPECT_EQ(close.window, p.window);
  EXPECT_EQ(close.item, nullptr);
  EXPECT_TRUE(p.window->infoCloseRequested(false));

  cGuiWindow* window = r.window;
  endUpdateWindow(r, windows);
  for (cAppResource* w = guiAppClient()->infoFirstResource(); w; w = w->infoNextResource()) EXPECT_NE(w, window);
  EXPECT_EQ(r.window, nullptr);
  EXPECT_EQ(windows.hostWindow(p.window), nullptr);
  endUpdateWindow(r, windows);  // a cleared record ends nothing
}

TEST(WindowSizes, ContentsBesideTheMainWindowAndDialogsFromTheirOwner) {
  cGuiWindow main, contents, dialog;
  main.setPosition(30, 40);
  main.setSize(1000, 700);
  sizeContentsWindow(&main, &contents);
  EXPECT_EQ(contents.infoWidth(), 500);
  EXPECT_EQ(contents.infoHeight(), 700);
  EXPECT_EQ(contents.getPosition().x, 30);
  EXPECT_EQ(contents.getPosition().y, 40);
  main.setSize(1001, 1);
  sizeContentsWindow(&main, &contents);
  EXPECT_EQ(contents.infoWidth(), 500);

  struct {
    int32_t owner, width;
  } cases[] = {{1000, 640}, {1600, 800}, {1281, 640}, {1283, 641}, {200, 640}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.owner);
    main.setSize(c.owner, 300);
    sizeDialogWindow(&main, &dialog);
    EXPECT_EQ(dialog.infoWidth(), c.width);
    EXPECT_EQ(dialog.infoHeight(), 50);
  }
}

}  // namespace
}  // namespace bw
