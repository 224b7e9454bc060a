// news/add_update_feed_test.cpp - feeds served on the loopback interface,
// added and updated end to end through addUpdateFeed, and every report of a
// download that brought no document.
#include "news/add_update_feed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

#include "news/feed_update_test_support.h"
#include "news/news_config.h"
#include "platform/assigns.h"
#include "platform/dos_env.h"
#include "web/tls_server_test_support.h"

namespace bw::testing_news {
namespace {

using AddUpdate = FeedUpdateTest;

const char* const kFailedAdd = "Failed to download the feed:\n\x1b" "1%s\n%s";

TEST_F(AddUpdate, AddsRssAndAtomFeedsThenUpdatesThem) {
  server.putFeed("/feed.xml", rssFeed(1, 2));
  server.putFeed("/atom.xml", atomFeed(3));
  AddUpdateResult rss = add(server.url("/feed.xml"));
  AddUpdateResult atom = add(server.url("/atom.xml"));
  ASSERT_TRUE(rss.feed && atom.feed);
  EXPECT_FALSE(rss.errorReported || rss.cancelled || rss.windowEvent);
  // Each new feed goes first in the root's list.
  EXPECT_EQ(root->feedList->infoHeadIndex(), atom.feed->infoSoupIndex());
  EXPECT_EQ(root->feedList->infoTailIndex(), rss.feed->infoSoupIndex());
  EXPECT_EQ(rss.feed->url.str(), server.url("/feed.xml"));
  EXPECT_EQ(items(rss.feed).size(), 2u);
  EXPECT_EQ(items(atom.feed).size(), 3u);

  // The same document again stores nothing; a changed one adds its item.
  const int64_t before = syncs();
  EXPECT_EQ(update(rss.feed).feed, rss.feed);
  EXPECT_EQ(items(rss.feed).size(), 2u);
  const int64_t oneCommit = syncs() - before;
  server.putFeed("/feed.xml", rssFeed(1, 3));
  update(rss.feed);
  // One commit per document, whatever it brought.
  EXPECT_EQ(syncs() - before, 2 * oneCommit);
  std::vector<ItemView> now = items(rss.feed);
  ASSERT_EQ(now.size(), 3u);
  EXPECT_EQ(now[0].title, "Item 3");
  EXPECT_TRUE(ui.calls.empty()) << reports()[0];
}

TEST_F(AddUpdate, DeadFeedsFailLoudlyWhenAddedAndQuietlyWhenUpdated) {
  server.putFeed("/feed.xml", rssFeed(1, 1));
  newsFeed* feed = add(server.url("/feed.xml")).feed;
  ASSERT_NE(feed, nullptr);
  const struct {
    const char* status;
    const char* reason;
  } statuses[] = {
      {"404 Not Found", "HTTP 404 Not Found"},
      {"410 Gone", "HTTP 410 Gone: the feed has been removed"},
      {"500 Server Error", "HTTP 500 Server Error"},
  };
  for (const auto& c : statuses) {
    SCOPED_TRACE(c.status);
    ui.calls.clear();
    server.put("/feed.xml", httpReply("<rss version=\"2.0\"><channel/></rss>", c.status));
    AddUpdateResult added = add(server.url("/feed.xml"));
    EXPECT_TRUE(added.errorReported);
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].title, "Add feed");
    EXPECT_EQ(ui.calls[0].text, kFailedAdd);
    EXPECT_EQ(ui.calls[0].filled(), "Failed to download the feed:\n\x1b" "1" + server.url("/feed.xml") + "\n" + c.reason);

    AddUpdateResult updated = update(feed);
    EXPECT_EQ(updated.feed, nullptr);
    EXPECT_FALSE(updated.errorReported);
    EXPECT_EQ(ui.calls.size(), 1u);
    EXPECT_TRUE(feed->downloadFailed);
    EXPECT_EQ(updated.failure, c.reason);
    EXPECT_EQ(feed->failureReason, c.reason);
  }
  // A whole answer without a byte, with or without its length, is empty.
  for (bool length : {true, false}) {
    ui.calls.clear();
    server.put("/feed.xml", httpReply("", "200 OK", length));
    add(server.url("/feed.xml"));
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].filled(),
              "Failed to download the feed:\n\x1b" "1" + server.url("/feed.xml") + "\nthe document is empty");
    EXPECT_EQ(update(feed).failure, "the document is empty");
  }
  server.putFeed("/feed.xml", rssFeed(1, 2));
  AddUpdateResult healed = update(feed);
  EXPECT_EQ(healed.feed, feed);
  EXPECT_TRUE(healed.failure.empty());
  EXPECT_FALSE(feed->downloadFailed);
  EXPECT_EQ(feed->failureReason, "the document is empty");  // the last failure stays known
}

