// app/feed_commands_test_support.h - the fixture of the feed command tests:
// a scratch program folder with a database whose feeds are loaded in the
// root's chain, as the running program keeps them, plus a display charset,
// a scripted interface and a run of another program (xmllint, newsboat).
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "app/feed_list.h"
#include "app/gui_user_test_support.h"
#include "app/update_window.h"
#include "database/object_soup.h"
#include "gui/gui_list.h"
#include "gui/gui_test_support.h"
#include "gui/host/core/gui_native_items.h"
#include "gui/host/gui_app_client.h"
#include "platform/app_host.h"
#include "news/ui_seam_test_support.h"
#include "platform/spawn.h"
#include "web/http_test_support.h"

namespace bw::testing_app {

class FeedCommandTest : public ProgramTest {
 protected:
  // Opens "database.soup" (made when missing), loads every feed into the
  // chain, runs fn and gives everything back.
  void withFeeds(const std::function<void(cJournaledIndexedObjectSoupDatabase&, newsRoot&)>& fn) {
    withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      loadChain(db, root);
      charset = newSystemEncoding();
      try {
        fn(db, root);
      } catch (...) {
        unloadChain(db, root);
        throw;
      }
      unloadChain(db, root);
      charset.reset();
    });
  }
  static void loadChain(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    newsFeed** link = &root.firstLoadedFeed;
    for (int32_t index = root.feedList->infoHeadIndex(); index != 0;) {
      newsFeed* feed = loadObject_newsFeed(db, index);
      *link = feed;
      link = &feed->nextLoadedFeed;
      index = feed->infoNextIndex();
    }
  }
  static void unloadChain(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    newsFeed* feed = root.firstLoadedFeed;
    root.firstLoadedFeed = nullptr;
    while (feed) {
      newsFeed* next = feed->nextLoadedFeed;
      feed->nextLoadedFeed = nullptr;
      if (db.isOpen()) db.unloadObject(feed);
      feed = next;
    }
  }
  static std::vector<newsFeed*> chain(newsRoot& root) {
    std::vector<newsFeed*> feeds;
    for (newsFeed* f = root.firstLoadedFeed; f; f = f->nextLoadedFeed) feeds.push_back(f);
    return feeds;
  }
  static std::vector<std::string> names(newsRoot& root, const cEncoding& charset) {
    std::vector<std::string> out;
    for (newsFeed* f : chain(root)) out.emplace_back(f->infoName(&charset).view());
    return out;
  }

  std::unique_ptr<cEncoding> charset;
};

// The exit code and standard output of a program run from an argument
// vector, with HOME set to home when given (so that a peer reader keeps its
// files in the scratch folder); code -1 when it is not installed.
struct ProgramOutput {
  int code = -1;
  std::string out;
};
inline ProgramOutput runProgram(const std::vector<std::string>& argv, const std::string& home = "") {
  ProgramOutput result;
  if (findExecutable(argv[0], executableSearchPath()).empty()) return result;
  const char* oldHome = std::getenv("HOME");
  const std::string kept = oldHome ? oldHome : "";
  if (!home.empty()) ::setenv("HOME", home.c_str(), 1);
  SpawnOptions options;
  options.in = SpawnStdio::kNull;
  options.out = SpawnStdio::kPipe;
  options.err = SpawnStdio::kNull;
  SpawnResult spawned = spawnProcess(argv, options);
  if (!home.empty()) oldHome ? ::setenv("HOME", kept.c_str(), 1) : ::unsetenv("HOME");
  if (spawned.error) return result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(spawned.child.stdoutFd(), buffer, sizeof buffer)) > 0;) result.out.append(buffer, n);
  ExitStatus status = spawned.child.wait();
  result.code = status.exited ? status.code : 128 + status.signal;
  return result;
}

}  // namespace bw::testing_app

namespace bw::testing_app {

// The GUI host on the offscreen platform for the length of a scope, inside
// started modules.
class GuiSession {
 public:
  GuiSession() {
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    initAppHost();
    initGuiHostModule();
    newAppHost("Brindlework");
    appHost()->build();
  }
  ~GuiSession() {
    unbuildAppHost();
    endGuiHostModule();
    endAppHost();
  }
  GuiSession(const GuiSession&) = delete;
  GuiSession& operator=(const GuiSession&) = delete;
};

// What a user types or ticks: the gadget's new state, and its change
// reported unless the toolkit reported it already.
inline void reportChange(cGuiWindow* window, cGuiItem* item, size_t queuedBefore) {
  if (guiAppClient()->infoQueued() == queuedBefore) guiNotify(item, static_cast<cGuiWindowHostCore*>(window));
}
inline void type(cGuiWindow* window, std::string_view label, const std::string& text) {
  auto* item = gadget<cGuiStringItem>(window, label);
  ASSERT_NE(item, nullptr) << label;
  const size_t before = guiAppClient()->infoQueued();
  item->setState(Text(text));
  reportChange(window, item, before);
}
inline void tick(cGuiWindow* window, std::string_view label, bool state) {
  auto* item = gadget<cGuiTick>(window, label);
  ASSERT_NE(item, nullptr) << label;
  const size_t before = guiAppClient()->infoQueued();
  item->setState(state);
  reportChange(window, item, before);
}
inline cGuiKeyButton* okButton(cGuiWindow* window) { return gadget<cGuiKeyButton>(window, "OK"); }

}  // namespace bw::testing_app

