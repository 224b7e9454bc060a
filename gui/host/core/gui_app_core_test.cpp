// gui/host/core/gui_app_core_test.cpp - the queue and the waits, the kill
// command, the build walk and the window placement, over fake natives.
#include "gui/host/core/gui_app_core.h"

#include <gtest/gtest.h>

#include "core/raise_test_support.h"
#include "gui/host/core/gui_host_test_support.h"

namespace bw {
namespace {

struct CountingNotify : funcGuiNotify {
  std::vector<cGuiItem*> calls;
  void call(cGuiItem* item) override { calls.push_back(item); }
};

TEST(GuiEventQueue, WaitsReturnEachEventInOrderAfterHandlingIt) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("One");
  FakeGuiWindow* other = client.window("Two");
  w->beginGroupVertical(nullptr);
  cGuiButton* a = w->addButton("a");
  cGuiButton* b = w->addButton("b");
  cGuiButton* part = w->addButton("part");
  w->endGroup();
  part->setOwner(b);
  CountingNotify notify;
  a->setNotifyFunction(&notify);
  w->build();
  ASSERT_EQ(w->chain, (std::vector<cGuiItem*>{a, b, part}));

  // Three notifications in one input pass come back from three waits.
  client.script.push_back([&] {
    w->viewOf(*b)->notify();
    w->viewOf(*part)->notify();
    w->viewOf(*a)->notify();
  });
  EXPECT_EQ(client.waitForChangedGuiItem().item, b);
  EXPECT_EQ(client.waitForChangedGuiItem().item, b);  // the owner reports for its part
  EXPECT_TRUE(notify.calls.empty());
  GuiChange third = client.waitForChangedGuiItem();
  EXPECT_EQ(third.item, a);
  EXPECT_EQ(third.window, w);
  EXPECT_EQ(notify.calls, std::vector<cGuiItem*>{a});  // ran before the wait returned
  EXPECT_EQ(w->infoChangedItem(), a);
  EXPECT_EQ(client.passes, 1);

  // A close request; then an idle poll clears every window's state.
  client.queueWindowEvent(w);
  GuiChange close = client.waitForChangedGuiItem();
  EXPECT_EQ(close.item, nullptr);
  EXPECT_EQ(close.window, w);
  EXPECT_TRUE(w->infoCloseRequested(true));
  other->setChangedItem(a);
  GuiChange idle = client.checkForChangedGuiItem(false);
  EXPECT_EQ(idle.item, nullptr);
  EXPECT_EQ(idle.window, nullptr);
  EXPECT_FALSE(w->infoCloseRequested(true));
  EXPECT_EQ(w->infoChangedItem(), nullptr);
  EXPECT_EQ(other->infoChangedItem(), nullptr);

  // The kill command: one window event per window, then the quit request.
  client.killCommand();
  EXPECT_EQ(client.waitForChangedGuiItem().window, w);
  EXPECT_EQ(client.waitForChangedGuiItem().window, other);
  EXPECT_FALSE(w->infoCloseRequested(true));
  EXPECT_TRUE(other->infoQuitRequested(false));
  EXPECT_FALSE(w->infoQuitRequested(true));

  // The kill signals' form: the quit request stands whoever reads it, and a
  // blocking wait with nothing queued tells every window again.
  const int blocked = client.blockingPasses;
  client.terminate();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(client.waitForChangedGuiItem().window, w);
    EXPECT_EQ(client.waitForChangedGuiItem().window, other);
    EXPECT_TRUE(w->infoQuitRequested(false));
    w->setQuitRequested(false);
    EXPECT_TRUE(other->infoQuitRequested(true));
  }
  EXPECT_EQ(client.blockingPasses, blocked);  // never blocked
  EXPECT_EQ(client.checkForChangedGuiItem(true).window, nullptr);  // a poll finds nothing new
  client.newRun();  // as the next build does
  EXPECT_FALSE(w->infoQuitRequested(true));

  // An ended window's events never come out, even from mid-queue.
  client.queueChangedItem(a, w);
  client.queueWindowEvent(other);
  client.queueChangedItem(b, w);
  client.endGuiWindow(other);
  EXPECT_EQ(client.waitForChangedGuiItem().item, a);
  EXPECT_EQ(client.waitForChangedGuiItem().item, b);
  EXPECT_EQ(client.infoQueued(), 0u);
}