TEST_F(AddUpdate, DocumentsNoParserTakesAreFlushedWithoutAMessage) {
  const struct {
    const char* document;
    const char* reason;  // for the caller to tell
  } documents[] = {
      {"<rss version=\"1.0\"><channel><title>t</title><link>http://x/</link></channel></rss>",
       "this feed's format (RSS 1.0) is not supported"},
      {"<rdf:RDF><channel><title>t</title></channel></rdf:RDF>", "this feed's format (RSS 1.0) is not supported"},
      {"<feed xmlns=\"http://purl.org/atom/ns#\" version=\"0.3\"><title>t</title></feed>",
       "this feed's format (Atom 0.3) is not supported"},
      {"<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
       "xmlns=\"http://my.netscape.com/rdf/simple/0.9/\"><channel><title>t</title></channel></rdf:RDF>",
       "this feed's format (RSS 0.90) is not supported"},
      {"<a:feed xmlns:a=\"http://purl.org/atom/ns#\"><a:title>t</a:title></a:feed>",
       "this feed's format (Atom 0.3) is not supported"},
      // Atom 1.0 by another name space is no Atom.
      {"<atom:feed xmlns:atom=\"http://example.org/Atom\"><atom:title>t</atom:title></atom:feed>",
       "the document is not an RSS or Atom feed"},
      // The first row present decides: "rss" wins over a good Atom feed.
      {"<rss version=\"9\"/><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>t</title></feed>",
       "this feed's format (RSS 9) is not supported"},
      {"<html><head><title>t</title></head><body/></html>", "the page is HTML, not a feed"},
  };
  for (const auto& d : documents) {
    SCOPED_TRACE(d.document);
    server.putFeed("/doc.xml", d.document);
    AddUpdateResult r = add(server.url("/doc.xml"));
    EXPECT_EQ(r.feed, nullptr);
    EXPECT_FALSE(r.errorReported || r.cancelled);
    EXPECT_EQ(r.failure, d.reason);
  }
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_EQ(root->feedList->infoHeadIndex(), 0);
}

TEST_F(AddUpdate, FeedsOfEveryReadFormAreAddedWithoutAWord) {
  const struct {
    const char* path;
    const char* document;
    const char* type;
  } feeds[] = {
      {"/prefixed.xml",
       "<atom:feed xmlns:atom=\"http://www.w3.org/2005/Atom\"><atom:title>t</atom:title><atom:id>urn:p</atom:id>"
       "<atom:entry><atom:id>e1</atom:id><atom:title>one</atom:title></atom:entry></atom:feed>",
       "Atom"},
      {"/linkless.xml", "<rss version=\"2.0\"><channel><title>t</title><item><guid>i</guid></item></channel></rss>",
       "RSS 2.0"},
      {"/unversioned.xml", "<rss><channel><title>t</title><link>http://x/</link><item><guid>i</guid></item></channel></rss>",
       "RSS 2.0"},
      {"/atomless.xml",
       "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>t</title><entry><id>e</id></entry></feed>", "Atom"},
  };
  for (const auto& f : feeds) {
    SCOPED_TRACE(f.path);
    server.putFeed(f.path, f.document);
    AddUpdateResult r = add(server.url(f.path));
    ASSERT_NE(r.feed, nullptr) << r.failure;
    EXPECT_EQ(r.feed->type, f.type);
    EXPECT_EQ(items(r.feed).size(), 1u);
    EXPECT_EQ(update(r.feed).feed, r.feed);
    EXPECT_EQ(items(r.feed).size(), 1u);
  }
  EXPECT_TRUE(ui.calls.empty()) << reports()[0];
}

