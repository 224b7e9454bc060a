// app/opml_import_test.cpp - the OPML import and the export dialog end to
// end: a scripted user on the offscreen host, feeds served by a loopback
// server, the update window as gui builds it.
#include "app/opml_import.h"

#include <gtest/gtest.h>

#include "app/feed_commands_test_support.h"
#include "app/opml_export.h"

namespace bw::testing_app {
namespace {

class OpmlImport : public MainWindowTest {
 protected:
  void opml(const std::string& body) {
    write("feeds.opml", "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><body>" + body + "</body></opml>\n");
  }
  static cGuiWindowHostCore* dialog() { return windowTitled("Import OPML file"); }
};

TEST_F(OpmlImport, WithoutEditingEachFeedIsNamedAndTagged) {
  // Alpha's "feed:" address is added as the address it wraps.
  std::string alpha = "feed:" + server.url("a.rss");
  opml("<outline text=\"News\"><outline type=\"rss\" text=\"Alpha\" xmlUrl=\"" + alpha +
       "\"/></outline><outline text=\"news\"><outline type=\"rss\" title=\"Beta\" text=\"x\" xmlUrl=\"" +
       server.url("b.rss") + "\"/><outline type=\"rss\" text=\"Gone\" xmlUrl=\"" + server.url("gone.rss") +
       "\"/><outline type=\"rss\" text=\"Dead\" xmlUrl=\"" + kDead + "\"/></outline>");
  withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord& record) {
    bool quit = true;
    script({[] {
              EXPECT_TRUE(okButton(dialog())->infoDisabled());
              screenshot(dialog(), "import_opml_file");
              type(dialog(), "File", "AppTest:/");
            },
            [] {
              EXPECT_TRUE(okButton(dialog())->infoDisabled());
              type(dialog(), "File", "AppTest:/missing.opml");
            },
            [] {
              EXPECT_TRUE(okButton(dialog())->infoDisabled());
              type(dialog(), "File", "AppTest:/feeds.opml");
            },
            [] { tick(dialog(), "Don't Edit each added feed (but import cannot be cancelled!)", true); },
            [] {
              EXPECT_FALSE(okButton(dialog())->infoDisabled());
              click(dialog(), okButton(dialog()));
            }},
           [&] { quit = importOpmlFile(db, {lists.mainWindow, lists.feeds, lists.tags, record}, root, *charset); });
    EXPECT_FALSE(quit);
    // New feeds join the chain at its front.
    EXPECT_EQ(names(root, *charset), (std::vector<std::string>{"Beta", "Alpha"}));
    EXPECT_EQ(chain(root)[1]->url.str(), server.url("a.rss"));
    // The later folder's spelling is the one every feed keeps.
    for (newsFeed* f : chain(root)) EXPECT_EQ(f->tags.view(), ",news,");
    // A feed the update could not fetch is told by the update; one whose
    // request could not even start, here.
    ASSERT_EQ(ui.calls.size(), 2u);
    EXPECT_EQ(ui.calls[0].title, "Add feed");
    EXPECT_EQ(ui.calls[1].title, "Import OPML");
    EXPECT_EQ(ui.calls[1].filled(), std::string("Failed to add the feed:\n\x1b" "1") + kDead);
    EXPECT_EQ(ui.calls[1].buttons, "OK|Cancel importing");
    EXPECT_EQ(lists.feedNames(), (std::vector<std::string>{"Alpha", "Beta"}));
  });
}

TEST_F(OpmlImport, TheEditorOffersTheOutlineAndCanStopTheImport) {
  opml("<outline text=\"News\"><outline type=\"rss\" text=\"Alpha\" xmlUrl=\"" + server.url("a.rss") +
       "\"/><outline type=\"rss\" text=\"Beta\" xmlUrl=\"" + server.url("b.rss") + "\"/></outline>");
  withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord& record) {
    auto edit = [] { return windowTitled("Edit feed"); };
    script({[] { type(dialog(), "File", "AppTest:/feeds.opml"); }, [] { click(dialog(), okButton(dialog())); },
            [&] {
              EXPECT_EQ(gadget<cGuiString>(edit(), "Name")->getState().view(), "Alpha");
              EXPECT_EQ(gadget<cGuiString>(edit(), "Tags")->getState().view(), "News");
              click(edit(), gadget<cGuiButton>(edit(), "Cancel edit & stop importing"));
            }},
           [&] { importOpmlFile(db, {lists.mainWindow, lists.feeds, lists.tags, record}, root, *charset); });
    // The feed added before the stop stays, as the update named it.
    EXPECT_EQ(names(root, *charset), (std::vector<std::string>{"Feed A"}));
    // "Cancel importing" at a failure ends it too.
    opml(std::string("<outline type=\"rss\" text=\"Dead\" xmlUrl=\"") + kDead + "\"/><outline type=\"rss\" "
         "text=\"Beta\" xmlUrl=\"" + server.url("b.rss") + "\"/>");
    ui.answers = {0};
    script({[] { type(dialog(), "File", "AppTest:/feeds.opml"); }, [] { click(dialog(), okButton(dialog())); }},
           [&] { importOpmlFile(db, {lists.mainWindow, lists.feeds, lists.tags, record}, root, *charset); });
    EXPECT_EQ(names(root, *charset), (std::vector<std::string>{"Feed A"}));
  });
}

TEST_F(OpmlImport, ExportDialogRefusesAnExistingFile) {
  withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    addFeed(db, root, "A", 0, false, "u1");
  });
  write("there.opml", "kept");
  withMain([&](cJournaledIndexedObjectSoupDatabase&, newsRoot& root, MainLists& lists, UpdateWindowRecord&) {
    auto exporter = [] { return windowTitled("Export OPML file"); };
    bool quit = true;
    script({[&] { type(exporter(), "File", "AppTest:/there.opml"); },
            [&] {
              EXPECT_TRUE(okButton(exporter())->infoDisabled());
              screenshot(exporter(), "export_opml_file");
              type(exporter(), "File", "AppTest:/new.opml");
            },
            [&] {
              EXPECT_FALSE(okButton(exporter())->infoDisabled());
              click(exporter(), okButton(exporter()));
            }},
           [&] { quit = exportOpmlFile(lists.mainWindow, root, *charset); });
    EXPECT_FALSE(quit);
    EXPECT_EQ(bytes("there.opml"), "kept");
    EXPECT_NE(bytes("new.opml").find("xmlUrl=\"u1\""), std::string::npos);
  });
}

}  // namespace
}  // namespace bw::testing_app