TEST(GuiEventQueue, DroppedPathsAndTheirHandOver) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("Drop");
  client.queueDroppedPath(w, Str("RAM:/a.opml"));
  client.queueDroppedPath(w, Str("RAM:/folder/"));
  client.waitForChangedGuiItem();
  EXPECT_EQ(w->getDroppedPath(true), "RAM:/a.opml");
  EXPECT_EQ(w->getDroppedPath(false), "RAM:/a.opml");
  EXPECT_TRUE(w->getDroppedPath(false).isNil());
  client.waitForChangedGuiItem();
  EXPECT_EQ(w->getDroppedPath(false), "RAM:/folder/");
}

TEST(GuiEventQueue, NothingWorksBeforeTheApplication) {
  FakeGuiClient client;
  client.app = false;
  expectRaise([&] { client.createGuiWindow("x"); }, "EPU",
              "cGuiHost; CreateGuiWindow(); cApp.build() must be called first");
  expectRaise([&] { client.waitForChangedGuiItem(); }, "EPU",
              "cGuiHost; waitForChangedGuiItem(); cApp.build() must be called first");
  expectRaise([&] { client.checkForChangedGuiItem(false); }, "EPU",
              "cGuiHost; checkForChangedGuiItem(); cApp.build() must be called first");
}

TEST(GuiWindowHost, PlacementReadsBackAndIsRememberedOnClose) {
  FakeGuiClient client;
  cApp app;
  FakeGuiWindow* w = client.window("Place");
  expectRaise([&] { w->getPosition(); }, "EMU", "cGuiWindow.getPosition(); no position has been specified yet");
  expectRaise([&] { w->infoWidth(); }, "EMU", "cGuiWindow.infoWidth(); no size has been specified yet");
  expectRaise([&] { w->infoHeight(); }, "EMU", "cGuiWindow.infoHeight(); no size has been specified yet");
  w->beginGroupVertical(nullptr);
  w->endGroup();
  w->build(true);
  // Never opened, never placed: the window opens once to learn its place.
  EXPECT_EQ(w->getPosition().x, 10);
  EXPECT_EQ(w->shows, 2);
  EXPECT_FALSE(w->infoIsOpen());
  w->open();
  w->placement = {50, 60, 320, 240};  // the user moves it
  w->close();
  EXPECT_EQ(w->getPosition().y, 60);
  EXPECT_EQ(w->infoWidth(), 320);
  // Closing while iconified keeps the remembered placement.
  w->open();
  w->placement = {1, 1, 1, 1};
  client.minimise(app, false);
  w->close();
  client.minimise(app, true);
  EXPECT_EQ(w->getPosition().x, 50);
  w->setPosition(7, 8);
  EXPECT_EQ(w->getPosition().x, 7);
}

// The records drop their views along the build chain before the toolkit
// objects go, so no record is left pointing at a deleted widget.
TEST(GuiWindowHost, EndingClearsTheRecordsBeforeTheNatives) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("End");
  w->beginGroupVertical(nullptr);
  w->addText("t");
  w->beginGroupHorizontal(nullptr), w->addButton("b"), w->endGroup();
  w->endGroup();
  w->build();
  bool viewsLeft = true;
  FakeGuiWindow::gDestroyedWith = &viewsLeft;
  client.endGuiWindow(w);
  FakeGuiWindow::gDestroyedWith = nullptr;
  EXPECT_FALSE(viewsLeft);
}

TEST(GuiWindowHost, BuildRefusals) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("W");
  w->beginGroupVertical(nullptr);
  expectRaise([&] { w->build(); }, "EMU", "cGuiWindow.build(); an endGroup() call is missing");
  w->endGroup();
  w->setBusy(true);
  w->build();
  EXPECT_TRUE(w->nativeIsBusy);
  EXPECT_TRUE(w->infoIsOpen());
  EXPECT_EQ(w->infoTitle(), "W");
}

}  // namespace
}  // namespace bw