TEST_F(AddUpdate, ARedirectedFeedRecordsAndNamesItsNewAddress) {
  server.put("/old.xml", httpReply("", "301 Moved Permanently", true, "Location: /new.xml\r\n"));
  server.putFeed("/new.xml", rssFeed(1, 1));
  newsFeed* feed = add(server.url("/old.xml")).feed;
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(feed->url.str(), server.url("/new.xml"));
  // Messages name the new address too: a moved page announcing no feed.
  server.put("/oldpage", httpReply("", "301 Moved Permanently", true, "Location: /newpage\r\n"));
  server.putFeed("/newpage", "<html><head><title>x</title></head><body><p>y</div></html>");
  add(server.url("/oldpage"));
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].filled(), "No news feed found for:\n\x1b" "1" + server.url("/newpage"));
}

// A feed moved permanently from https to http is read from there, but its
// address stays the https one, when it is added and when it is updated.
TEST_F(AddUpdate, AMoveFromHttpsToHttpIsNeverRecorded) {
  test::TlsStreams tls;
  ASSERT_TRUE(tls.ready());
  test::CurlCaBundle trusted(tls.certificate());
  server.putFeed("/plain.xml", rssFeed(1, 2));
  const std::string moved = "HTTP/1.0 301 Moved Permanently\r\nLocation: " + server.url("/plain.xml") + "\r\n\r\n";
  test::LoopbackServer secure(test::Reply{{moved}}, 2, false, tls.maker());
  newsFeed* feed = add(secure.url("feed.xml")).feed;
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(items(feed).size(), 2u);
  EXPECT_EQ(feed->url.str(), secure.url("feed.xml"));
  server.putFeed("/plain.xml", rssFeed(1, 3));
  EXPECT_EQ(update(feed).feed, feed);
  EXPECT_EQ(items(feed).size(), 3u);
  EXPECT_EQ(feed->url.str(), secure.url("feed.xml"));
}

TEST_F(AddUpdate, TheProgressWindowFollowsTheDownload) {
  ScriptedProgress p;
  server.putFeed("/feed.xml", rssFeed(1, 2));
  const std::string body = rssFeed(1, 2);
  newsFeed* feed = add(server.url("/feed.xml"), &p.gui).feed;
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(p.feedText.shown, server.url("/feed.xml"));
  EXPECT_EQ(p.stepText.history, (std::vector<std::string>{"Downloading feed...", "Parsing...",
                                                           "Scanning for new items...", "Writing to disk...", ""}));
  EXPECT_EQ(p.window.busyHistory, (std::vector<bool>{true, false}));
  const std::vector<std::string>& shown = p.progressText.history;
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown.front(), "connecting");
  const std::string full = std::to_string(body.size()) + " bytes (100%)";
  auto last = std::find(shown.begin(), shown.end(), full);
  ASSERT_NE(last, shown.end());
  EXPECT_EQ(*(last + 1), "");
  EXPECT_EQ(*(last + 2), "Parsing feed");
  for (auto it = shown.begin(); it != last; ++it) EXPECT_TRUE(*it == "connecting" || it->find(" bytes (") != std::string::npos) << *it;

  // Without a length, and with a length of 0: bytes without a percentage;
  // several feeds get the "(n/m) " prefix.
  for (bool zero : {false, true}) {
    ScriptedProgress q;
    server.put("/feed.xml", zero ? httpReply(body, "200 OK", false, "Content-Length: 0\r\n")
                                 : httpReply(body, "200 OK", false));
    addUpdateFeed(*db, *root, nullptr, nullptr, feed->url, feed, &q.gui, 2, 5);
    EXPECT_EQ(q.feedText.shown, "(2/5) " + feed->infoName(nullptr).str());
    const std::vector<std::string>& h = q.progressText.history;
    EXPECT_NE(std::find(h.begin(), h.end(), zero ? "0 bytes" : std::to_string(body.size()) + " bytes"), h.end())
        << ::testing::PrintToString(h);
  }
}

// A downloader that finishes after `steps` steps with a fixed outcome.
class FakeDownloader : public downloadFeed {
 public:
  FakeDownloader(int32_t kind, int steps = 1) : kind_(kind), steps_(steps) {}
  DownloadStep saveAppend(bool, fHttpSaveCallback*) override {
    if (onStep) onStep();
    return {0, ++calls >= steps_, 0};
  }
  FeedDocument getDocument(bool) override { return {nullptr, kind_, Str()}; }
  ParseFailure infoParseFailure() const override { return {Str("<bad>document"), 7, Str("bad thing")}; }
  int calls = 0;
  std::function<void()> onStep;

