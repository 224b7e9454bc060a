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

}  // namespace
}  // namespace bw::testing_app
