// app/gui_main.cpp - gui: the windows' preparation, the command loop, the
// feed-side commands that open no dialog, and the quit sequence.
#include "app/gui_main.h"

#include "app/console_ui.h"
#include "app/add_feed_dialog.h"
#include "app/feed_delete.h"
#include "app/feed_dialogs.h"
#include "app/feed_list.h"
#include "app/gui_news_ui.h"
#include "app/main_windows.h"
#include "app/news_item_commands.h"
#include "app/news_list.h"
#include "app/opml_export.h"
#include "app/program_identity.h"
#include "app/show_filter_search.h"
#include "app/update_feeds.h"
#include "core/box.h"
#include "core/exception.h"
#include "core/system_charset.h"
#include "database/soup_block_file.h"
#include "gui/host/core/gui_list_host.h"
#include "gui/host/gui_app_client.h"
#include "gui/host/gui_natives.h"
#include "news/feed_tags.h"
#include "news/seen_times.h"
#include "social/log_out_window.h"

namespace bw {
namespace {

// Ends the windows and hands back the shown item however gui ends.
class WindowsEnd {
 public:
  WindowsEnd(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g, NewsGuiWindows& windows)
      : db_(db), g_(g), windows_(windows) {}
  ~WindowsEnd() {
    try {
      releaseShownItem(db_, g_);
    } catch (...) {
      // The database is failing already; the windows must still go.
    }
    endUpdateWindow(g_.update, windows_);
    endGuiWindow(g_.contentsWindow);
    endGuiWindow(g_.mainWindow);
    g_.contentsWindow = g_.mainWindow = nullptr;
  }
  WindowsEnd(const WindowsEnd&) = delete;
  WindowsEnd& operator=(const WindowsEnd&) = delete;

 private:
  cJournaledIndexedObjectSoupDatabase& db_;
  GuiGadgets& g_;
  NewsGuiWindows& windows_;
};

class GuiLoop {
 public:
  GuiLoop(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g, StatusWindow* status)
      : db_(db), root_(root), g_(g), status_(status) {}

  void prepare();
  void run();
  void quitSequence();

 private:
  GuiChange fetch();
  void mainWindowEvent();
  void contentsWindowEvent();
  void dispatch(cGuiItem* item);

  // Feed-side commands.
  void deselectCommand();
  void updateCommand(bool all);
  void logOutCommand();
  void disableEnableCommand();
  void deselectTagsCommand();
  void tagChooserCommand();
  void showTagSelection();
  void feedListCommand();
  void undoSeenCommand();
  // The feed commands with dialogs (app/feed_dialogs.h, app/opml_export.h).
  void exportCommand();
  void feedInfoCommand();
  void editCommand();
  void renameCommand();
  void addCommand();
  void deleteCommand();

  // Shared steps.
  void deselectEveryFeed();
  void logOutState();
  void showReset();
  void fillNewsList() {
    fillNewsItemList(db_, g_.charset.get(), root_, g_.feedList, *g_.newsList, g_.newsStatusText, g_.showCycle);
  }
  void refreshFeedLists() {
    refreshTagChooserAndFeedList(*g_.feedList, *g_.tagChooser, db_, g_.charset.get(), root_);
  }
  bool newsListHasSelection() const { return g_.newsList->infoActive() >= 0; }

