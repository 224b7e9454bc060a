// app/feed_dialogs.h - the dialogs about feeds ("Edit feed", "Rename feed
// tag", "Info about feed") and the main window's commands that run them on
// each selected feed or tag in turn.
//
// Invariants:
//   1. Each dialog owns its window for the call only (app/modal_dialog.h).
//   2. "Edit feed" writes only on "OK" after a change, in one transaction,
//      then flushes and refreshes both lists; the tags typed are normalised
//      as soon as the change is reported.
//   3. "Rename feed tag" rewrites every loaded feed in one transaction, and
//      only when the new text differs from the old.
//   4. The walks stop at a cancel or a quit and leave the rows not yet
//      handled selected; a cancelled row is selected again.
#pragma once

#include <vector>

#include "core/charset.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

class cGuiList;
class cGuiWindow;

struct DialogResult {
  bool quit = false;
  bool cancelled = false;  // the cancel button or the close gadget
};

// suggestedName and suggestedTags (NIL: none) are what an import offers;
// cancelText NIL means "Cancel".
DialogResult editFeed(newsFeed& feed, Text cancelText, cJournaledIndexedObjectSoupDatabase& db,
                      cGuiWindow* mainWindow, cGuiList& feedList, cGuiList& tagList, newsRoot& root,
                      const cEncoding& charset, Text suggestedName, Text suggestedTags);

struct RenameTagResult {
  Str newTag;  // NIL when cancelled, on quit, or for an empty text
  bool quit = false;
};
RenameTagResult renameFeedTagDialog(Text oldTag, cJournaledIndexedObjectSoupDatabase& db, cGuiWindow* mainWindow,
                                    cGuiList& feedList, cGuiList& tagList, newsRoot& root,
                                    const cEncoding& charset);

struct FeedInfoResult {
  bool quit = false;
  bool closedByUser = false;  // the close gadget, not "OK"
};
FeedInfoResult showFeedInfo(newsFeed& feed, const cEncoding& charset);

// The commands. Each returns the quit flag; editSelectedFeeds also tells
// whether any feed is still selected afterwards.
bool showSelectedFeedsInfo(cGuiList& feedList, const cEncoding& charset);
struct EditFeedsResult {
  bool quit = false;
  bool anySelected = false;
};
EditFeedsResult editSelectedFeeds(cJournaledIndexedObjectSoupDatabase& db, cGuiWindow* mainWindow,
                                  cGuiList& feedList, cGuiList& tagList, newsRoot& root, const cEncoding& charset);
bool renameSelectedTags(cJournaledIndexedObjectSoupDatabase& db, cGuiWindow* mainWindow, cGuiList& feedList,
                        cGuiList& tagList, newsRoot& root, const cEncoding& charset);

// The feed's tags with suggested ones added (repeats dropped), or the
// suggested ones for a feed without tags.
Str tagsWithSuggestion(newsFeed& feed, const cEncoding& charset, Text suggestedTags);
// In one transaction: name becomes the feed's user name unless it has one,
// tags (unless NIL) join its tags, and the other feeds take their spelling.
void nameAndTagFeed(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, Text name, Text tags, newsRoot& root,
                    const cEncoding& charset);
// Moves the cursor to the row carrying feed; FALSE when none does.
bool gotoFeedRow(cGuiList& feedList, const newsFeed* feed);

}  // namespace bw
