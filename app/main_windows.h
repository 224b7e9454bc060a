// app/main_windows.h - the gadget set of the windowed mode: the main window
// and the "News item contents" window built gadget by gadget, the shown-item
// state, and the small procedures that keep gadget states in step with the
// selections.
//
// Invariants:
//   1. Gadgets belong to their windows; GuiGadgets only refers to them. The
//      gadgets that are never built (the feed-flag tick and the set/clear
//      mark page) stay NIL and so never match an event; "Export" and
//      "Delete item" are built like the rest.
//   2. selectedItem, shownItem and shownBody are loaded database objects or
//      NIL; releaseShownItem hands all three back and clears them.
//   3. Building raises only the toolkit's exceptions; the windows are built
//      closed, the main window is opened by the caller after its
//      preparation.
//   4. getToolbarImagePath answers a fresh string; no module-owned buffer.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "app/update_window.h"
#include "core/charset.h"
#include "database/soup_database.h"
#include "gui/gui_gadgets.h"
#include "gui/gui_list.h"
#include "gui/gui_window.h"
#include "news/news_objects.h"
#include "news/seen_times.h"

namespace bw {

// The main window's title.
inline constexpr const char* kMainWindowBanner = "Brindlework 1.2 (18.06.2017)";
// The Show cycle's labels, in state order (0 "Show unseen" .. 4 "Show ALL").
inline constexpr std::array<const char*, 5> kShowCycleLabels = {"Show unseen", "Show last week", "Show last month",
                                                                 "Show last year", "Show ALL"};
inline constexpr std::array<const char*, 2> kFilterSearchLabels = {"Filter", "Search"};

// The "Undo seen" button as the news model's seen-time procedures use it.
class UndoSeenGuiButton : public UndoSeenButton {
 public:
  void setDisabled(bool disabled) override {
    if (button) button->setDisabled(disabled);
  }
  cGuiButton* button = nullptr;
};

struct GuiGadgets {
  cGuiWindow* mainWindow = nullptr;
  cGuiWindow* contentsWindow = nullptr;

  // "Feeds" group.
  cGuiText* feedStatusText = nullptr;
  cGuiButton* deselectTagsButton = nullptr;  // " X "
  cGuiList* tagChooser = nullptr;
  cGuiButton* renameTagButton = nullptr;
  cGuiButton* deselectButton = nullptr;
  cGuiButton* updateSelectedButton = nullptr;
  cGuiButton* updateAllButton = nullptr;
  cGuiButton* logOutButton = nullptr;
  cGuiButton* feedInfoButton = nullptr;
  cGuiList* feedList = nullptr;
  cGuiButton* editButton = nullptr;
  cGuiButton* addButton = nullptr;
  cGuiGroupPage* disableEnablePage = nullptr;
  cGuiButton* disableButton = nullptr;
  cGuiButton* enableButton = nullptr;
  cGuiButton* deleteButton = nullptr;
  cGuiButton* exportButton = nullptr;
  // "Summary of news item" group.
  cGuiText* summaryTitleText = nullptr;
  cGuiTextBox* summaryTextBox = nullptr;
  cGuiTick* summaryIsContentsTick = nullptr;
  cGuiTick* wrongAboutUpdatesTick = nullptr;
  cGuiButton* showPreviousButton = nullptr;
  // "News" group.
  cGuiText* newsStatusText = nullptr;
  cGuiCycleChoice* showCycle = nullptr;
  cGuiGroupPage* openClosePage = nullptr;
  cGuiButton* openButton = nullptr;
  cGuiButton* closeButton = nullptr;
  cGuiButton* openLinkButton = nullptr;
  cGuiButton* newsInfoButton = nullptr;
  cGuiList* newsList = nullptr;
  cGuiCycleChoice* filterSearchCycle = nullptr;
  cGuiGroupPage* filterSearchPage = nullptr;
  cGuiString* filterString = nullptr;
  cGuiString* searchString = nullptr;
  cGuiTick* feedFlagTick = nullptr;  // never built
  cGuiButton* markUnreadButton = nullptr;
  cGuiButton* undoSeenButton = nullptr;
  cGuiButton* deleteItemButton = nullptr;
  cGuiGroupPage* setClearMarkPage = nullptr;   // never built
  UndoSeenGuiButton undoSeen;                  // undoSeenButton for news/

  // "News item contents" window.
  cGuiText* contentsTitleText = nullptr;
  cGuiTextBox* contentsTextBox = nullptr;
  cGuiButton* contentsShowPreviousButton = nullptr;

  // "Update feeds".
  UpdateWindowRecord update;

  // Shown-item state.
  newsItem* selectedItem = nullptr;
  newsItem* shownItem = nullptr;
  newsItemBody* shownBody = nullptr;

  // The system encoding every command converts display texts with.
  std::unique_ptr<cEncoding> charset;
};

// Builds the main window (closed) in its fixed order with its initial
// states: the tag chooser holds every tag of the loaded feeds, the feed
// list every loaded feed, the news list nothing yet; root decides "Undo
// seen" (canUndoSeen). g.charset must be set.
void buildMainWindow(GuiGadgets& g, cJournaledIndexedObjectSoupDatabase& db, newsRoot& root);
// Builds "News item contents" (closed).
void buildContentsWindow(GuiGadgets& g);

// "PROGDIR:/tbimages/" + name when that folder exists, else "tbimages:/" +
// name.
std::string getToolbarImagePath(std::string_view name);
// Assigns "tbimages:" to $XDG_DATA_HOME/brindlework/tbimages (else
// ~/.local/share/...), then each $XDG_DATA_DIRS entry + brindlework/tbimages.
void assignToolbarImages();

// TRUE when a loaded feed keeps a previous seen-up-to time.
bool canUndoSeen(const newsRoot& root);

// The item's text for the contents window: contents (NIL when blank; the
// summary when the feed's summary is the contents) and the summary beside
// it. Both NIL without item or body.
struct BodyTexts {
  Str contents;
  Str summary;
};
BodyTexts hasNonBlankBody(cJournaledIndexedObjectSoupDatabase& db, newsItem* item, newsItemBody* body);

// Stores the selected tags' labels joined by "," (NIL for none) as the
// root's saved tag selection, in one transaction.
void joinListWithCommas(cGuiList& tagChooser, cJournaledIndexedObjectSoupDatabase& db, newsRoot& root);

// The feed at the list's cursor (its data box), NIL when none.
newsFeed* feedAtCursor(cGuiList& feedList);

void updateFeedGadgets(GuiGadgets& g);
void updateNewsItemMarkGadgets(newsItem* item, cGuiButton* markUnread, cGuiGroupPage* setClearPage);
void updateNewsItemGadgets(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g);

// Hands back the selected item, shown item and shown body and clears them.
void releaseShownItem(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g);

}  // namespace bw
