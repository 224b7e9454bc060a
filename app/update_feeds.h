// app/update_feeds.h - updateFeeds, what "Update selected" and "Update all"
// run: the work list fetched two requests at a time in the "Update feeds"
// window, the feed list refreshed after each feed; and the two count lines
// of the main window and the marking of list entries from a set.
//
// Invariants:
//   1. At most two requests are open at once, never two to one host
//      (isSameHost of the feeds' urls), and one answer at a time is read,
//      parsed and stored (addUpdateFeed); feeds of one host go one after
//      another.
//   2. Every enabled feed of the work list ends updated, marked failed to
//      download (a refused or failed request, no downloader, or no answer
//      begun within the deadline of unpaused time since its request
//      opened), or untouched because the update was cancelled. The work list
//      is empty at the end unless cancelled.
//   3. While both requests connect the GUI is polled after every wait of up
//      to a second: Cancel, the update window's close request and the quit
//      request close both requests and end the update; Pause holds it until
//      Resume or Cancel; other windows' events are dropped. Time spent
//      waiting on the user (paused, or a requester open), here or inside
//      addUpdateFeed, counts toward no request's deadline: neither the
//      update's own nor cHTTP's (no byte, the whole request).
//   4. At the end the window is closed and the feeds selected at the start
//      are selected again; an exception deletes the requests and passes on.
//   5. After each feed the feed list and tag chooser stand as
//      refreshTagChooserAndFeedList leaves them (FeedListRefresh renews
//      only the changed feed's row).
#pragma once

#include <cstdint>
#include <memory>

#include "app/update_window.h"
#include "core/charset.h"
#include "core/mega_list_family.h"
#include "core/number_space.h"
#include "database/soup_database.h"
#include "gui/gui_list.h"
#include "news/news_objects.h"

namespace bw {

// How long a request may go without its answer beginning, in seconds of
// unpaused time.
inline constexpr int64_t kRequestDeadlineSeconds = 60;

// workList: the feeds to update, in a list that does not own them; emptied.
// The caller keeps the main window busy meanwhile. Answers the window-event
// flag of the last addUpdateFeed call, or of the update's own poll (a close
// or quit request of the update window): the caller then quits.
bool updateFeeds(cMegaList_class& workList, cGuiList& feedList, cGuiList& tagChooser, cGuiWindow* mainWindow,
                 UpdateWindowRecord& record, cGuiButton* undoSeenButton, cJournaledIndexedObjectSoupDatabase& db,
                 const cEncoding* charset, newsRoot& root, int64_t requestDeadlineSeconds = kRequestDeadlineSeconds);

// "%ld feeds shown" (rows minus disabled feeds), then " (plus %ld disabled)"
// and ", but %ld failed to download" when there are any. The rows carry
// their feed in a boxPTR.
void showFeedCountStatus(cGuiText* statusText, cGuiList& feedList);

// "%ld news items shown".
void showNewsItemCountStatus(cGuiText* statusText, int32_t count);

// Selects exactly the rows whose box's number (selectionKeyOf) is in the
// set, leaving them marked and no others; the set is deleted.
void markListEntriesByFunction(cGuiList& list, std::unique_ptr<cNumberSpace_cnumberspace> set);

}  // namespace bw
