// app/feed_list.h - the main window's feed list and tag chooser: the feed
// rows, the fills and refreshes of both lists, the restore of the saved tag
// selection, the per-feed option gadgets and the tag spelling kept the same
// in every feed.
//
// Invariants:
//   1. A feed row is five columns joined by "\t" (Name, Tags, Updated,
//      Unseen, Download length) with kTagHasUnseen, kFeedDisabled,
//      kTagHasNewItems and kFeedRowDownloadFailed as its style bits; it carries
//      its feed in a boxPTR (feedOfListEntry reads it back), data 0.
//   2. The feed list offers the loaded feeds (root.firstLoadedFeed on) that
//      carry a selected tag of the tag chooser, or all of them when no tag
//      is selected. A fill runs its source to the end before another starts.
//   3. Texts shown come through the display charset; stored texts never
//      change here, except in unifyTagSpelling (one transaction).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/charset.h"
#include "core/gui_list_functions.h"
#include "core/gui_list_selection.h"
#include "core/string_space.h"
#include "database/soup_database.h"
#include "gui/gui_list.h"
#include "news/news_objects.h"

namespace bw {

// The column texts of a feed row that come from numbers.
// Updated: " " for no date, " invalid date", else "YYYY-MM-DD HH:MM".
std::string feedUpdatedText(bigTime newestItemTime);
// Unseen: "none" for no date, "invalid date", else "YYYY-MM-DD HH:MM".
std::string feedUnseenText(bigTime seenUpToTime);
// Download length: " unknown" when negative, else days and tenths right
// aligned in four digits ("   1.5 days"), the days capped at 9999.
std::string feedDownloadLengthText(int64_t seconds);

// The whole row text of a feed and its style bits.
std::string feedListRowText(newsFeed& feed, const cEncoding* charset);
int32_t feedListRowStyle(const newsFeed& feed);
// What a feed row tells when the pointer rests on it: for a row shown
// italic because the feed's last update failed, "Last failure: " with the
// reason and time; "" otherwise (and for no feed).
std::string feedRowHelp(const newsFeed* feed);

// The feed a feed-list row carries (its boxPTR), nullptr for none.
newsFeed* feedOfListEntry(const box* dataBox);

// The feed list's row source: from first along nextLoadedFeed, every feed
// with a visible tag (feedHasVisibleTag with the chooser, NIL: all).
class fNewsFeeds : public fGuiListEntries {
  BW_CLASS(fNewsFeeds, fGuiListEntries)

 public:
  fNewsFeeds() = default;
  fNewsFeeds(newsFeed* first, GuiListSelection* tagChooser, const cEncoding* charset,
             cJournaledIndexedObjectSoupDatabase* db) {
    set(first, tagChooser, charset, db);
  }
  void set(newsFeed* first, GuiListSelection* tagChooser, const cEncoding* charset,
           cJournaledIndexedObjectSoupDatabase* db);
  GuiListRow call() override;

 private:
  newsFeed* next_ = nullptr;
  GuiListSelection* tagChooser_ = nullptr;
  const cEncoding* charset_ = nullptr;
  cJournaledIndexedObjectSoupDatabase* db_ = nullptr;
};

// The tag chooser filled from the feeds' tags (getAllFeedUserTags): rebuild
// adds the rows to the list (the first fill), refresh merges them (updateF),
// keeping the selection of the rows that stay.
void rebuildTagChooser(cGuiList& tagList, newsRoot& root, const cEncoding* charset);
void refreshTagChooser(cGuiList& tagList, newsRoot& root, const cEncoding* charset);

// refreshTagChooser, then the feed list merged with the feeds whose tags are
// selected. What every change of feeds or tags calls afterwards.
void refreshTagChooserAndFeedList(cGuiList& feedList, cGuiList& tagList, cJournaledIndexedObjectSoupDatabase& db,
                                  const cEncoding* charset, newsRoot& root);

// Keeps the feed list and tag chooser as refreshTagChooserAndFeedList would
// leave them while feeds change one at a time, their tags and the chain of
// loaded feeds staying as they are (an update): the first refresh is the
// whole one; after it a refresh with one changed feed renews only that
// feed's row (updateOneEntry, ties in chain order) and the tag chooser only
// when the feed has tags whose bits (unseen, new items) it changed; more
// than one changed feed gets the whole refresh again. Nothing else may
// change the lists meanwhile (the main window is busy).
class FeedListRefresh {
 public:
  FeedListRefresh(cGuiList& feedList, cGuiList& tagList, cJournaledIndexedObjectSoupDatabase& db,
                  const cEncoding* charset, newsRoot& root)
      : feedList_(feedList), tagList_(tagList), db_(db), charset_(charset), root_(root) {}
  // Notes a feed whose row may have changed.
  void changed(newsFeed* feed);
  // Brings both lists in line with the feeds as they are now.
  void refresh();

 private:
  void whole();
  int32_t rowOf(const newsFeed& feed);
  void renewRow(newsFeed& feed);

  cGuiList& feedList_;
  cGuiList& tagList_;
  cJournaledIndexedObjectSoupDatabase& db_;
  const cEncoding* charset_;
  newsRoot& root_;
  bool wholeDone_ = false;
  std::vector<newsFeed*> changed_;
  std::unordered_map<const newsFeed*, int32_t> rank_;     // place in the chain
  std::unordered_map<const newsFeed*, int32_t> tagBits_;  // the bits the chooser shows of it
  std::unordered_map<const newsFeed*, int32_t> rowSeen_;  // the index its row last had
  newsFeed* lastFeed_ = nullptr;
};

// Renews the feed list's cursor row from its feed: the style always, the
// text too when setLabel (cursor_setLabel with labelMove); then
// refreshTagChooser. A row without a feed changes nothing in the list.
void refreshFeedListEntry(cGuiList& feedList, cGuiList& tagList, cJournaledIndexedObjectSoupDatabase& db,
                          const cEncoding* charset, newsRoot& root, int32_t labelMove, bool setLabel);

// Selects the tags saved in root.rootText5 (joined by ","), each found
// as a whole label without case, searching on from the previous one; a tag
// not found ends the restore. FALSE (nothing selected) without saved tags.
bool restoreTagSelection(cGuiList& tagList, newsRoot& root);

// Makes every other feed write each tag of tagText (display text, joined by
// ",") the way it is typed there, where oldTagSpace (getAllFeedUserTags
// before the edit) held it spelt otherwise; one transaction.
void unifyTagSpelling(Text tagText, newsFeed* editedFeed, cStringSpace& oldTagSpace,
                      cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, const cEncoding* charset);

// The per-feed gadgets: the Filter string shows the one selected feed's
// filter (enabled) or is empty and disabled; the ticks show the feed of the
// shown item, else the one selected feed: "Summary is the full Contents"
// disabled for social feeds, "Wrong about news updates" enabled only for
// Twitter; without a feed both FALSE and disabled. downloadDateTick may be
// nullptr. "BUG" "gui(); selection count is 1 but cursor failed".
void showFeedOptions(cJournaledIndexedObjectSoupDatabase& db, newsItem* shownNewsItem, cGuiList& feedList,
                     cGuiTick* summaryTick, cGuiTick* updatesTick, cGuiString* filterString,
                     cGuiTick* downloadDateTick);

}  // namespace bw
