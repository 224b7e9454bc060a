// app/gui_main_test.cpp - whole windowed runs in this process, offscreen,
// driven by a scripted user: the requester window, the status window, the
// close and quit handling, the signals and the failures that end gui.
#include "app/gui_main.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <tuple>

#include "app/console_ui.h"
#include "app/feed_list.h"
#include "app/gui_user_test_support.h"
#include "app/update_server_test_support.h"
#include "core/exception.h"
#include "core/raise_test_support.h"
#include "gui/host/core/gui_native_items.h"
#include "platform/dos_env.h"
#include "platform/host_io_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;
constexpr const char* kValidating = "Validating database, as it was not closed properly last time...";

cGuiKeyButton* firstButton(cGuiWindow* w) { return gadget<cGuiKeyButton>(w, ""); }

// The first column of every row, and of the selected rows.
std::vector<std::string> names(cGuiList* list, bool selectedOnly = false) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < list->infoCount(); ++i) {
    const cGuiList::Row* row = list->infoEntryAt(i);
    if (!selectedOnly || row->selected) out.emplace_back(guiListColumnField(row->label.view(), 0));
  }
  return out;
}
int32_t rowNamed(cGuiList* list, std::string_view name) {
  for (int32_t i = 0; i < list->infoCount(); ++i)
    if (guiListColumnField(list->infoEntryAt(i)->label.view(), 0) == name) return i;
  ADD_FAILURE() << "no row " << name;
  return -1;
}

TEST_F(GuiProgramTest, RequesterAnswersAndShapes) {
  makeEmptyDatabase("database.soup");
  struct Case {
    const char* buttons;
    std::function<void(cGuiWindow*)> act;
    int32_t want;
  } cases[] = {
      {"OK", [](cGuiWindow* w) { click(w, firstButton(w)); }, 1},
      {"OK", [](cGuiWindow* w) { closeWindow(w); }, 1},
      {"Yes|No", [](cGuiWindow* w) { closeWindow(w); }, 0},
      {"Yes|No", [](cGuiWindow* w) { click(w, gadget<cGuiButton>(w, "No")); }, 0},
      {"Yes|No|Cancel", [](cGuiWindow* w) { click(w, firstButton(w)); }, 1},
      {"Yes|No|Cancel", [](cGuiWindow* w) { click(w, gadget<cGuiButton>(w, "No")); }, 2},
      {"Yes|No|Cancel", [](cGuiWindow* w) { click(w, gadget<cGuiButton>(w, "Cancel")); }, 0},
  };
  std::vector<ScriptedUser::Step> steps;
  for (const Case& c : cases) {
    steps.push_back([&c] {
      cGuiWindow* requester = windowTitled("Question");
      ASSERT_NE(requester, nullptr);
      // The status window's close request meanwhile is dropped.
      closeWindow(windowTitled("Brindlework"));
      c.act(requester);
    });
  }
  steps.push_back([] {
    cGuiWindow* w = windowTitled("Lines");
    EXPECT_EQ(labelsOf(w), (std::vector<std::string>{"first 7 ?x", " ", "third"}));
    EXPECT_EQ(gadget<cGuiLabel>(w, "first 7 ?x")->infoStyle(), kGuiStylePen5);
    EXPECT_EQ(gadget<cGuiLabel>(w, "third")->infoStyle(), 0);
    EXPECT_EQ(firstButton(w)->infoKey(), 13);  // Return
    EXPECT_EQ(firstButton(w)->infoLabel().view(), "\x1b" "bOK");
    screenshot(w, "requester");
    guiAppClient()->killCommand();  // the application's quit request closes it too
  });
  steps.push_back([] {
    cGuiWindow* w = windowTitled("Wrapped");
    EXPECT_EQ(gadget<cGuiTextBox>(w, "")->getState().view(), "a \x1b" "5b");
    EXPECT_EQ(w->infoWidth(), 300);
    EXPECT_EQ(w->infoHeight(), 120);
    click(w, firstButton(w));
  });
  std::vector<int32_t> answers;
  bool quitSeen = false;
  ScriptedUser user(std::move(steps));
  EXPECT_EQ(run({}, [&](Db&, newsRoot&) {
              for (const Case& c : cases) answers.push_back(gui_requester("Question", "Sure?", c.buttons, nullptr, 0, 0));
              const FormatArguments args = {int64_t(7), std::string("\x1bx")};
              answers.push_back(gui_requester("Lines", "\x1b" "1first %ld %s\n\nthird", "OK|Never", &args, 0, 0));
              quitSeen = windowTitled("Brindlework")->infoQuitRequested(false);
              answers.push_back(gui_requester("Wrapped", "a \x1b" "1b", "OK", nullptr, 300, 120));
              expectRaise([] { gui_requester("Bad", "x", "OK", nullptr, 300, 0); }, "EPU",
                          "gui_requester(); wrapWidth given without wrapHeight");
            }),
            0);
  EXPECT_EQ(answers, (std::vector<int32_t>{1, 1, 0, 0, 1, 2, 0, 0, 1}));
  EXPECT_TRUE(quitSeen);  // read and kept by the requester
  EXPECT_TRUE(user.finished());
  EXPECT_TRUE(guiWindows().empty());
}