 private:
  int32_t kind_;
  int steps_;
};

TEST_F(AddUpdate, EveryKindOfFailureHasItsWords) {
  const struct {
    int32_t kind;
    const char* text;
  } cases[] = {
      {1, "Downloading failed for:\n\x1b" "1u\nthe download failed"},
      {2, "Downloading failed for:\n\x1b" "1u\nthe download failed"},
      {3, "No news feed found for:\n\x1b" "1u"},
      {5, "An unknown error occured for:\n\x1b" "1u"},
      {6, "Authentication failed for:\n\x1b" "1u"},
      {7, "Temporarily blocked by server, due to sending too many requests, for:\n\x1b" "1u"},
      {9, "Error 9 occured, but I don't know how to report it...\nPlease report this error!"},
  };
  for (const auto& c : cases) {
    ui.calls.clear();
    FakeDownloader d(c.kind);
    AddUpdateResult r = addUpdateFeed(*db, *root, nullptr, &d, "u", nullptr, nullptr, 1, 1);
    EXPECT_TRUE(r.errorReported && !r.cancelled);
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].title, "Add feed");
    EXPECT_EQ(ui.calls[0].filled(), c.text);
  }
  // Kind 0 without a document: the user cancelled in the chooser.
  ui.calls.clear();
  FakeDownloader cancelled(0);
  AddUpdateResult r = addUpdateFeed(*db, *root, nullptr, &cancelled, "u", nullptr, nullptr, 1, 1);
  EXPECT_TRUE(r.cancelled && r.errorReported);
  EXPECT_TRUE(ui.calls.empty());
}

// A feed's broken document is its own fault: the message says what is
// wrong and where the document was kept in the data folder, and asks no
// one to report it.
TEST_F(AddUpdate, ADocumentThatFailsToParseIsKeptInTheDataFolder) {
  server.putFeed("/feed.xml", rssFeed(1, 1));
  newsFeed* feed = add(server.url("/feed.xml")).feed;
  ASSERT_NE(feed, nullptr);
  const std::string bad = "<rss version=\"2.0\">\n<channel>\n<title>a & b</b>";
  server.putFeed("/feed.xml", bad);
  ScriptedProgress p;
  struct Case {
    bool adding;
    feedProgressGui* gui;
    std::string text;
    std::vector<std::string> feedLine;
  } cases[] = {
      {true, nullptr,
       "Parsing error on line %ld:\n\x1b" "1%s\nThe bad document has been written to:\n\x1b" "1%s", {}},
      // The window's feed line, highlighted by the text, not by an argument.
      {false, &p.gui,
       "Parsing error on line %ld:\n\x1b" "1%s\nfor the feed:\n\x1b" "1%s\nThe bad document has been written "
       "to:\n\x1b" "1%s",
       {"(1/2) Served"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gui ? "window" : "adding");
    ui.calls.clear();
    AddUpdateResult r = c.adding ? add(server.url("/feed.xml"))
                                 : addUpdateFeed(*db, *root, nullptr, nullptr, feed->url, feed, c.gui, 1, 2);
    EXPECT_EQ(r.feed, nullptr);
    EXPECT_TRUE(r.errorReported);
    EXPECT_EQ(r.failure.rfind("not valid XML: ", 0), 0u) << r.failure;
    EXPECT_NE(r.failure.find(" at line 3"), std::string::npos) << r.failure;
    ASSERT_EQ(ui.calls.size(), 1u);
    const ScriptedNewsUi::Call& call = ui.calls[0];
    EXPECT_EQ(call.title, c.adding ? "Add feed" : "Update feed");
    EXPECT_EQ(call.text, c.text);
    ASSERT_EQ(call.parameters.size(), 3u + c.feedLine.size());
    EXPECT_EQ(std::get<int64_t>(call.parameters[0]), 3);
    EXPECT_EQ(std::get<std::string>(call.parameters[1]), r.failure);
    for (size_t i = 0; i < c.feedLine.size(); ++i) EXPECT_EQ(std::get<std::string>(call.parameters[2 + i]), c.feedLine[i]);
    for (const auto& parameter : call.parameters) {
      if (const auto* text = std::get_if<std::string>(&parameter)) {
        EXPECT_EQ(text->find('\x1b'), std::string::npos) << *text;
      }
    }
    const std::string path = std::get<std::string>(call.parameters.back());
    EXPECT_EQ(path, r.badDocument);
    EXPECT_EQ(path.rfind(dataFolder.path() + "/BadNewsFeed_", 0), 0u) << path;
    EXPECT_EQ(badDocument(call), bad);
  }
  // Shell mode: nothing reported here, the caller tells the reason and the
  // file; the feed's next bad document replaces its last.
  ui.calls.clear();
  AddUpdateResult shell = update(feed);
  AddUpdateResult again = update(feed);
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_EQ(shell.badDocument, again.badDocument);
  EXPECT_EQ(test::readFile(shell.badDocument), bad);
  EXPECT_TRUE(feed->downloadFailed);
  EXPECT_EQ(feed->failureReason, shell.failure);
  std::remove(shell.badDocument.c_str());
}

TEST_F(AddUpdate, AnHtmlPageIsToldAsSuch) {
  server.putFeed("/feed.xml", rssFeed(1, 1));
  newsFeed* feed = add(server.url("/feed.xml")).feed;
  ASSERT_NE(feed, nullptr);
  server.putFeed("/feed.xml", "\n<!-- error -->\n<!DOCTYPE html>\n<html><body><p>Server error<br></body></html>");
  AddUpdateResult r = update(feed);
  EXPECT_EQ(r.failure, "the page is HTML, not a feed");
  std::remove(r.badDocument.c_str());
}

TEST_F(AddUpdate, AParseFailureIsReportedEvenWhenTheFileCannotBeMade) {
  // The data folder is a regular file: nothing can be created in it.
  test::ScratchDir scratch;
  test::writeFile(scratch.file("plain"), "x");
  dos::assignRemove("PROGDIR");
  dos::assignAdd("PROGDIR", scratch.file("plain"));
  FakeDownloader d(kFeedParseFailed);
  AddUpdateResult r = addUpdateFeed(*db, *root, nullptr, &d, "u", nullptr, nullptr, 1, 1);
  EXPECT_TRUE(r.errorReported);
  EXPECT_TRUE(r.badDocument.empty());
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].filled(), "Parsing error on line 7:\n\x1b" "1not valid XML: bad thing at line 7\n");
}

