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
    // The feeds that could not be added, each with its reason, in one
    // report at the end.
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].title, "Import OPML");
    EXPECT_EQ(ui.calls[0].filled(), "2 feeds added; 2 failed:\n\x1b" "1Gone (" + server.url("gone.rss") +
                                        "): HTTP 404 Not Found\n\x1b" "1Dead (" + kDead +
                                        "): the feed could not be added");
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
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].filled(), "1 feed added.");
  });
}

// Outlines with an address are feeds whatever their type; those that
// cannot be fetched stop nothing and are told once, at the end.
TEST_F(OpmlImport, UnreachableOutlinesAreListedInOneReport) {
  const std::string refused = "http://127.0.0.1:1/r.rss";
  opml("<outline text=\"News\"><outline type=\"rss\" text=\"A\" xmlUrl=\"" + server.url("a.rss") +
       "\"/><outline text=\"Gone\" xmlUrl=\"" + server.url("gone.rss") + "\"/><outline text=\"Inner\">"
       "<outline text=\"B\" xmlUrl=\"" + server.url("b.rss") + "\"/><outline type=\"rss\" text=\"Refused\" "
       "xmlUrl=\"" + refused + "\"/></outline><outline type=\"link\" text=\"C\" xmlUrl=\"" + server.url("c.rss") +
       "\"/><outline text=\"Dead\" xmlUrl=\"" + kDead + "\"/></outline>");
  withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord& record) {
    script({[] { type(dialog(), "File", "AppTest:/feeds.opml"); },
            [] { tick(dialog(), "Don't Edit each added feed (but import cannot be cancelled!)", true); },
            [] { click(dialog(), okButton(dialog())); }},
           [&] { importOpmlFile(db, {lists.mainWindow, lists.feeds, lists.tags, record}, root, *charset); });
    EXPECT_EQ(names(root, *charset), (std::vector<std::string>{"C", "B", "A"}));
    ASSERT_EQ(ui.calls.size(), 1u);
    const std::string report = ui.calls[0].filled();
    EXPECT_EQ(report.substr(0, report.find('\n')), "3 feeds added; 3 failed:");
    for (const std::string& failed : {"Gone (" + server.url("gone.rss") + "): HTTP 404 Not Found",
                                      "Refused (" + refused + "): could not connect to 127.0.0.1:1",
                                      "Dead (" + std::string(kDead) + "): "}) {
      EXPECT_NE(report.find("\n\x1b" "1" + failed), std::string::npos) << report;
    }
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
