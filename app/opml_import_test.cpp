// app/opml_import_test.cpp - the OPML import and the export dialog end to
// end: a scripted user on the offscreen host, feeds served by a loopback
// server, the update window as gui builds it.
#include "app/opml_import.h"

#include <gtest/gtest.h>

#include "app/feed_commands_test_support.h"
#include "app/opml_export.h"
#include "gui/host/core/gui_path_request.h"
#include "gui/host/gui_qt_inputs.h"

#include <QScreen>
#include <QWidget>

namespace bw::testing_app {
namespace {

class OpmlImport : public MainWindowTest {
 protected:
  void opml(const std::string& body) {
    write("feeds.opml", "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><body>" + body + "</body></opml>\n");
  }
  static cGuiWindowHostCore* dialog() { return windowTitled("Import OPML file"); }
  static cGuiWindowHostCore* report() { return windowTitled("Import OPML"); }
  // What the report at the end of an import shows: its summary line and
  // the rows of its list of failures; then "OK".
  struct Report {
    std::string summary;
    std::vector<std::string> failures;
  };
  static ScriptedUser::Step readReport(Report& into) {
    return [&into] {
      ASSERT_NE(report(), nullptr);
      into.summary = std::string(gadget<cGuiText>(report(), "")->getState().view());
      if (auto* list = gadget<cGuiList>(report(), "")) {
        for (bool more = list->cursor_gotoStart(); more; more = list->cursor_gotoNext(1) == 1)
          into.failures.emplace_back(list->cursor_getLabel().view());
      }
      click(report(), okButton(report()));
    };
  }
};

TEST_F(OpmlImport, WithoutEditingEachFeedIsNamedAndTagged) {
  // Alpha's "feed:" address is added as the address it wraps.
  std::string alpha = "feed:" + server.url("a.rss");
  opml("<outline text=\"News\"><outline type=\"rss\" text=\"Alpha\" xmlUrl=\"" + alpha +
       "\"/></outline><outline text=\"news\"><outline type=\"rss\" title=\"Beta\" text=\"x\" xmlUrl=\"\n  " +
       server.url("b.rss") + " \"/><outline type=\"rss\" text=\"Gone\" xmlUrl=\"" + server.url("gone.rss") +
       "\"/><outline type=\"rss\" text=\"Dead\" xmlUrl=\"" + kDead + "\"/></outline>");
  withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord& record) {
    bool quit = true;
    Report shown;
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
            },
            readReport(shown)},
           [&] { quit = importOpmlFile(db, {lists.mainWindow, lists.feeds, lists.tags, record}, root, *charset); });
    EXPECT_FALSE(quit);
    // New feeds join the chain at its front.
    EXPECT_EQ(names(root, *charset), (std::vector<std::string>{"Beta", "Alpha"}));
    EXPECT_EQ(chain(root)[1]->url.str(), server.url("a.rss"));
    EXPECT_EQ(chain(root)[0]->url.str(), server.url("b.rss"));  // the blanks around it left out
    // The later folder's spelling is the one every feed keeps.
    for (newsFeed* f : chain(root)) EXPECT_EQ(f->tags.view(), ",news,");
    // The feeds that could not be added, each with its reason, in one
    // report at the end.
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_EQ(shown.summary, "2 feeds added; 2 failed:");
    EXPECT_EQ(shown.failures, (std::vector<std::string>{"Gone\t" + server.url("gone.rss") + "\tHTTP 404 Not Found",
                                                        "Dead\t" + std::string(kDead) +
                                                            "\tthe feed could not be added"}));
    EXPECT_EQ(lists.feedNames(), (std::vector<std::string>{"Alpha", "Beta"}));
  });
}

TEST_F(OpmlImport, TheEditorOffersTheOutlineAndCanStopTheImport) {
  opml("<outline text=\"News\"><outline type=\"rss\" text=\"Alpha\" xmlUrl=\"" + server.url("a.rss") +
       "\"/><outline type=\"rss\" text=\"Beta\" xmlUrl=\"" + server.url("b.rss") + "\"/></outline>");
  withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord& record) {
    auto edit = [] { return windowTitled("Edit feed"); };
    Report shown;
    script({[] { type(dialog(), "File", "AppTest:/feeds.opml"); }, [] { click(dialog(), okButton(dialog())); },
            [&] {
              EXPECT_EQ(gadget<cGuiString>(edit(), "Name")->getState().view(), "Alpha");
              EXPECT_EQ(gadget<cGuiString>(edit(), "Tags")->getState().view(), "News");
              click(edit(), gadget<cGuiButton>(edit(), "Cancel edit & stop importing"));
            },
            readReport(shown)},
           [&] { importOpmlFile(db, {lists.mainWindow, lists.feeds, lists.tags, record}, root, *charset); });
    // The feed added before the stop stays, as the update named it.
    EXPECT_EQ(names(root, *charset), (std::vector<std::string>{"Feed A"}));
    EXPECT_EQ(shown.summary, "1 feed added.");
    EXPECT_TRUE(shown.failures.empty());
    EXPECT_EQ(gadget<cGuiList>(report(), ""), nullptr);
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
  auto importOnce = [&](Report& shown) {
    withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord& record) {
      script({[] { type(dialog(), "File", "AppTest:/feeds.opml"); },
              [] { tick(dialog(), "Don't Edit each added feed (but import cannot be cancelled!)", true); },
              [] { click(dialog(), okButton(dialog())); }, readReport(shown)},
             [&] { importOpmlFile(db, {lists.mainWindow, lists.feeds, lists.tags, record}, root, *charset); });
      EXPECT_EQ(names(root, *charset), (std::vector<std::string>{"C", "B", "A"}));
      EXPECT_TRUE(ui.calls.empty());
    });
  };
  Report first;
  importOnce(first);
  EXPECT_EQ(first.summary, "3 feeds added; 3 failed:");
  const std::vector<std::string> failed = {"Gone\t" + server.url("gone.rss") + "\tHTTP 404 Not Found",
                                           "Refused\t" + refused + "\tcould not connect to 127.0.0.1:1",
                                           "Dead\t" + std::string(kDead) + "\t"};
  ASSERT_EQ(first.failures.size(), failed.size());
  for (size_t i = 0; i < failed.size(); ++i) EXPECT_EQ(first.failures[i].rfind(failed[i], 0), 0u) << first.failures[i];
  // The same file again adds nothing: the feeds are told apart as already
  // subscribed, and no feed is doubled.
  Report again;
  importOnce(again);
  EXPECT_EQ(again.summary, "0 feeds added; 3 already subscribed; 3 failed:");
  EXPECT_EQ(again.failures.size(), 3u);
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