  cJournaledIndexedObjectSoupDatabase& db_;
  newsRoot& root_;
  GuiGadgets& g_;
  StatusWindow* status_;
  bool quit_ = false;
  bool pendingFeedList_ = true;
  bool pendingNewsList_ = false;
};

void GuiLoop::prepare() {
  showFeedCountStatus(g_.feedStatusText, *g_.feedList);
  logOutState();
  if (restoreTagSelection(*g_.tagChooser, root_)) refreshFeedLists();
  const bool noTag = !g_.tagChooser->cursor_gotoFirstSelected();
  g_.deselectTagsButton->setDisabled(noTag);
  g_.renameTagButton->setDisabled(noTag);

  guiItemSetNativeAttr(g_.feedList, guiSaveId("LstF"));
  guiItemSetNativeAttr(g_.newsList, guiSaveId("LstN"));
  guiAppLoadSavedStates(g_.mainWindow);
  guiListApplyUserSort(g_.feedList);
  guiListApplyUserSort(g_.newsList);

  // The feeds selected when the program last ended.
  cGuiList& feeds = *g_.feedList;
  feeds.markAll();
  feeds.marked_setState(false);
  feeds.marked_clear();
  if (feeds.cursor_gotoStart()) {
    do {
      if (newsFeed* feed = feedAtCursor(feeds); feed && feed->selectedInList) feeds.cursor_setMarked(true);
    } while (feeds.cursor_gotoNext(1) != 0);
  }
  feeds.marked_setState(true);

  pendingFeedList_ = true;
  while (cGuiHost::checkForChangedGuiItem(false).window) {
  }
  updateFeedGadgets(g_);
  g_.mainWindow->open();
}

GuiChange GuiLoop::fetch() {
  if (pendingFeedList_) {
    pendingFeedList_ = false;
    g_.feedList->setChangedFlag(true);
    return {g_.feedList, g_.mainWindow};
  }
  if (pendingNewsList_) {
    pendingNewsList_ = false;
    g_.newsList->setChangedFlag(true);
    return {g_.newsList, g_.mainWindow};
  }
  return cGuiHost::waitForChangedGuiItem();
}

void GuiLoop::run() {
  while (!quit_) {
    GuiChange change = fetch();
    if (change.window == g_.contentsWindow && change.item == g_.contentsShowPreviousButton) {
      change = {g_.showPreviousButton, g_.mainWindow};
    }
    if (change.window == g_.mainWindow) {
      if (change.item) {
        dispatch(change.item);
      } else {
        mainWindowEvent();
      }
    } else if (change.window == g_.contentsWindow && !change.item) {
      contentsWindowEvent();
    }
  }
}

void GuiLoop::mainWindowEvent() {
  if (g_.mainWindow->infoCloseRequested(false)) {
    if (!g_.contentsWindow->infoIsOpen()) {
      quit_ = true;
    } else {
      const FormatArguments name = {std::string(programName)};
      if (gui_requester(programName, "Did you really want to close %s?", "Yes|No", &name, 0, 0) == 1) quit_ = true;
    }
  }
  if (g_.mainWindow->infoQuitRequested(false)) quit_ = true;
}

void GuiLoop::contentsWindowEvent() {
  if (g_.contentsWindow->infoCloseRequested(false)) {
    g_.contentsWindow->close();
    g_.openClosePage->setState(0);
  }
  if (g_.contentsWindow->infoQuitRequested(false)) quit_ = true;
}

void GuiLoop::dispatch(cGuiItem* item) {
  if (item == g_.deselectButton) {
    deselectCommand();
  } else if (item == g_.updateSelectedButton) {
    updateCommand(false);
  } else if (item == g_.updateAllButton) {
    if (root_.firstLoadedFeed) updateCommand(true);
  } else if (item == g_.logOutButton) {
    logOutCommand();
  } else if (item == g_.exportButton) {
    exportCommand();
  } else if (item == g_.feedInfoButton) {
    feedInfoCommand();
  } else if (item == g_.editButton) {
    editCommand();
  } else if (item == g_.addButton) {
    addCommand();
  } else if (item == g_.disableButton || item == g_.enableButton) {
    disableEnableCommand();
  } else if (item == g_.deleteButton) {
    deleteCommand();
  } else if (item == g_.showCycle) {
    showCycleChanged(db_, root_, g_);
  } else if (item == g_.deselectTagsButton) {
    deselectTagsCommand();
  } else if (item == g_.tagChooser) {
    tagChooserCommand();
  } else if (item == g_.renameTagButton) {
    renameCommand();
  } else if (item == g_.feedList) {
    feedListCommand();
  } else if (item == g_.summaryIsContentsTick) {
    summaryIsContentsTicked(db_, root_, g_);
  } else if (item == g_.wrongAboutUpdatesTick) {
    wrongAboutUpdatesTicked(db_, root_, g_);
  } else if (item == g_.showPreviousButton) {
    showPreviousUpdate(db_, g_);
  } else if (item == g_.filterSearchCycle) {
    filterSearchCycleChanged(db_, root_, g_);
  } else if (item == g_.searchString) {
    searchStringChanged(db_, root_, g_);
  } else if (item == g_.filterString || item == g_.feedFlagTick) {
    filterStringChanged(db_, root_, g_, item == g_.filterString ? g_.filterString : nullptr, g_.feedFlagTick);
  } else if (item == g_.openButton || item == g_.closeButton) {
    openOrCloseContents(db_, root_, g_);
  } else if (item == g_.openLinkButton) {
    openNewsItemLink(db_, root_, g_);
  } else if (item == g_.newsInfoButton) {
    quit_ = newsItemInfo(g_) || quit_;
  } else if (item == g_.deleteItemButton) {
    quit_ = deleteShownNewsItem(db_, root_, g_) || quit_;
  } else if (item == g_.undoSeenButton) {
    undoSeenCommand();
  } else if (item == g_.markUnreadButton) {
    markNewsItemUnread(db_, g_);
  } else if (item == g_.newsList) {
    newsListChanged(db_, root_, g_);
  }
}

void GuiLoop::deselectCommand() {
  WindowBusy busy(g_.mainWindow);
  if (g_.feedList->infoSelectionCount() == 0) return;
  deselectEveryFeed();
  showReset();
}

// "Update selected" (all FALSE): the selected enabled feeds, else every
// enabled loaded feed with a chosen tag; "Update all": every enabled feed.
void GuiLoop::updateCommand(bool all) {
  WindowBusy busy(g_.mainWindow);
  g_.newsList->setDisabled(true);
  cMegaList_class workList(false, nullptr, false);
  auto add = [&workList](newsFeed* feed) {
    if (!feed->disabled) workList.infoPastEnd()->beforeInsert(workList.makeFloating(feed));
  };
  cGuiList& feeds = *g_.feedList;
  if (!all && feeds.infoSelectionCount() > 0) {
    for (bool more = feeds.cursor_gotoFirstSelected(); more; more = feeds.cursor_gotoNextSelected())
      if (newsFeed* feed = feedAtCursor(feeds)) add(feed);
  } else {
    for (newsFeed* feed = root_.firstLoadedFeed; feed; feed = feed->nextLoadedFeed)
      if (all || feedHasVisibleTag(*feed, g_.tagChooser, g_.charset.get())) add(feed);
  }
  if (updateFeeds(workList, feeds, *g_.tagChooser, g_.mainWindow, g_.update, g_.undoSeenButton, db_,
                  g_.charset.get(), root_))
    quit_ = true;
  fillNewsList();
  showFeedCountStatus(g_.feedStatusText, feeds);
  logOutState();
  g_.newsList->setDisabled(false);
}

void GuiLoop::logOutCommand() {
  WindowBusy busy(g_.mainWindow);
  if (showLogOutWindow(db_, root_)) quit_ = true;
  logOutState();
}

void GuiLoop::disableEnableCommand() {
  if (g_.feedList->infoSelectionCount() == 0) return;
  WindowBusy busy(g_.mainWindow);
  {
    SoupTransaction transaction(db_.infoBlockFile());
    for (bool more = g_.feedList->cursor_gotoFirstSelected(); more; more = g_.feedList->cursor_gotoNextSelected()) {
      if (newsFeed* feed = feedAtCursor(*g_.feedList)) {
        feed->disabled = !feed->disabled;
        db_.saveChangesToObject(feed);
      }
    }
    transaction.finish();
  }
  showFeedCountStatus(g_.feedStatusText, *g_.feedList);
  refreshFeedLists();
  updateFeedGadgets(g_);  // the page shows what the next press does
}

void GuiLoop::deselectTagsCommand() {
  g_.tagChooser->markAll();
  g_.tagChooser->marked_setState(false);
  if (g_.feedList->infoSelectionCount() == 0) showReset();
  showFeedCountStatus(g_.feedStatusText, *g_.feedList);
}

void GuiLoop::tagChooserCommand() {
  WindowBusy busy(g_.mainWindow);
  if (g_.tagChooser->infoSelectionCount() > 0 && g_.feedList->infoSelectionCount() > 0) deselectEveryFeed();
  showTagSelection();
}

// The feeds of the tags selected, their count and their news, together.
void GuiLoop::showTagSelection() {
  refreshFeedLists();
  showFeedCountStatus(g_.feedStatusText, *g_.feedList);
  fillNewsList();
  const bool noTag = g_.tagChooser->infoSelectionCount() == 0;
  g_.deselectTagsButton->setDisabled(noTag);
  g_.renameTagButton->setDisabled(noTag);
}

void GuiLoop::feedListCommand() {
  if (!g_.feedList->infoChangedFlag(false)) return;
  updateOldestSeenTime(root_, g_.feedList, &g_.undoSeen, false);
  {
    WindowBusy busy(g_.mainWindow);
    fillNewsList();
  }
  updateFeedGadgets(g_);
  if (!newsListHasSelection()) clearShownItem(db_, g_);
  showFeedOptions(db_, g_.shownItem, *g_.feedList, g_.summaryIsContentsTick, g_.wrongAboutUpdatesTick,
                  g_.filterString, g_.feedFlagTick);
}

void GuiLoop::undoSeenCommand() {
  WindowBusy busy(g_.mainWindow);
  if (!canUndoSeen(root_)) return;
  undoSeen(g_.feedList, &g_.undoSeen, db_, root_);
  refreshFeedLists();
  fillNewsList();
  if (newsListHasSelection()) {
    const int32_t active = g_.newsList->infoActive();
    g_.newsList->cursor_gotoStart();
    g_.newsList->cursor_gotoNext(active);
    g_.newsList->cursor_setState(false);
  }
  g_.contentsWindow->close();
  g_.openClosePage->setState(0);
}

void GuiLoop::exportCommand() {
  WindowBusy busy(g_.mainWindow);
  if (exportOpmlFile(g_.mainWindow, root_, *g_.charset)) quit_ = true;
}

void GuiLoop::feedInfoCommand() {
  if (g_.feedList->infoSelectionCount() == 0) return;
  WindowBusy busy(g_.mainWindow);
  if (showSelectedFeedsInfo(*g_.feedList, *g_.charset)) quit_ = true;
}

void GuiLoop::editCommand() {
  if (g_.feedList->infoSelectionCount() == 0) return;
  EditFeedsResult edited;
  {
    WindowBusy busy(g_.mainWindow);
    edited = editSelectedFeeds(db_, g_.mainWindow, *g_.feedList, *g_.tagChooser, root_, *g_.charset);
  }
  if (edited.quit) quit_ = true;
  if (!edited.anySelected) showReset();
}

void GuiLoop::renameCommand() {
  if (g_.tagChooser->infoSelectionCount() == 0) return;
  WindowBusy busy(g_.mainWindow);
  if (renameSelectedTags(db_, g_.mainWindow, *g_.feedList, *g_.tagChooser, root_, *g_.charset)) quit_ = true;
  showTagSelection();
}

void GuiLoop::addCommand() {
  WindowBusy busy(g_.mainWindow);
  AddFeedResult added = addFeed(
      db_, {g_.mainWindow, g_.feedStatusText, *g_.feedList, *g_.tagChooser, &g_.undoSeen, g_.update}, root_,
      *g_.charset);
  if (added.quit) quit_ = true;
  if (added.feed) {
    if (!quit_) {
      if (editFeed(*added.feed, nullptr, db_, g_.mainWindow, *g_.feedList, *g_.tagChooser, root_, *g_.charset,
                   nullptr, nullptr)
              .quit)
        quit_ = true;
      refreshTagChooser(*g_.tagChooser, root_, g_.charset.get());
    }
    if (gotoFeedRow(*g_.feedList, added.feed)) {
      g_.feedList->cursor_setState(true);
      pendingFeedList_ = true;
    }
  }
  logOutState();
}

void GuiLoop::deleteCommand() {
  if (g_.feedList->infoSelectionCount() == 0) return;
  DeleteFeedsResult result;
  {
    WindowBusy busy(g_.mainWindow);
    result = deleteFeeds(*g_.feedList, {g_.selectedItem, g_.shownItem, g_.shownBody}, db_, root_, *g_.charset);
  }
  if (!result.deleted) return;
  showFeedCountStatus(g_.feedStatusText, *g_.feedList);
  showReset();
  updateOldestSeenTime(root_, g_.feedList, &g_.undoSeen, false);
  fillNewsItemList(db_, g_.charset.get(), root_, g_.feedList, *g_.newsList, g_.newsStatusText, g_.showCycle);
  updateFeedGadgets(g_);
  // deleteFeeds has handed back the items of the deleted feeds; the rest
  // goes the usual way.
  if (!newsListHasSelection()) clearShownItem(db_, g_);
  showFeedOptions(db_, g_.shownItem, *g_.feedList, g_.summaryIsContentsTick, g_.wrongAboutUpdatesTick,
                  g_.filterString, g_.feedFlagTick);
}

void GuiLoop::deselectEveryFeed() {
  cGuiList& feeds = *g_.feedList;
  feeds.marked_clear();
  for (bool more = feeds.cursor_gotoFirstSelected(); more; more = feeds.cursor_gotoNextSelected())
    feeds.cursor_setMarked(true);
  feeds.marked_setState(false);
}

void GuiLoop::logOutState() {
  g_.logOutButton->setDisabled(root_.twitterToken.isNil() && root_.facebookAccessToken.isNil());
}

void GuiLoop::showReset() {
  if (g_.showCycle->getState() <= 2) return;
  g_.showCycle->setState(0);
  updateOldestSeenTime(root_, g_.feedList, &g_.undoSeen, true);
}


void GuiLoop::quitSequence() {
  joinListWithCommas(*g_.tagChooser, db_, root_);
  {
    SoupTransaction transaction(db_.infoBlockFile());
    for (newsFeed* feed = root_.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
      if (!feed->selectedInList) continue;
      feed->selectedInList = false;
      db_.saveChangesToObject(feed);
    }
    for (bool more = g_.feedList->cursor_gotoFirstSelected(); more; more = g_.feedList->cursor_gotoNextSelected()) {
      if (newsFeed* feed = feedAtCursor(*g_.feedList)) {
        feed->selectedInList = true;
        db_.saveChangesToObject(feed);
      }
    }
    transaction.finish();
  }
  if (status_) status_->open();
  guiAppSaveStates(g_.mainWindow);
  g_.mainWindow->close();
}

}  // namespace

void gui(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, StatusWindow* statusWindow) {
  GuiGadgets g;
  g.charset = newSystemEncoding();
  if (!g.charset) raise("ERR", "gui(); failed to load system charset");
  auto* ui = dynamic_cast<GuiNewsUi*>(&newsUi());
  if (!ui) raise("BUG", "gui(); the windowed news interface is not installed");
  assignToolbarImages();
  WindowsEnd end(db, g, ui->windows());
  g.mainWindow = cGuiHost::CreateGuiWindow(kMainWindowBanner);
  g.contentsWindow = cGuiHost::CreateGuiWindow("News item contents");
  cGuiHost::SetMainWindow(g.mainWindow);
  buildMainWindow(g, db, root);
  buildContentsWindow(g);
  GuiLoop loop(db, root, g, statusWindow);
  loop.prepare();
  // Built once the main window is open: it is then the main window's dialog.
  g.update = buildUpdateWindow(ui->windows());
  loop.run();
  loop.quitSequence();
}

}  // namespace bw
