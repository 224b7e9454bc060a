// app/feed_dialogs_test.cpp - "Edit feed", "Rename feed tag" and "Info
// about feed" driven by a scripted user on the offscreen host, with the
// commands that walk the selection, over a scratch news database.
#include "app/feed_dialogs.h"

#include <gtest/gtest.h>

#include <QLabel>

#include <tuple>

#include "app/feed_commands_test_support.h"
#include "news/feed_failure.h"

namespace bw::testing_app {
namespace {

class FeedDialogs : public FeedCommandTest {
 protected:
  // Feeds with these titles, types and tags (NIL: none), one item each.
  void seed(std::vector<std::tuple<const char*, const char*, const char*>> feeds) {
    withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      for (auto [title, type, tags] : feeds) {
        newsFeed* f = loadObject_newsFeed(db, addFeed(db, root, title, 1));
        f->type = Str(type);
        f->docFormat = feedTypeToDocFormat(f->type);
        if (tags) f->tags = Str(tags);
        db.saveChangesToObject(f);
        db.unloadObject(f);
      }
    });
  }
  // Runs fn with the GUI up and the main window's lists filled.
  void withDialogs(const std::function<void(cJournaledIndexedObjectSoupDatabase&, newsRoot&, MainLists&)>& fn) {
    withFeeds([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      GuiSession gui;
      MainLists lists(db, root, *charset);
      fn(db, root, lists);
    });
  }
  // The steps run, each on the newest window of that title.
  static void script(std::vector<ScriptedUser::Step> steps, const std::function<void()>& run) {
    ScriptedUser user(std::move(steps));
    run();
    EXPECT_TRUE(user.finished()) << "steps left over";
  }
};

cGuiWindowHostCore* edit() { return windowTitled("Edit feed"); }

TEST_F(FeedDialogs, EditFeedGadgetsAndWhatOkWrites) {
  seed({{"Plain", "RSS 2.0", ",news,"}, {"Tweets", "Twitter", ",news,x,"}, {"Other", "Atom", ",b,news,"}});
  withDialogs([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists) {
    std::vector<newsFeed*> feeds = chain(root);
    auto run = [&](newsFeed* feed, const char* cancelText) {
      return editFeed(*feed, cancelText, db, lists.mainWindow, lists.feeds, lists.tags, root, *charset, nullptr,
                      nullptr);
    };
    // An RSS feed has no "Download old news items" tick.
    DialogResult r;
    script({[] {
              EXPECT_EQ(gadget<cGuiText>(edit(), "Original name")->getState().view(), "Plain");
              EXPECT_EQ(gadget<cGuiTick>(edit(), "Download old news items"), nullptr);
              screenshot(edit(), "edit_feed");
              closeWindow(edit());
            }},
           [&] { r = run(feeds[0], nullptr); });
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.quit);
    // A Twitter feed has it; the tags are normalised as soon as they change;
    // "news" retyped as "News" is rewritten so in the others; an emptied
    // name gives the title back.
    feeds[1]->setName(db, *charset, *charset, "Mine");
    script({[] { type(edit(), "Tags", " a , ,b, A"); },
            [] {
              EXPECT_EQ(gadget<cGuiString>(edit(), "Tags")->getState().view(), "a,b");
              EXPECT_TRUE(gadget<cGuiTick>(edit(), "Download old news items")->getState());
              type(edit(), "Tags", "News,x,a");
            },
            [] { type(edit(), "Name", ""); }, [] { tick(edit(), "Download old news items", false); },
            [] { click(edit(), okButton(edit())); }},
           [&] { r = run(feeds[1], "Cancel & stop editing"); });
    EXPECT_FALSE(r.cancelled);
    EXPECT_TRUE(feeds[1]->userName.isNil());
    EXPECT_EQ(feeds[1]->infoName(charset.get()).view(), "Tweets");
    EXPECT_EQ(feeds[1]->tags.view(), ",News,x,a,");
    EXPECT_TRUE(feeds[1]->noOlderItems);
    EXPECT_EQ(feeds[0]->tags.view(), ",News,");
    EXPECT_EQ(feeds[2]->tags.view(), ",b,News,");
    EXPECT_EQ(lists.feedNames(), (std::vector<std::string>{"Other", "Plain", "Tweets"}));
    // "OK" without a change writes nothing.
    db.flush();
    const std::string before = bytes("database.soup");
    script({[] { click(edit(), okButton(edit())); }}, [&] { run(feeds[2], nullptr); });
    db.flush();
    EXPECT_EQ(bytes("database.soup"), before);
  });
}