TEST_F(AddUpdate, PauseResumeCancelAndWindowEvents) {
  ScriptedProgress p;
  ScriptedProgressWindow other;
  NewsGuiItem otherButton;
  // Paused: no step is made until Resume.
  FakeDownloader d(kFeedNoBody, 3);
  bool stepWhilePaused = false;
  d.onStep = [&] { stepWhilePaused |= p.progressText.shown.find("(paused)") != std::string::npos; };
  ui.events = {p.press(p.pause), {&otherButton, &other}, p.press(p.cancel), p.press(p.resume)};
  AddUpdateResult r = addUpdateFeed(*db, *root, nullptr, &d, "u", nullptr, &p.gui, 1, 1);
  EXPECT_FALSE(stepWhilePaused);
  // The cancel while paused counts, and tells nothing; the other window's
  // event is dropped.
  EXPECT_TRUE(r.cancelled);
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_EQ(p.progressText.history,
            (std::vector<std::string>{"connecting", "connecting (paused)", ""}));

  FakeDownloader resumed(kFeedNoBody, 3);
  ui.events = {p.press(p.pause), p.press(p.resume)};
  p.progressText.history.clear();
  r = addUpdateFeed(*db, *root, nullptr, &resumed, "u", nullptr, &p.gui, 1, 1);
  EXPECT_FALSE(r.cancelled);
  EXPECT_EQ(resumed.calls, 3);
  EXPECT_EQ(p.progressText.history,
            (std::vector<std::string>{"connecting", "connecting (paused)", "connecting", ""}));
  EXPECT_EQ(p.page.pages, (std::vector<int32_t>{1, 1, 0}));

  // Close and quit requests end the download and are passed on.
  for (bool quit : {false, true}) {
    FakeDownloader slow(kFeedNoBody, 100);
    p.window.closeRequested = !quit;
    p.window.quitRequested = quit;
    ui.events = {{nullptr, &p.window}};
    ui.calls.clear();
    r = addUpdateFeed(*db, *root, nullptr, &slow, "u", nullptr, &p.gui, 1, 1);
    EXPECT_TRUE(r.cancelled && r.windowEvent);
    EXPECT_FALSE(p.window.closeRequested);  // read and cleared
    EXPECT_EQ(p.window.quitRequested, quit);  // read and kept for the caller
    EXPECT_TRUE(ui.calls.empty());  // the user's own cancel is no failure
    EXPECT_TRUE(r.failure.empty());
  }
}

