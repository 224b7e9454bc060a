// app/gui_user_test_support.h - a scripted user for whole runs of the
// windowed mode in this process: steps run whenever the program waits for
// the user (and, when asked, at its polls), find windows by title and
// gadgets by label as a person would, and act through the GUI host's own
// event paths (a click queues the gadget's change, a close the window's
// close request). Screenshots go to <build>/artefacts/app/.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "gui/host/core/gui_app_core.h"
#include "gui/host/core/gui_list_host.h"
#include "gui/host/gui_app_client.h"
#include "gui/host/gui_natives.h"

namespace bw::testing_app {

// Every open or closed window of the program's GUI client, in creation
// order.
inline std::vector<cGuiWindowHostCore*> guiWindows() {
  std::vector<cGuiWindowHostCore*> windows;
  if (!guiAppClient()) return windows;
  for (cAppResource* r = guiAppClient()->infoFirstResource(); r; r = r->infoNextResource())
    windows.push_back(static_cast<cGuiWindowHostCore*>(r));
  return windows;
}

// The last window with that title (the newest requester), nullptr when none.
inline cGuiWindowHostCore* windowTitled(std::string_view title) {
  cGuiWindowHostCore* found = nullptr;
  for (cGuiWindowHostCore* w : guiWindows())
    if (w->infoTitle().view() == title) found = w;
  return found;
}

inline void eachItem(cGuiItem* item, const std::function<void(cGuiItem*)>& fn) {
  fn(item);
  if (!item->isOfClass(cGuiGroupItem::kClassName)) return;
  for (cGuiItem* child = static_cast<cGuiGroupItem*>(item)->infoFirst(); child; child = child->infoNext())
    eachItem(child, fn);
}

// The nth gadget (from 0) of that class whose label is label.
template <class Item>
Item* gadget(cGuiWindow* window, std::string_view label, int nth = 0) {
  Item* found = nullptr;
  if (!window || !window->infoRootGroup()) return nullptr;
  eachItem(window->infoRootGroup(), [&](cGuiItem* item) {
    if (found || !item->isOfClass(Item::kClassName)) return;
    if constexpr (std::is_base_of_v<cGuiLabelledItem, Item>) {
      if (static_cast<Item*>(item)->infoLabel().view() != label) return;
    }
    if (nth-- == 0) found = static_cast<Item*>(item);
  });
  return found;
}

// Every label's text of a window, in building order.
inline std::vector<std::string> labelsOf(cGuiWindow* window) {
  std::vector<std::string> texts;
  eachItem(window->infoRootGroup(), [&](cGuiItem* item) {
    if (item->isOfClass(cGuiLabel::kClassName)) texts.emplace_back(static_cast<cGuiLabel*>(item)->infoLabel().view());
  });
  return texts;
}

// What a user does.
inline void click(cGuiWindow* window, cGuiItem* item) {
  ASSERT_NE(item, nullptr);
  guiNotify(item, static_cast<cGuiWindowHostCore*>(window));
}
inline void closeWindow(cGuiWindow* window) {
  guiAppClient()->queueWindowEvent(static_cast<cGuiWindowHostCore*>(window));
}
inline void selectRows(cGuiList* list, std::vector<int32_t> rows) {
  const int32_t active = rows.empty() ? -1 : rows.front();
  static_cast<cGuiListHost*>(list)->userSelected(rows, active);
}

// Keeps a picture of the window as artefacts/app/<name>.png.
inline void screenshot(cGuiWindow* window, const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(BRINDLEWORK_ARTEFACTS_DIR) / "app";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(guiSaveScreenshot(window, (dir / (name + ".png")).string())) << name;
}

// Five feeds of 12 unseen items as a user's lists hold them: names of 40
// characters, tags, dates as wide as a locale writes them (the last days
// of 2026, just before midnight), feeds that span thousands of days.
inline void addFeedsAsAUserHasThem(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  const std::pair<const char*, const char*> feeds[] = {{"Ars Technica & friends: all the articles", ",tech,"},
                                                       {"LWN.net: Linux Weekly News, all articles", ",linux,tech,"},
                                                       {"Planet Debian: blog of Debian developers", ",linux,"},
                                                       {"The Register: Biting the hand that feeds", ""},
                                                       {"Hacker News: Front Page, the top stories", ",news,"}};
  bigTime newest = 851817480;  // 2026-12-28 23:58
  int n = 0;
  for (auto [title, tags] : feeds) {
    const std::string url = "https://example.org/feeds/" + std::to_string(++n) + ".xml";
    newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, title, 12, false, url));
    if (*tags) feed->tags = Str(tags);
    bigTime published = newest;
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) {
      newsItem* item = loadObject_newsItem(db, i);
      item->published = published;
      published -= 3600;
      db.saveChangesToObject(item);
      db.unloadObject(item);
    }
    feed->newestItemTime = newest;
    feed->seenUpToTime = published;  // every item unseen
    feed->downloadLength = 1234 * 86400 + 43200;
    newest -= 86400;
    db.saveChangesToObject(feed);
    db.unloadObject(feed);
  }
}

// The steps of a user, one for each time the program waits for input. A
// program still waiting when the steps have run out is a failure, and the
// user quits it (the toolkit's kill command), so a test never hangs.
class ScriptedUser {
 public:
  using Step = std::function<void()>;
  explicit ScriptedUser(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {
    setGuiIdleHookForTesting([this](bool blocking) { idle(blocking); });
  }
  ~ScriptedUser() { setGuiIdleHookForTesting({}); }
  ScriptedUser(const ScriptedUser&) = delete;
  ScriptedUser& operator=(const ScriptedUser&) = delete;

  // Called at every poll that finds nothing (the status window's, the
  // update's).
  std::function<void()> onPoll;
  bool finished() const { return steps_.empty(); }

 private:
  void idle(bool blocking) {
    if (!blocking) {
      if (onPoll) onPoll();
      return;
    }
    if (steps_.empty()) {
      ADD_FAILURE() << "the program still waits after the last step";
      guiAppClient()->killCommand();
      return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    step();
  }
  std::deque<Step> steps_;
};

// The fixture of the windowed runs: offscreen, settings in a scratch folder.
class GuiProgramTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    config_ = std::filesystem::temp_directory_path() / ("bw-gui-config-" + std::to_string(::getpid()));
    std::filesystem::create_directories(config_);
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  void TearDown() override {
    std::filesystem::remove_all(config_);
    ProgramTest::TearDown();
  }
  int runGui(std::vector<ScriptedUser::Step> steps) {
    ScriptedUser user(std::move(steps));
    const int rc = run();
    EXPECT_TRUE(user.finished()) << "steps left over";
    return rc;
  }
  static cGuiWindowHostCore* mainWindow() { return windowTitled("Brindlework 1.2 (18.06.2017)"); }
  static cGuiWindowHostCore* contentsWindow() { return windowTitled("News item contents"); }

  std::filesystem::path config_;
};

}  // namespace bw::testing_app