TEST_F(GuiProgramTest, WithoutADisplayTheRunEndsBeforeTheDatabaseIsOpened) {
  makeEmptyDatabase("database.soup.default");
  std::vector<std::pair<const char*, std::string>> saved;
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
    ::unsetenv(name);
  }
  EXPECT_EQ(run(), 10);
  for (const auto& [name, value] : saved) ::setenv(name, value.c_str(), 1);
  EXPECT_EQ(output, "Failed to create GUI: no display to open windows on.\n");
  EXPECT_FALSE(exists("database.soup"));
}

TEST_F(GuiProgramTest, StatusWindowShowsValidationRepairAndShutdown) {
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", damageForARepair);
  std::vector<std::string> shown;
  auto record = [&] {
    cGuiWindow* status = guiWindows().empty() ? nullptr : guiWindows().front();
    if (!status) return;
    std::string text(gadget<cGuiTextBox>(status, "Status")->getState().view());
    if (shown.empty() || shown.back() != text) shown.push_back(text);
  };
  ScriptedUser user({
      [&] {
        cGuiWindowHostCore* status = guiWindows().front();
        EXPECT_EQ(status->infoTitle().view(), "Brindlework");
        EXPECT_TRUE(status->infoIsOpen());
        EXPECT_EQ(status->infoWidth(), 640);
        EXPECT_EQ(status->infoHeight(), 100);
        EXPECT_EQ(gadget<cGuiTextBox>(status, "Status")->getState().view(), kValidating);
        screenshot(status, "status_window");
        cGuiWindow* requester = windowTitled("Brindlework");
        EXPECT_EQ(labelsOf(requester), (std::vector<std::string>{"Database was repaired.",
                                                                 "Please report this problem to:",
                                                                 "bugs@brindlework.org"}));
        click(requester, firstButton(requester));
      },
      [&] {
        EXPECT_FALSE(guiWindows().front()->infoIsOpen());
        screenshot(mainWindow(), "main_window");
        closeWindow(mainWindow());
      },
  });
  user.onPoll = record;
  EXPECT_EQ(run(), 0);
  EXPECT_TRUE(user.finished());
  EXPECT_EQ(shown, (std::vector<std::string>{kValidating, "", "Writing outstanding changes to database...",
                                             "Backing-up database..."}));
  // Closed properly: no validation and no requester the next time.
  EXPECT_EQ(runGui({[] { closeWindow(mainWindow()); }}), 0);
}