TEST_F(AddUpdate, ShellModeLeavesCtrlCToItsLoop) {
  dos::installBreakHandler();
  server.put("/feed.xml", test::Reply{{httpReply(rssFeed(1, 2)).segments[0].substr(0, 60),
                                       httpReply(rssFeed(1, 2)).segments[0].substr(60)},
                                      100});
  dos::checkBreak();
  std::thread ctrlC([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ::raise(SIGINT);
  });
  newsFeed* feed = add(server.url("/feed.xml")).feed;
  ctrlC.join();
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(items(feed).size(), 2u);
  EXPECT_TRUE(dos::checkBreak());
  EXPECT_EQ(update(feed).feed, feed);
  EXPECT_TRUE(ui.calls.empty());
  dos::endDosLayer();
}

// A clock that moves a step each time it is read.
struct SteppingClock {
  explicit SteppingClock(int64_t step) {
    setClockSource([this, step] { return ClockReading{now += step, 0, false}; });
  }
  ~SteppingClock() { setClockSource([] { return ClockReading{kNowUnix, 0, false}; }); }
  int64_t now = kNowUnix;
};

// The items of one document were downloaded together: one time for all,
// read while the document was taken in, though the clock moves at every
// reading.
TEST_F(AddUpdate, TheItemsOfOneDocumentShareTheirDownloadTime) {
  server.putFeed("/feed.xml", rssFeed(1, 6));
  server.putFeed("/atom.xml", atomFeed(5));
  SteppingClock clock(1);
  for (const char* path : {"/feed.xml", "/atom.xml"}) {
    SCOPED_TRACE(path);
    const bigTime start = pTime::CurrentTime(0);
    AddUpdateResult added = add(server.url(path));
    const bigTime end = pTime::CurrentTime(0);
    ASSERT_TRUE(added.feed);
    const std::vector<ItemView> stored = items(added.feed);
    ASSERT_GE(stored.size(), 5u);
    for (const ItemView& v : stored) EXPECT_EQ(v.downloaded, stored[0].downloaded) << v.title;
    EXPECT_GT(stored[0].downloaded, start);
    EXPECT_LT(stored[0].downloaded, end);
  }
}

TEST_F(AddUpdate, AStalledServerFailsAfterAMinuteWithoutProgress) {
  const std::string feed = httpReply(rssFeed(1, 20)).segments[0];
  server.put("/silent.xml", test::Reply{{}, 0, true, 8000});
  server.put("/half.xml", test::Reply{{feed.substr(0, feed.size() / 2)}, 0, true, 8000});
  for (const char* path : {"/silent.xml", "/half.xml"}) {
    SCOPED_TRACE(path);
    ui.calls.clear();
    SteppingClock clock(5);
    const auto started = std::chrono::steady_clock::now();
    AddUpdateResult r = add(server.url(path));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(7));  // before cHTTP's own limit
    EXPECT_EQ(r.feed, nullptr);
    EXPECT_EQ(r.failure, "the server did not answer within 60 s");
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].text, kFailedAdd);
  }
}

// While paused the clock jumps far ahead: that time is not a stall.
TEST_F(AddUpdate, PausedTimeIsNoStall) {
  server.put("/silent.xml", test::Reply{{}, 0, true, 8000});
  ScriptedProgress p;
  SteppingClock clock(5);
  int64_t resumedAt = 0;
  struct PausingUi : ScriptedNewsUi {
    std::function<void()> onWait;
    ChangedGuiItem waitForChangedGuiItem() override {
      onWait();
      return ScriptedNewsUi::waitForChangedGuiItem();
    }
  } pausing;
  pausing.onWait = [&] {
    clock.now += 1000;
    resumedAt = clock.now;
  };
  pausing.events = {p.press(p.pause), p.press(p.resume)};
  DownloaderMade made = createDownloaderForURL(*root, Str(server.url("/silent.xml")), nullptr, nullptr);
  AddUpdateResult r =
      addUpdateFeed(*db, *root, nullptr, made.downloader.get(), Str(server.url("/silent.xml")), nullptr, &p.gui, 1, 1);
  EXPECT_EQ(r.feed, nullptr);
  EXPECT_GE(clock.now - resumedAt, kNoProgressSeconds);
}