TEST_F(FeedDialogs, EditWalkStopsAtCancelAndLeavesTheRestSelected) {
  seed({{"A", "RSS 2.0", nullptr}, {"B", "RSS 2.0", nullptr}, {"C", "RSS 2.0", nullptr}});
  withDialogs([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists) {
    lists.select({"A", "B", "C"});
    EditFeedsResult r;
    script({[] { type(edit(), "Name", "A2"); }, [] { click(edit(), okButton(edit())); },
            [] {
              EXPECT_EQ(gadget<cGuiString>(edit(), "Name")->getState().view(), "B");
              click(edit(), gadget<cGuiButton>(edit(), "Cancel & stop editing"));
            }},
           [&] { r = editSelectedFeeds(db, lists.mainWindow, lists.feeds, lists.tags, root, *charset); });
    EXPECT_FALSE(r.quit);
    EXPECT_TRUE(r.anySelected);
    EXPECT_EQ(lists.selectedNames(), (std::vector<std::string>{"B", "C"}));
    EXPECT_EQ(names(root, *charset), (std::vector<std::string>{"A2", "B", "C"}));
    // A quit in the dialog ends the walk too.
    script({[] { guiAppClient()->killCommand(); }},
           [&] { r = editSelectedFeeds(db, lists.mainWindow, lists.feeds, lists.tags, root, *charset); });
    EXPECT_TRUE(r.quit);
  });
}

TEST_F(FeedDialogs, RenameFeedTag) {
  seed({{"A", "RSS 2.0", ",news,tech,"}, {"B", "RSS 2.0", ",tech,"}, {"C", "RSS 2.0", ",misc,"}});
  withDialogs([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists) {
    auto rename = [] { return windowTitled("Rename feed tag"); };
    lists.selectTags({"misc", "tech"});
    bool quit = true;
    script({[&] { type(rename(), "Tag", ""); },
            [&] {
              EXPECT_TRUE(okButton(rename())->infoDisabled());
              screenshot(rename(), "rename_feed_tag");
              type(rename(), "Tag", "Misc2");
            },
            [&] {
              EXPECT_FALSE(okButton(rename())->infoDisabled());
              click(rename(), okButton(rename()));
            },
            [&] { type(rename(), "Tag", "Technology"); }, [&] { click(rename(), okButton(rename())); }},
           [&] { quit = renameSelectedTags(db, lists.mainWindow, lists.feeds, lists.tags, root, *charset); });
    EXPECT_FALSE(quit);
    EXPECT_EQ(chain(root)[0]->tags.view(), ",news,Technology,");
    EXPECT_EQ(chain(root)[1]->tags.view(), ",Technology,");
    EXPECT_EQ(chain(root)[2]->tags.view(), ",Misc2,");
    EXPECT_EQ(lists.selectedTags(), (std::vector<std::string>{"Misc2", "Technology"}));
    // "Cancel & stop renaming": NIL, the tag selected again, the next not asked.
    lists.selectTags({"Misc2", "news"});
    script({[&] { click(rename(), gadget<cGuiButton>(rename(), "Cancel & stop renaming")); }},
           [&] { quit = renameSelectedTags(db, lists.mainWindow, lists.feeds, lists.tags, root, *charset); });
    EXPECT_EQ(lists.selectedTags(), (std::vector<std::string>{"Misc2", "news"}));
    EXPECT_EQ(chain(root)[0]->tags.view(), ",news,Technology,");
    // A tag renamed into several selects each: the list shows their feeds.
    lists.selectTags({"Misc2"});
    script({[&] { type(rename(), "Tag", "p,q"); }, [&] { click(rename(), okButton(rename())); }},
           [&] { quit = renameSelectedTags(db, lists.mainWindow, lists.feeds, lists.tags, root, *charset); });
    EXPECT_EQ(lists.selectedTags(), (std::vector<std::string>{"p", "q"}));
    EXPECT_EQ(lists.feedNames(), (std::vector<std::string>{"C"}));
  });
}

