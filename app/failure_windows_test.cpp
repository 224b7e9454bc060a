// app/failure_windows_test.cpp - failures told in the windows, offscreen:
// each failing feed of the shared table added through "Add feed" brings a
// requester that tells the reason the shell's report tells, and a feed
// whose update failed shows its row in italics with the reason and time as
// the row's tool tip.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <algorithm>
#include <QFont>
#include <QTreeView>

#include "app/feed_commands_test_support.h"
#include "app/feed_failure_test_support.h"
#include "app/gui_user_test_support.h"
#include "web/tls_server_test_support.h"

namespace bw::testing_app {
namespace {

const std::string kGoodFeed =
    "HTTP/1.0 200 OK\r\nContent-Type: application/xml\r\n\r\n<rss version=\"2.0\"><channel><title>fine</title>"
    "<item><title>one</title><link>http://example.org/1</link></item></channel></rss>";

test::Reply answer(const std::string& request) {
  return failingFeedAnswer(requestedName(request)).value_or(test::Reply{{kGoodFeed}});
}

class FailureWindowsTest : public GuiProgramTest {
 protected:
  static cGuiKeyButton* firstButton(cGuiWindow* w) { return gadget<cGuiKeyButton>(w, ""); }
};

TEST_F(FailureWindowsTest, EachFeedThatCannotBeAddedIsToldWithItsReason) {
  test::TlsFileServer tls(2);
  tls.put("untrusted", kGoodFeed.substr(kGoodFeed.find("<rss")));
  test::LoopbackServer server([](const std::string& request, int) { return answer(request); }, 7);
  const std::vector<FailingFeed> failing =
      failingFeeds("http://127.0.0.1:" + std::to_string(server.port()) + "/", tls.port() ? tls.url("untrusted") : "");
  makeEmptyDatabase("database.soup");
  std::vector<std::vector<std::string>> told(failing.size());
  std::vector<ScriptedUser::Step> steps;
  for (size_t i = 0; i < failing.size(); ++i) {
    steps.push_back([] { click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Add")); });
    steps.push_back([&, i] {
      cGuiWindow* dialog = windowTitled("Add feed");
      type(dialog, "URL", failing[i].url);
      click(dialog, okButton(dialog));
    });
    steps.push_back([&, i] {
      cGuiWindow* requester = windowTitled("Add feed");
      ASSERT_TRUE(requester && requester->infoIsOpen()) << failing[i].name << ": no requester";
      told[i] = labelsOf(requester);
      click(requester, firstButton(requester));
    });
  }
  steps.push_back([] {
    EXPECT_EQ(gadget<cGuiList>(mainWindow(), "", 1)->infoCount(), 0);  // none was added
    closeWindow(mainWindow());
  });
  EXPECT_EQ(runGui(steps), 0);
  for (size_t i = 0; i < failing.size(); ++i) {
    SCOPED_TRACE(failing[i].name);
    ASSERT_GE(told[i].size(), 2u);
    EXPECT_EQ(told[i][0], failing[i].addHeading);
    // The address (a parse error tells where the document was kept), and
    // the reason in the words of the shell's report (a web page without a
    // feed's link is told as such).
    if (!failing[i].addHeading.starts_with("Parsing error")) {
      EXPECT_NE(std::find(told[i].begin(), told[i].end(), failing[i].url), told[i].end()) << failing[i].url;
    }
    if (failing[i].addHeading == "No news feed found for:") continue;
    EXPECT_TRUE(std::any_of(told[i].begin(), told[i].end(),
                            [&](const std::string& line) { return line.starts_with(failing[i].reason); }))
        << told[i][1];
  }
  if (HasFailure()) std::cerr << output;
}

TEST_F(FailureWindowsTest, AFeedWhoseUpdateFailedTellsWhyOverItsItalicRow) {
  test::LoopbackServer server([](const std::string& request, int) { return answer(request); }, 2);
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    addFeed(db, root, "fine", 0, false, base + "fine");
    addFeed(db, root, "gone404", 0, false, base + "gone404");
  });
  cGuiList* feeds = nullptr;
  auto rowOf = [&](const char* name) {
    for (int32_t i = 0; i < feeds->infoCount(); ++i)
      if (guiListColumnField(feeds->infoEntryAt(i)->label.view(), 0) == name) return static_cast<int>(i);
    return -1;
  };
  EXPECT_EQ(runGui({
                [&] {
                  feeds = gadget<cGuiList>(mainWindow(), "", 1);
                  click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Update all"));
                },
                [&] {
                  auto* tree = static_cast<QTreeView*>(guiView(*feeds)->nativeObject());
                  QAbstractItemModel* model = tree->model();
                  const int gone = rowOf("gone404"), fine = rowOf("fine");
                  ASSERT_GE(gone, 0);
                  ASSERT_GE(fine, 0);
                  EXPECT_TRUE(model->index(gone, 0).data(Qt::FontRole).value<QFont>().italic());
                  const std::string tip = model->index(gone, 2).data(Qt::ToolTipRole).toString().toStdString();
                  EXPECT_EQ(tip.substr(0, 35), "Last failure: HTTP 404 Not Found (2") << tip;
                  EXPECT_FALSE(model->index(fine, 0).data(Qt::ToolTipRole).isValid());
                  closeWindow(mainWindow());
                },
            }),
            0);
  if (HasFailure()) std::cerr << output;
}

}  // namespace
}  // namespace bw::testing_app
