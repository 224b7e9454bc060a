// app/update_window.h - the "Update feeds" window: its record, as gui keeps
// it and hands it to updateFeeds and addFeed, and its building.
//
// Invariants:
//   1. The record's eight references are the window and its gadgets in the
//      window's order; progress holds the same gadgets as the news layer
//      sees them (feedText, stepText = "Status", progressText,
//      pauseResumePage, the three buttons), served by the NewsGuiWindows
//      the window was built with, so that addUpdateFeed's polls and
//      updateFeeds' own recognise Pause, Resume and Cancel.
//   2. The window is built closed; only updateFeeds opens it.
//   3. endUpdateWindow forgets the window in the NewsGuiWindows, ends it and
//      clears the record; a cleared record ends nothing.
#pragma once

#include "app/news_gui_windows.h"
#include "gui/gui_gadgets.h"
#include "gui/gui_window.h"
#include "news/ui_seam.h"

namespace bw {

struct UpdateWindowRecord {
  cGuiWindow* window = nullptr;
  cGuiText* feedText = nullptr;
  cGuiText* statusText = nullptr;
  cGuiText* progressText = nullptr;
  cGuiGroupPage* buttonPage = nullptr;  // page 0 "Pause", page 1 "Resume"
  cGuiButton* pauseButton = nullptr;
  cGuiButton* resumeButton = nullptr;
  cGuiButton* cancelButton = nullptr;
  feedProgressGui progress;
};

// Builds "Update feeds" (save ID "UpdF"): the texts "Feed", "Status" and
// "Progress", then a page of "Pause" and "Resume" beside "Cancel".
UpdateWindowRecord buildUpdateWindow(NewsGuiWindows& windows);

void endUpdateWindow(UpdateWindowRecord& record, NewsGuiWindows& windows);

}  // namespace bw