namespace bw::testing_app {

// The main window's two lists as gui keeps them (neutral lists, sorted as
// the main window sorts them) and a main window to size dialogs from.
class MainLists {
 public:
  MainLists(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, const cEncoding& charset)
      : db_(db), root_(root), charset_(charset) {
    tags.initMultiSelect(true, true);
    tags.setSortByColumn(0, false);
    feeds.initMultiSelect(true, true);
    feeds.setSortByUser(0, false);
    mainWindow = cGuiHost::CreateGuiWindow("Main");
    mainWindow->beginGroupVertical(nullptr);
    statusText = mainWindow->addText("");
    mainWindow->endGroup();
    mainWindow->build(true);
    mainWindow->setSize(1600, 900);
    refresh();
  }
  ~MainLists() { endGuiWindow(mainWindow); }
  MainLists(const MainLists&) = delete;
  MainLists& operator=(const MainLists&) = delete;

  void refresh() { refreshTagChooserAndFeedList(feeds, tags, db_, &charset_, root_); }
  static std::vector<std::string> firstColumns(cGuiList& list, bool selectedOnly) {
    std::vector<std::string> out;
    bool on = selectedOnly ? list.cursor_gotoFirstSelected() : list.infoSize() > 0 && list.cursor_gotoStart();
    while (on) {
      out.emplace_back(guiListColumnField(list.cursor_infoLabel().view(), 0));
      on = selectedOnly ? list.cursor_gotoNextSelected() : list.cursor_gotoNext(1) == 1;
    }
    return out;
  }
  std::vector<std::string> feedNames() { return firstColumns(feeds, false); }
  std::vector<std::string> selectedNames() { return firstColumns(feeds, true); }
  std::vector<std::string> selectedTags() { return firstColumns(tags, true); }
  static void selectIn(cGuiList& list, const std::vector<std::string>& names) {
    list.markAll();
    list.marked_setState(false);
    if (list.infoSize() == 0 || !list.cursor_gotoStart()) return;
    do {
      std::string first(guiListColumnField(list.cursor_infoLabel().view(), 0));
      list.cursor_setMarked(std::find(names.begin(), names.end(), first) != names.end());
    } while (list.cursor_gotoNext(1) == 1);
    list.marked_setState(true);
  }
  void select(const std::vector<std::string>& names) { selectIn(feeds, names); }
  void selectTags(const std::vector<std::string>& names) { selectIn(tags, names); }

  cGuiList tags{nullptr, 1, "Tag"};
  cGuiList feeds{nullptr, 5, nullptr};
  cGuiWindow* mainWindow;
  cGuiText* statusText;  // the feed count line

 private:
  cJournaledIndexedObjectSoupDatabase& db_;
  newsRoot& root_;
  const cEncoding& charset_;
};

}  // namespace bw::testing_app

namespace bw::testing_app {

inline constexpr int kFeedServerConnections = 32;
// A Twitter timeline, which the tests cannot open (the social layer is not
// started): no downloader, and no update to tell why.
inline constexpr char kDead[] = "http://twitter.com/nobody";

inline std::string servedRss(const std::string& title) {
  std::string body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + title +
                     "</title><link>http://example.org/</link><item><title>One</title><link>http://example.org/1"
                     "</link><guid>http://example.org/1</guid></item></channel></rss>";
  return "HTTP/1.0 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// Serves /a.rss as "Feed A", /b.rss as "Feed B", /c.rss as "Feed C",
// anything else as 404.
class FeedServer {
 public:
  FeedServer()
      : server_(
            [](const std::string& request, int) {
              if (request.starts_with("GET /a.rss")) return test::Reply{{servedRss("Feed A")}};
              if (request.starts_with("GET /b.rss")) return test::Reply{{servedRss("Feed B")}};
              if (request.starts_with("GET /c.rss")) return test::Reply{{servedRss("Feed C")}};
              return test::Reply{{"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"}};
            },
            kFeedServerConnections) {}
  // Ends the server's run: empty connections until it has served them all.
  ~FeedServer() {
    while (server_.requests().size() < static_cast<size_t>(kFeedServerConnections)) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(server_.port()));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(fd);
      if (!connected) break;
    }
  }
  std::string url(const std::string& path) { return server_.url(path); }

 private:
  test::LoopbackServer server_;
};

// The feed command tests with the GUI up: the main window's lists, the
// update window as gui builds it, a scripted interface and a feed server.
class MainWindowTest : public FeedCommandTest {
 protected:
  void withMain(const std::function<void(cJournaledIndexedObjectSoupDatabase&, newsRoot&, MainLists&,
                                         UpdateWindowRecord&)>& fn) {
    withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      GuiSession gui;
      MainLists lists(db, root, *charset);
      NewsGuiWindows windows;
      UpdateWindowRecord record = buildUpdateWindow(windows);
      fn(db, root, lists, record);
      endUpdateWindow(record, windows);
    });
  }
  // The steps, run while run() waits for the user.
  static void script(std::vector<ScriptedUser::Step> steps, const std::function<void()>& run) {
    ScriptedUser user(std::move(steps));
    run();
    EXPECT_TRUE(user.finished()) << "steps left over";
  }

  testing_news::ScriptedNewsUi ui;
  FeedServer server;
};

}  // namespace bw::testing_app
