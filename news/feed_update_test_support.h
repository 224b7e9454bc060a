// news/feed_update_test_support.h - the fixture of the download and update
// tests: the parser fixture's database, root and scripted interface, a
// loopback server answering by path, a scripted progress window, and verbs
// that add and update feeds through addUpdateFeed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "news/feed_parse_test_support.h"
#include "platform/assigns.h"
#include "web/http_test_support.h"

namespace bw::testing_news {

class ScriptedProgressWindow : public NewsGuiWindow {
 public:
  void setBusy(bool busy) override { busyHistory.push_back(busy); }
  bool infoCloseRequested(bool keep) override {
    bool r = closeRequested;
    if (!keep) closeRequested = false;
    return r;
  }
  bool infoQuitRequested(bool keep) override {
    bool r = quitRequested;
    if (!keep) quitRequested = false;
    return r;
  }
  int32_t infoWidth() const override { return 400; }
  int32_t infoHeight() const override { return 200; }
  std::vector<bool> busyHistory;
  bool closeRequested = false;
  bool quitRequested = false;
};

class ScriptedPage : public NewsGuiPageGroup {
 public:
  void setState(int32_t page) override { pages.push_back(page); }
  std::vector<int32_t> pages;
};

// The progress window record over scripted items.
struct ScriptedProgress {
  ScriptedProgressWindow window;
  ScriptedText feedText, stepText, progressText;
  ScriptedPage page;
  NewsGuiItem pause, resume, cancel;
  feedProgressGui gui{&window, &feedText, &stepText, &progressText, &page, &pause, &resume, &cancel};
  ChangedGuiItem press(NewsGuiItem& item) { return {&item, &window}; }
};

// An HTTP response with a body (and a Content-Length unless told not to).
inline test::Reply httpReply(const std::string& body, const std::string& status = "200 OK", bool length = true,
                             const std::string& extra = "") {
  std::string head = "HTTP/1.0 " + status + "\r\n" + extra;
  if (length) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return test::Reply{{head + "\r\n" + body}};
}

// A server on 127.0.0.1 answering each request by its path from a table
// that tests may change between requests; unknown paths get a 404. One
// connection at a time, in a thread of the test, until it is destroyed.
class FeedServer {
 public:
  FeedServer() {
    listener_ = test::listenLoopback(64, &port_);
    thread_ = std::thread([this] { run(); });
  }
  ~FeedServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  FeedServer(const FeedServer&) = delete;
  FeedServer& operator=(const FeedServer&) = delete;

  void put(const std::string& path, test::Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[path] = std::move(reply);
  }
  void putFeed(const std::string& path, const std::string& body) { put(path, httpReply(body)); }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int hits(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return hits_[path];
  }

 private:
  void run() {
    while (!stop_) {
      pollfd p = {listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const std::string request = test::LoopbackServer::readRequest(fd);
      const size_t start = request.find(' ') + 1;
      const std::string path = request.substr(start, request.find(' ', start) - start);
      test::Reply reply;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++hits_[path];
        auto it = replies_.find(path);
        reply = it != replies_.end() ? it->second : httpReply("gone", "404 Not Found");
      }
      for (size_t s = 0; s < reply.segments.size() && !stop_; ++s) {
        if (s > 0 && reply.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
        if (!test::sendAll(fd, reply.segments[s].data(), reply.segments[s].size())) break;
      }
      // Held open until the time is up or the client goes away.
      for (int waited = 0; waited < reply.holdOpenMs && !stop_; waited += 10) {
        pollfd h = {fd, POLLIN, 0};
        char byte;
        if (::poll(&h, 1, 10) > 0 && ::recv(fd, &byte, 1, 0) <= 0) break;
      }
      ::close(fd);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::map<std::string, test::Reply> replies_;
  std::map<std::string, int> hits_;
};

class FeedUpdateTest : public FeedParseTest {
 protected:
  // The data folder, where documents that fail to parse are kept.
  void SetUp() override {
    FeedParseTest::SetUp();
    dos::assignRemove("PROGDIR");
    dos::assignAdd("PROGDIR", dataFolder.path());
  }
  void TearDown() override {
    removeBadDocuments();
    dos::resetAssigns();
    FeedParseTest::TearDown();
  }
  // The bytes of the bad-document file a parse-error report names (then
  // removed); "<no file>" when it names none.
  static std::string badDocument(const ScriptedNewsUi::Call& call) {
    if (call.text.find("The bad document") == std::string::npos) return "<no file>";
    const std::string path = std::get<std::string>(call.parameters.back());
    std::string bytes = test::readFile(path);
    std::remove(path.c_str());
    return bytes;
  }
  void removeBadDocuments() {
    for (const auto& c : ui.calls) {
      if (c.text.find("The bad document") != std::string::npos) badDocument(c);
    }
  }
  // Adds the feed at url as the add-feed dialog does.
  AddUpdateResult add(const std::string& url, feedProgressGui* gui = nullptr) {
    DownloaderMade made = createDownloaderForURL(*root, Str(url), nullptr, gui ? gui->window : nullptr);
    if (!made.downloader) {
      ADD_FAILURE() << "no downloader for " << url;
      return {};
    }
    return addUpdateFeed(*db, *root, nullptr, made.downloader.get(), Str(url), nullptr, gui, 1, 1);
  }
  AddUpdateResult update(newsFeed* feed, feedProgressGui* gui = nullptr) {
    return addUpdateFeed(*db, *root, nullptr, nullptr, feed->url, feed, gui, 1, 1);
  }
  // The syncs the database's backend has made.
  int64_t syncs() const {
    return std::count_if(backend->log().begin(), backend->log().end(),
                         [](const RecordedOp& op) { return op.kind == RecordedOp::kSync; });
  }
  // The texts of the reports made so far, filled.
  std::vector<std::string> reports() const {
    std::vector<std::string> out;
    for (const auto& c : ui.calls) out.push_back(c.filled());
    return out;
  }
  test::ScratchDir dataFolder;
  FeedServer server;
};

// An RSS 2.0 feed with items "1".."n" (guids g1..gn).
inline std::string rssFeed(int first, int last, const std::string& link = "http://example.org/") {
  std::string items;
  for (int i = last; i >= first; --i) {
    const std::string n = std::to_string(i);
    items += "<item><title>Item " + n + "</title><link>" + link + n + "</link><guid>g" + n + "</guid></item>";
  }
  return rssDocument("<title>Served</title><link>" + link + "</link>" + items);
}

inline std::string atomFeed(int count) {
  std::string entries;
  for (int i = count; i >= 1; --i) {
    const std::string n = std::to_string(i);
    entries += "<entry><title>Entry " + n + "</title><id>urn:e" + n + "</id><link href=\"http://example.net/" + n +
               "\"/><updated>2026-02-0" + n + "T10:00:00Z</updated></entry>";
  }
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Atom "
         "served</title><id>urn:feed</id><link href=\"http://example.net/\"/>" + entries + "</feed>";
}

}  // namespace bw::testing_news