TEST_F(AddUpdate, PercentagesOfALargeBodyStayBetweenZeroAndAHundred) {
  const std::string big = rssFeed(1, 1) + std::string(50 << 20, ' ');
  server.put("/big.xml", httpReply(big));
  ScriptedProgress p;
  newsFeed* feed = add(server.url("/big.xml"), &p.gui).feed;
  EXPECT_NE(feed, nullptr);
  int64_t last = 0;
  int shown = 0;
  for (const std::string& t : p.progressText.history) {
    const size_t open = t.find(" bytes (");
    if (open == std::string::npos) continue;
    const int64_t percent = std::stoll(t.substr(open + 8));
    EXPECT_TRUE(percent >= last && percent <= 100) << t;
    last = percent;
    ++shown;
  }
  EXPECT_EQ(last, 100);
  EXPECT_GT(shown, 100);
}

TEST_F(AddUpdate, HttpsFeedsWithTheirCertificateChecked) {
  const std::string missing = test::TlsFileServer::missingTool();
  if (!missing.empty()) GTEST_SKIP() << missing;
  test::TlsFileServer tls(10);
  ASSERT_GT(tls.port(), 0);
  tls.put("feed.xml", rssFeed(1, 2));
  // Not trusted: the download fails.
  AddUpdateResult refused = add(tls.url("feed.xml"));
  EXPECT_EQ(refused.feed, nullptr);
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].text, kFailedAdd);

  test::CurlCaBundle trusted(tls.certificate());
  ui.calls.clear();
  newsFeed* feed = add(tls.url("feed.xml")).feed;
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(items(feed).size(), 2u);
  // An error status over https fails like one over http: loudly when
  // adding, quietly when updating (the feed has moved to a server that
  // answers 404).
  test::TlsStreams streams;
  ASSERT_TRUE(streams.ready());
  test::CurlCaBundle scripted(streams.certificate());
  test::LoopbackServer gone(test::Reply{{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}}, 2, false,
                            streams.maker());
  ui.calls.clear();
  EXPECT_EQ(add(gone.url("gone.xml")).feed, nullptr);
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].text, kFailedAdd);
  feed->url = Str(gone.url("feed.xml"));
  EXPECT_EQ(update(feed).feed, nullptr);
  EXPECT_TRUE(feed->downloadFailed);
  EXPECT_EQ(ui.calls.size(), 1u);
}

// The documents the feed validator's cases expect a well-formedness error
// from, served as feeds: those our reader refuses are kept byte for byte
// in RAM:; the others it reads leniently (unknown entities, missing
// namespace declarations).
TEST_F(AddUpdate, MalformedCorpusFeedsAreKeptByteForByte) {
  const std::filesystem::path dir = std::filesystem::path(BRINDLEWORK_TESTDATA_DIR) / "feeds/feedvalidator";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no corpus at " << dir;
  const struct {
    const char* file;
    bool refused;  // by our reader: kind 4
  } cases[] = {
      {"rss/must/rss91u_entity.xml", false},
      {"rss/must/missing_namespace.xml", false},
      {"rss/must/invalid_xml.xml", true},
      {"rss/must/missing_namespace2.xml", false},
      {"rss/must/invalid_namespace2.xml", false},
      {"rss/must/missing_namespace_attr_only.xml", false},
      {"rss20/data-types-characterdata/amp-HEX-upper.xml", false},
      {"atom/must/invalid_xml.xml", true},  // its feed element is never closed
      {"atom/must/feed_namespace_missing_dc.xml", false},
      {"atom/3.1.1.3/xhtml_named_entity.xml", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string bytes = test::readFile((dir / c.file).string());
    ui.calls.clear();
    server.putFeed("/sax.xml", bytes);
    add(server.url("/sax.xml"));
    const bool refused = !ui.calls.empty() && ui.calls[0].text.rfind("Parsing error", 0) == 0;
    EXPECT_EQ(refused, c.refused);
    if (refused) {
      EXPECT_EQ(badDocument(ui.calls[0]), bytes);
    }
  }
}

}  // namespace
}  // namespace bw::testing_news