TEST_F(GuiProgramTest, ClosingTheMainWindowAsksOnlyWithTheContentsWindowOpen) {
  makeEmptyDatabase("database.soup");
  EXPECT_EQ(runGui({[] {
              EXPECT_TRUE(mainWindow()->infoIsOpen());
              EXPECT_FALSE(contentsWindow()->infoIsOpen());
              // The first command was the feed list's: an empty merge.
              EXPECT_EQ(gadget<cGuiText>(mainWindow(), "", 2)->getState().view(), "0 news items shown");
              ASSERT_NE(windowTitled("Update feeds"), nullptr);
              EXPECT_FALSE(windowTitled("Update feeds")->infoIsOpen());
              EXPECT_EQ(windowTitled("Update feeds")->infoSaveID(), guiSaveId("UpdF"));
              closeWindow(mainWindow());
            }}),
            0);
  EXPECT_TRUE(exists("database.soup.bak_1Latest"));
  int questions = 0;
  EXPECT_EQ(runGui({
                [] {
                  contentsWindow()->open();
                  closeWindow(mainWindow());
                },
                [&] {
                  screenshot(contentsWindow(), "contents_window");
                  cGuiWindow* question = windowTitled("Brindlework");
                  EXPECT_EQ(labelsOf(question), std::vector<std::string>{"Did you really want to close Brindlework?"});
                  ++questions;
                  click(question, gadget<cGuiButton>(question, "No"));
                },
                [&] {
                  EXPECT_TRUE(mainWindow()->infoIsOpen());
                  closeWindow(contentsWindow());  // closes only the contents window
                },
                [] {
                  EXPECT_FALSE(contentsWindow()->infoIsOpen());
                  EXPECT_TRUE(mainWindow()->infoIsOpen());
                  contentsWindow()->open();
                  closeWindow(mainWindow());
                },
                [&] {
                  ++questions;
                  click(windowTitled("Brindlework"), firstButton(windowTitled("Brindlework")));
                },
            }),
            0);
  EXPECT_EQ(questions, 2);
}

TEST_F(GuiProgramTest, LogOutForgetsTheSignInAndDisablesItself) {
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [](Db& db, newsRoot& root) {
    root.twitterToken = Str("token");
    db.saveChangesToObject(&root);
  });
  EXPECT_EQ(runGui({
                [] {
                  EXPECT_FALSE(gadget<cGuiButton>(mainWindow(), "Log out")->infoDisabled());
                  click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Log out"));
                },
                [] { click(windowTitled("Log out"), gadget<cGuiButton>(windowTitled("Log out"), "Log out of Twitter")); },
                [] { closeWindow(windowTitled("Log out")); },
                [] {
                  EXPECT_TRUE(gadget<cGuiButton>(mainWindow(), "Log out")->infoDisabled());
                  closeWindow(mainWindow());
                },
            }),
            0);
  withDatabase("database.soup", [](Db&, newsRoot& root) { EXPECT_TRUE(root.twitterToken.isNil()); });
}

