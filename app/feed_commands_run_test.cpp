// app/feed_commands_run_test.cpp - the feed commands with dialogs in a whole
// windowed run: the main window's buttons reach them and the lists follow.
#include <gtest/gtest.h>

#include "app/feed_commands_test_support.h"
#include "app/gui_user_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

cGuiList* mainList(int nth) { return gadget<cGuiList>(windowTitled("Brindlework 1.2 (18.06.2017)"), "", nth); }
cGuiList* tagList() { return mainList(0); }
cGuiList* feedList() { return mainList(1); }
cGuiWindowHostCore* mainWin() { return windowTitled("Brindlework 1.2 (18.06.2017)"); }

std::vector<std::string> firstColumns(cGuiList* list) { return MainLists::firstColumns(*list, false); }
int32_t rowOf(cGuiList* list, std::string_view name) {
  std::vector<std::string> rows = firstColumns(list);
  return static_cast<int32_t>(std::find(rows.begin(), rows.end(), name) - rows.begin());
}

TEST_F(GuiProgramTest, FeedCommandsFromTheMainWindow) {
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [](Db& db, newsRoot& root) {
    for (auto [title, tags] : {std::pair{"A", ",x,"}, {"B", ",z,"}}) {
      newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, title, 2));
      feed->tags = Str(tags);
      db.saveChangesToObject(feed);
      db.unloadObject(feed);
    }
  });
  auto dialog = [](const char* title) { return windowTitled(title); };
  EXPECT_EQ(runGui({
                [] { selectRows(tagList(), {rowOf(tagList(), "x")}); },
                [] { click(mainWin(), gadget<cGuiButton>(mainWin(), "Rename")); },
                [&] { type(dialog("Rename feed tag"), "Tag", "y"); },
                [&] { click(dialog("Rename feed tag"), okButton(dialog("Rename feed tag"))); },
                [] {
                  EXPECT_EQ(firstColumns(tagList()), (std::vector<std::string>{"y", "z"}));  // "x" renamed
                  selectRows(tagList(), {});
                },
                [] { selectRows(feedList(), {rowOf(feedList(), "B")}); },
                [] { click(mainWin(), gadget<cGuiButton>(mainWin(), "Edit")); },
                [&] { type(dialog("Edit feed"), "Name", "Bee"); },
                [&] { click(dialog("Edit feed"), okButton(dialog("Edit feed"))); },
                [] {
                  std::vector<std::string> names = firstColumns(feedList());
                  std::sort(names.begin(), names.end());
                  EXPECT_EQ(names, (std::vector<std::string>{"A", "Bee"}));
                  selectRows(feedList(), {rowOf(feedList(), "A")});
                },
                [] { click(mainWin(), gadget<cGuiButton>(mainWin(), "Info")); },
                [&] {
                  EXPECT_EQ(gadget<cGuiText>(dialog("Info about feed"), "Name")->getState().view(), "A");
                  closeWindow(dialog("Info about feed"));
                },
                [] { click(mainWin(), gadget<cGuiButton>(mainWin(), "Delete")); },
                [&] { click(dialog("Delete feeds"), gadget<cGuiKeyButton>(dialog("Delete feeds"), "")); },  // "Yes"
                [] {
                  EXPECT_EQ(firstColumns(feedList()), (std::vector<std::string>{"Bee"}));
                  closeWindow(mainWin());
                },
            }),
            0)
      << output;
  withDatabase("database.soup", [](Db& db, newsRoot& root) {
    EXPECT_EQ(root.feedList->infoHeadIndex(), root.feedList->infoTailIndex());
    newsFeed* b = loadObject_newsFeed(db, root.feedList->infoHeadIndex());
    EXPECT_EQ(b->infoName(nullptr).view(), "Bee");
    db.unloadObject(b);
  });
}

TEST_F(GuiProgramTest, FeedCommandsAddEditsAndSelectsTheNewFeed) {
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [](Db& db, newsRoot& root) { addFeed(db, root, "Old", 1); });
  FeedServer server;
  const std::string address = server.url("a.rss");
  auto dialog = [](const char* title) { return windowTitled(title); };
  EXPECT_EQ(runGui({
                [] { click(mainWin(), gadget<cGuiButton>(mainWin(), "Add")); },
                [&] { type(dialog("Add feed"), "URL", address); },
                [&] { click(dialog("Add feed"), okButton(dialog("Add feed"))); },
                // After its first update the new feed is edited at once.
                [&] {
                  EXPECT_EQ(gadget<cGuiString>(dialog("Edit feed"), "Name")->getState().view(), "Feed A");
                  type(dialog("Edit feed"), "Name", "Mine");
                },
                [&] { type(dialog("Edit feed"), "Tags", "t"); },
                [&] { click(dialog("Edit feed"), okButton(dialog("Edit feed"))); },
                [] {
                  // Listed under its new name and tag, and its row selected.
                  EXPECT_EQ(MainLists::firstColumns(*feedList(), true), (std::vector<std::string>{"Mine"}));
                  std::vector<std::string> names = firstColumns(feedList());
                  std::sort(names.begin(), names.end());
                  EXPECT_EQ(names, (std::vector<std::string>{"Mine", "Old"}));
                  EXPECT_EQ(firstColumns(tagList()), (std::vector<std::string>{"t"}));
                  closeWindow(mainWin());
                },
            }),
            0)
      << output;
  // Stored with what the editor gave it.
  withDatabase("database.soup", [&](Db& db, newsRoot& root) {
    std::vector<std::string> stored;
    for (int32_t index = root.feedList->infoHeadIndex(); index != 0;) {
      newsFeed* feed = loadObject_newsFeed(db, index);
      stored.push_back(feed->url.str() + " " + feed->userName.str() + " " + feed->tags.str());
      index = feed->infoNextIndex();
      db.unloadObject(feed);
    }
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, (std::vector<std::string>{"http://127.0.0.1/Old  ", address + " Mine ,t,"}));
  });
}

}  // namespace
}  // namespace bw::testing_app
