// app/update_window_test.cpp - the "Update feeds" window as built, its
// gadgets as the news layer sees them, and the companion windows' sizes.
#include "app/update_window.h"

#include <gtest/gtest.h>

#include "app/update_gui_test_support.h"
#include "app/window_sizes.h"

namespace bw {
namespace {

using UpdateWindow = testing_app::GuiHostTest;

TEST_F(UpdateWindow, BuiltClosedInOrderAndServedToTheNewsLayer) {
  UpdateWindowRecord r = buildUpdateWindow(windows);
  ASSERT_NE(r.window, nullptr);
  EXPECT_EQ(r.window->infoTitle().str(), "Update feeds");
  EXPECT_EQ(r.window->infoSaveID(), guiSaveId("UpdF"));
  EXPECT_TRUE(r.window->infoBuilt());
  EXPECT_FALSE(r.window->infoIsOpen());
  EXPECT_EQ(testing_app::itemTree(r.window->infoRootGroup()),
            "cGuiGroupVerticalHost[cGuiTextHost:Feed cGuiTextHost:Status cGuiTextHost:Progress "
            "cGuiGroupHorizontalHost[cGuiGroupPageHost[cGuiGroupHorizontalHost[cGuiButtonHost:Pause] "
            "cGuiGroupHorizontalHost[cGuiButtonHost:Resume]] cGuiButtonHost:Cancel]]");
  std::string labels;
  for (cGuiLabelledItem* g : std::initializer_list<cGuiLabelledItem*>{
           r.feedText, r.statusText, r.progressText, r.pauseButton, r.resumeButton, r.cancelButton})
    labels += g->infoLabel().str() + ",";
  EXPECT_EQ(labels, "Feed,Status,Progress,Pause,Resume,Cancel,");
  EXPECT_EQ(r.pauseButton->infoParent()->infoParent(), r.buttonPage);

  // What the news layer writes shows on the gadgets.
  const feedProgressGui& p = r.progress;
  p.feedText->setState("(1/2) A");
  p.stepText->setState("Connecting to feed...");
  p.progressText->setState("12 bytes (50%)");
  p.pauseResumePage->setState(1);
  EXPECT_EQ(r.feedText->getState().str(), "(1/2) A");
  EXPECT_EQ(r.statusText->getState().str(), "Connecting to feed...");
  EXPECT_EQ(p.progressText->state().str(), "12 bytes (50%)");
  EXPECT_EQ(r.buttonPage->getState(), 1);

  // And its polls answer the window's own items.
  struct {
    cGuiButton* button;
    NewsGuiItem* expected;
  } presses[] = {{r.pauseButton, p.pauseButton}, {r.resumeButton, p.resumeButton}, {r.cancelButton, p.cancelButton}};
  for (auto& press : presses) {
    guiNotify(press.button, testing_app::hostOf(r.window));
    ChangedGuiItem e = windows.checkForChangedGuiItem();
    EXPECT_EQ(e.window, p.window);
    EXPECT_EQ(e.item, press.expected);
  }
  guiAppClient()->queueWindowEvent(testing_app::hostOf(r.window));
  ChangedGuiItem close = windows.checkForChangedGuiItem();
  EXPECT_EQ(close.window, p.window);
  EXPECT_EQ(close.item, nullptr);
  EXPECT_TRUE(p.window->infoCloseRequested(false));

  EXPECT_EQ(testing_app::guiWindowCount(), 1);
  endUpdateWindow(r, windows);
  EXPECT_EQ(testing_app::guiWindowCount(), 0);
  EXPECT_EQ(r.window, nullptr);
  EXPECT_EQ(windows.hostWindow(p.window), nullptr);
  endUpdateWindow(r, windows);  // a cleared record ends nothing
}

TEST(WindowSizes, ContentsBesideTheMainWindowAndDialogsFromTheirOwner) {
  cGuiWindow main, contents, dialog;
  main.setPosition(30, 40);
  main.setSize(1000, 700);
  sizeContentsWindow(&main, &contents);
  EXPECT_EQ(contents.infoWidth(), 500);
  EXPECT_EQ(contents.infoHeight(), 700);
  EXPECT_EQ(contents.getPosition().x, 30);
  EXPECT_EQ(contents.getPosition().y, 40);
  main.setSize(1001, 1);
  sizeContentsWindow(&main, &contents);
  EXPECT_EQ(contents.infoWidth(), 500);

  struct {
    int32_t owner, width;
  } cases[] = {{1000, 640}, {1600, 800}, {1281, 640}, {1283, 641}, {200, 640}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.owner);
    main.setSize(c.owner, 300);
    sizeDialogWindow(&main, &dialog);
    EXPECT_EQ(dialog.infoWidth(), c.width);
    EXPECT_EQ(dialog.infoHeight(), 50);
  }
}

}  // namespace
}  // namespace bw