TEST_F(GuiProgramTest, UpdateSelectedTakesTheChosenTagsAndUpdateAllEveryEnabledFeed) {
  ConnectionLog log;
  FeedHostServer server(log, "127.0.0.1", "127.0.0.1");
  ASSERT_TRUE(server.listening());
  // An item of an hour ago: "Show unseen" shows it.
  char date[64];
  const time_t hourAgo = ::time(nullptr) - 3600;
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", std::gmtime(&hourAgo));
  const std::string rss =
      "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title><link>http://example.org/</link>"
      "<item><title>News</title><link>http://example.org/1</link><guid>g1</guid><pubDate>" + std::string(date) +
      "</pubDate></item></channel></rss>";
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [&](Db& db, newsRoot& root) {
    for (auto [title, tags, disabled] : {std::tuple{"A", ",a,", false}, {"B", ",b,c,", false}, {"C", ",c,", false},
                                         {"D", ",a,", true}}) {
      server.put(std::string("/") + title, {rss});
      newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, title, 0, disabled, server.url(std::string("/") + title)));
      feed->tags = Str(tags);
      db.saveChangesToObject(feed);
      db.unloadObject(feed);
    }
  });
  auto requests = [&] {
    std::string out;
    for (const char* path : {"/A", "/B", "/C", "/D"}) out += std::to_string(log.requestsFor(path));
    return out;
  };
  auto feedStatus = [] { return std::string(gadget<cGuiText>(mainWindow(), "")->getState().view()); };
  cGuiList* tags = nullptr;
  bool shotMidUpdate = false;
  ScriptedUser user({
      [&] {
        tags = gadget<cGuiList>(mainWindow(), "");
        selectRows(tags, {rowNamed(tags, "a"), rowNamed(tags, "b")});
      },
      [&] {
        EXPECT_EQ(feedStatus(), "2 feeds shown (plus 1 disabled)");
        click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Update selected"));
      },
      [&] {
        EXPECT_EQ(requests(), "1100");  // no feed selected: the enabled feeds of tags a and b
        EXPECT_FALSE(windowTitled("Update feeds")->infoIsOpen());
        EXPECT_FALSE(mainWindow()->infoBusy());
        click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Update all"));
      },
      [&] {
        EXPECT_EQ(requests(), "2210");
        // The news list shows the listed feeds' items: C's tag is not chosen.
        EXPECT_EQ(gadget<cGuiText>(mainWindow(), "", 2)->getState().view(), "2 news items shown");
        EXPECT_EQ(gadget<cGuiList>(mainWindow(), "", 2)->infoCount(), 2);
        screenshot(windowTitled("Update feeds"), "update_window_after");
        screenshot(mainWindow(), "main_window_updated");
        closeWindow(mainWindow());
      },
  });
  user.onPoll = [&] {
    cGuiWindow* update = windowTitled("Update feeds");
    if (shotMidUpdate || !update || !update->infoIsOpen()) return;
    shotMidUpdate = true;
    screenshot(update, "update_window_mid_update");
  };
  EXPECT_EQ(run(), 0) << output;
  EXPECT_TRUE(user.finished());
  EXPECT_TRUE(shotMidUpdate);
  EXPECT_LE(log.maxOpen(), 2);
}

TEST_F(GuiProgramTest, SignalsRunTheQuitSequence) {
  makeEmptyDatabase("database.soup");
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    fs::remove(at("database.soup.bak_1Latest"));
    EXPECT_EQ(runGui({[sig] { ::raise(sig); }}), 0);
    EXPECT_EQ(output.find("EXCEPTION:"), std::string::npos) << output;
    EXPECT_TRUE(exists("database.soup.bak_1Latest"));
    EXPECT_FALSE(dos::checkBreak());
  }
}

TEST_F(GuiProgramTest, FailuresEndGuiWithoutSavingTheSelections) {
  makeEmptyDatabase("database.soup");
  auto savedTags = [&] {
    std::string tags = "NIL";
    withDatabase("database.soup", [&](Db&, newsRoot& root) {
      if (!root.rootText5.isNil()) tags = std::string(root.rootText5.view());
    });
    return tags;
  };
  withDatabase("database.soup", [](Db& db, newsRoot& root) {
    root.rootText5 = Str("kept");
    db.saveChangesToObject(&root);
  });
  EXPECT_EQ(runGui({[] { raise("ERR", "test(); told the user"); }}), 10);
  EXPECT_EQ(output, "");
  EXPECT_FALSE(exists("database.soup.bak_1Latest"));
  EXPECT_EQ(savedTags(), "kept");

  // A failing disk under the quit's transaction: "FILE", 20, and the next
  // start validates.
  auto disk = std::make_shared<testing_io::RecordingIoBackend>();
  setDefaultIoBackend(disk);
  const int rc = runGui({[&] {
    disk->log->writeError = EIO;
    disk->log->failWriteFrom = disk->log->writes;
    closeWindow(mainWindow());
  }});
  setDefaultIoBackend(nullptr);
  EXPECT_EQ(rc, 20);
  EXPECT_EQ(output.rfind("EXCEPTION: \"FILE\"; ", 0), 0u) << output;
  std::vector<std::string> shown;
  ScriptedUser user({[] { closeWindow(mainWindow()); }});
  user.onPoll = [&] {
    std::string text(gadget<cGuiTextBox>(guiWindows().front(), "Status")->getState().view());
    if (shown.empty() || shown.back() != text) shown.push_back(text);
  };
  EXPECT_EQ(run(), 0);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), kValidating);
  EXPECT_EQ(savedTags(), "NIL");  // a quit stores the (empty) tag selection
}