TEST_F(FeedDialogs, InfoShowsTheFeedAndItsCloseGadgetStopsTheWalk) {
  seed({{"A &amp; B", "RSS 2.0", nullptr}, {"Second", "RSS 2.0", nullptr}, {"Third", "RSS 2.0", nullptr}});
  withDialogs([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists) {
    auto info = [] { return windowTitled("Info about feed"); };
    newsFeed* a = chain(root)[0];
    a->setName(db, *charset, *charset, "A users name");
    a->subtitle = Str("\n    About &lt;it&gt;&#160;\n  ");  // an Atom text, written across lines
    a->uniqueID = Str("urn:a");
    a->imageURL = Str("http://i/a&amp;b");
    a->rights = Str("(c)");
    a->updatedText = Str("today");
    a->generator = Str("gen");
    a->language = Str("en");
    noteFeedFailure(*a, "HTTP 404 Not Found");
    lists.refresh();
    lists.select({"A users name", "Second", "Third"});
    bool quit = true;
    script({[&] {
              struct {
                const char* label;
                const char* shown;
              } fields[] = {{"Name", "A & B"},      {"URL", "http://127.0.0.1/A &amp; B"},
                            {"Unique ID", "urn:a"}, {"Image URL", "http://i/a&amp;b"},
                            {"Copyright", "(c)"},   {"Updated", "today"},
                            {"Generator", "gen"},   {"Lang", "en"},
                            {"Type", "RSS 2.0"}};
              for (auto& f : fields) EXPECT_EQ(gadget<cGuiText>(info(), f.label)->getState().view(), f.shown) << f.label;
              EXPECT_EQ(gadget<cGuiTextBox>(info(), "Summary")->getState().view(), "About <it>");
              // Why its last update failed, and when.
              ASSERT_NE(gadget<cGuiText>(info(), "Last failure"), nullptr);
              EXPECT_EQ(std::string(gadget<cGuiText>(info(), "Last failure")->getState().view()),
                        feedFailureText(*a));
              EXPECT_TRUE(feedFailureText(*a).starts_with("HTTP 404 Not Found ("));
              // The address can be selected and copied, however long.
              auto* url = static_cast<QLabel*>(guiView(*gadget<cGuiText>(info(), "URL"))->nativeObject());
              EXPECT_TRUE(url->textInteractionFlags() & Qt::TextSelectableByMouse);
              url->setSelection(0, static_cast<int>(url->text().size()));
              EXPECT_EQ(url->selectedText(), "http://127.0.0.1/A &amp; B");
              screenshot(info(), "info_about_feed");
              click(info(), okButton(info()));
            },
            [&] {
              EXPECT_EQ(gadget<cGuiText>(info(), "Name")->getState().view(), "Second");
              EXPECT_EQ(gadget<cGuiText>(info(), "Last failure"), nullptr);
              closeWindow(info());
            }},
           [&] { quit = showSelectedFeedsInfo(lists.feeds, *charset); });
    EXPECT_FALSE(quit);
    script({[] { guiAppClient()->killCommand(); }}, [&] { quit = showSelectedFeedsInfo(lists.feeds, *charset); });
    EXPECT_TRUE(quit);
  });
}

}  // namespace
}  // namespace bw::testing_app