// The file button opens a save chooser: a name that is there comes back
// only as the chooser asked about it, and then "OK" replaces the file.
TEST_F(OpmlImport, ExportReplacesAFileOnlyAsTheSaveChooserGaveIt) {
  withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    addFeed(db, root, "A", 0, false, "u1");
  });
  write("there.opml", "kept");
  std::vector<GuiPathRequest> requests;
  guiSetPathChooser([&](const GuiPathRequest& request) -> std::optional<GuiPathAnswer> {
    requests.push_back(request);
    return GuiPathAnswer{at("").string(), "there.opml"};
  });
  withMain([&](cJournaledIndexedObjectSoupDatabase&, newsRoot& root, MainLists& lists, UpdateWindowRecord&) {
    auto exporter = [] { return windowTitled("Export OPML file"); };
    auto file = [&] { return static_cast<cGuiPathStringHost*>(gadget<cGuiPathString>(exporter(), "File")); };
    script({[&] { guiPathRequest(*file(), guiPathChooser()); },
            [&] {
              EXPECT_FALSE(okButton(exporter())->infoDisabled());
              // Typed by hand, the same name is refused again.
              type(exporter(), "File", "AppTest:/there.opml ");
            },
            [&] { type(exporter(), "File", "AppTest:/there.opml"); },
            [&] {
              EXPECT_TRUE(okButton(exporter())->infoDisabled());
              guiPathRequest(*file(), guiPathChooser());
            },
            [&] { click(exporter(), okButton(exporter())); }},
           [&] { exportOpmlFile(lists.mainWindow, root, *charset); });
  });
  guiSetPathChooser({});
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].saveMode);
  EXPECT_NE(bytes("there.opml").find("xmlUrl=\"u1\""), std::string::npos);
}

}  // namespace
}  // namespace bw::testing_app

namespace bw::testing_app {
namespace {

TEST(ImportReportText, CountsAddedApartFromAlreadySubscribed) {
  const ImportFailure gone{"Gone", "http://example.org/gone", "HTTP 404 Not Found"};
  struct Case {
    ImportCounts counts;
    const char* text;
  } cases[] = {
      {{0, 0, {}}, "0 feeds added."},
      {{1, 0, {}}, "1 feed added."},
      {{2, 1, {}}, "2 feeds added; 1 already subscribed."},
      {{0, 15, {}}, "0 feeds added; 15 already subscribed."},
      {{3, 0, {gone}}, "3 feeds added; 1 failed:"},
      {{1, 2, {gone, gone}}, "1 feed added; 2 already subscribed; 2 failed:"},
  };
  for (const Case& c : cases) EXPECT_EQ(importReportText(c.counts), c.text);
}

// However many outlines failed, the report is one dialog of the dialogs'
// size on the screen, its "OK" in sight; the failures scroll.
TEST_F(OpmlImport, TheReportOfThousandsOfFailuresFitsTheScreen) {
  ImportCounts counts;
  counts.added = 100;
  for (int i = 0; i < 2000; ++i)
    counts.failures.push_back({"Feed & <b>" + std::to_string(i) + "</b>\t\x1b" "1",
                               "http://127.0.0.1:1/" + std::to_string(i) + ".rss", "could not connect"});
  withMain([&](cJournaledIndexedObjectSoupDatabase&, newsRoot&, MainLists& lists, UpdateWindowRecord&) {
    script({[&] {
             cGuiWindow* shown = report();
             ASSERT_NE(shown, nullptr);
             auto* top = static_cast<QWidget*>(shown->infoNativeObject("OBJT").object);
             const QRect screen = top->screen()->availableGeometry();
             EXPECT_LE(top->frameGeometry().height(), screen.height());
             EXPECT_LE(top->frameGeometry().width(), screen.width());
             EXPECT_TRUE(screen.contains(top->frameGeometry()));
             auto* ok = static_cast<QWidget*>(guiView(*okButton(shown))->nativeObject());
             EXPECT_TRUE(top->rect().contains(QRect(ok->mapTo(top, QPoint(0, 0)), ok->size())));
             auto* list = gadget<cGuiList>(shown, "");
             ASSERT_NE(list, nullptr);
             EXPECT_EQ(list->infoSize(), 2000);
             // A name's tab and escape stay in its own column as spaces.
             list->cursor_gotoStart();
             EXPECT_EQ(list->cursor_getLabel().view(),
                       "Feed & <b>0</b>  1\thttp://127.0.0.1:1/0.rss\tcould not connect");
             screenshot(shown, "import_report");
             click(shown, okButton(shown));
           }},
           [&] { showImportReport(lists.mainWindow, counts); });
  });
}

}  // namespace
}  // namespace bw::testing_app