TEST_F(GuiProgramTest, FeedSideCommandsAndTheSelectionsOfTheLastRun) {
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [](Db& db, newsRoot& root) {
    for (auto [title, tags] : {std::pair{"A", ",a,"}, {"B", ",b,c,"}, {"C", ",ab,"}, {"D", ""}}) {
      newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, title, 1));
      if (*tags) feed->tags = Str(tags);
      db.saveChangesToObject(feed);
      db.unloadObject(feed);
    }
  });
  auto list = [](const char* title) { return gadget<cGuiList>(mainWindow(), "", std::string(title) == "tags" ? 0 : 1); };
  auto feedB = [&] {
    cGuiList* feeds = list("feeds");
    return feedOfListEntry(feeds->infoEntryAt(rowNamed(feeds, "B"))->dataBox.get());
  };
  EXPECT_EQ(runGui({
                [&] {
                  EXPECT_EQ(names(list("tags")), (std::vector<std::string>{"a", "ab", "b", "c"}));
                  EXPECT_EQ(names(list("feeds")).size(), 4u);
                  selectRows(list("tags"), {rowNamed(list("tags"), "a"), rowNamed(list("tags"), "b")});
                },
                [&] {
                  // Tags a and b: the feed tagged b,c comes, the one tagged ab does not.
                  std::vector<std::string> shown = names(list("feeds"));
                  std::sort(shown.begin(), shown.end());
                  EXPECT_EQ(shown, (std::vector<std::string>{"A", "B"}));
                  EXPECT_FALSE(gadget<cGuiButton>(mainWindow(), " X ")->infoDisabled());
                  selectRows(list("feeds"), {rowNamed(list("feeds"), "B")});
                },
                [&] {
                  EXPECT_FALSE(gadget<cGuiButton>(mainWindow(), "Disable")->infoDisabled());
                  click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Disable"));
                },
                [&] {
                  EXPECT_TRUE(feedB()->disabled);
                  EXPECT_EQ(gadget<cGuiGroupPage>(mainWindow(), "")->getState(), 1);  // it now reads "Enable"
                  click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Enable"));  // each press inverts
                },
                [&] {
                  EXPECT_FALSE(feedB()->disabled);
                  EXPECT_EQ(gadget<cGuiGroupPage>(mainWindow(), "")->getState(), 0);
                  static_cast<cGuiListHost*>(list("feeds"))->userTitleClicked(0);  // sort by "Name"
                },
                [&] {
                  screenshot(mainWindow(), "main_window_feeds");
                  closeWindow(mainWindow());
                },
            }),
            0);
  EXPECT_EQ(runGui({
                [&] {
                  EXPECT_EQ(names(list("tags"), true), (std::vector<std::string>{"a", "b"}));
                  EXPECT_EQ(names(list("feeds"), true), std::vector<std::string>{"B"});
                  EXPECT_EQ(list("feeds")->infoSortByUser().column, 0);
                  EXPECT_FALSE(list("feeds")->infoSortByUser().reverse);
                  gadget<cGuiCycleChoice>(mainWindow(), "")->setState(4);  // "Show ALL"
                  click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Deselect"));
                },
                [&] {
                  EXPECT_EQ(gadget<cGuiCycleChoice>(mainWindow(), "")->getState(), 0);  // "Show unseen"
                  EXPECT_TRUE(names(list("feeds"), true).empty());
                  click(mainWindow(), gadget<cGuiButton>(mainWindow(), " X "));
                },
                [&] {
                  EXPECT_TRUE(names(list("tags"), true).empty());
                  closeWindow(mainWindow());
                },
            }),
            0);
  withDatabase("database.soup", [](Db& db, newsRoot& root) {
    EXPECT_TRUE(root.rootText5.isNil());
    root.rootText5 = Str("c,gone,b");  // a tag that vanished stops the restore
    db.saveChangesToObject(&root);
  });
  EXPECT_EQ(runGui({[&] {
              EXPECT_EQ(names(list("tags"), true), std::vector<std::string>{"c"});
              closeWindow(mainWindow());
            }}),
            0);
}

}  // namespace
}  // namespace bw::testing_app
