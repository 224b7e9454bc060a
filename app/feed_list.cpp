// app/feed_list.cpp - the feed rows, the feed list and tag chooser fills,
// the saved tag selection, the per-feed option gadgets and the tag
// spelling.
#include "app/feed_list.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>

#include "core/exception.h"
#include "core/string_procs.h"
#include "news/feed_failure.h"
#include "news/feed_tags.h"
#include "news/news_format.h"
#include "news/news_orderings.h"
#include "platform/time.h"

namespace bw {
namespace {

// "YYYY-MM-DD HH:MM" of a date.
std::string dateAndMinute(bigTime time) {
  Str text = Str::withCapacity(19);
  return pTime::formatBigTime(text, time, true, false).str();
}

// The tag chooser's rows of the feeds' tags, through fill (addEntries or
// updateF); the tag space lives only while the rows are offered.
template <class Fill>
void fillTagChooser(newsRoot& root, const cEncoding* charset, Fill fill) {
  std::unique_ptr<cStringSpace> tags = getAllFeedUserTags(root, charset);
  iterateFilterTagList source;
  source.set(tags.get());
  fill(source);
}

bool beginsWith(const Str& text, std::string_view prefix) { return text.view().substr(0, prefix.size()) == prefix; }

}  // namespace

std::string feedUpdatedText(bigTime newestItemTime) {
  if (newestItemTime == kDateUnset) return " ";
  if (newestItemTime == kDateInvalid) return " invalid date";
  return dateAndMinute(newestItemTime);
}

std::string feedUnseenText(bigTime seenUpToTime) {
  if (seenUpToTime == kDateUnset) return "none";
  if (seenUpToTime == kDateInvalid) return "invalid date";
  return dateAndMinute(seenUpToTime);
}

std::string feedDownloadLengthText(int64_t seconds) {
  if (seconds < 0) return " unknown";
  int64_t days = seconds / 86400;
  if (days > 9999) days = 9999;
  const int64_t tenths = seconds % 86400 / 8640;
  char text[32];
  std::snprintf(text, sizeof text, "%4.4" PRId64 ".%1.1" PRId64 " days", days, tenths);
  // Leading zeros become blanks, but a "." keeps one digit before it.
  std::string shown = text;
  size_t i = 0;
  while (i < shown.size() && shown[i] == '0') shown[i++] = ' ';
  if (i > 0 && i < shown.size() && shown[i] == '.') shown[i - 1] = '0';
  return shown;
}

std::string feedListRowText(newsFeed& feed, const cEncoding* charset) {
  std::string row(feed.infoName(charset).view());
  row += '\t';
  row += feed.infoTags(charset).view();
  row += '\t';
  row += feedUpdatedText(feed.newestItemTime);
  row += '\t';
  row += feedUnseenText(feed.seenUpToTime);
  row += '\t';
  row += feedDownloadLengthText(feed.downloadLength);
  return row;
}

int32_t feedListRowStyle(const newsFeed& feed) {
  return (feed.infoHasUnseen() ? kTagHasUnseen : 0) | (feed.disabled ? kFeedDisabled : 0) |
         (feed.hasNewItems ? kTagHasNewItems : 0) | (feed.downloadFailed ? kFeedRowDownloadFailed : 0);
}

std::string feedRowHelp(const newsFeed* feed) {
  if (!feed || !feed->downloadFailed || feed->failureReason.empty()) return {};
  return "Last failure: " + feedFailureText(*feed);
}

newsFeed* feedOfListEntry(const box* dataBox) {
  if (!dataBox || !dataBox->isOfClass(boxPTR::kClassName)) return nullptr;
  return static_cast<newsFeed*>(static_cast<const boxPTR*>(dataBox)->value);
}

void fNewsFeeds::set(newsFeed* first, GuiListSelection* tagChooser, const cEncoding* charset,
                     cJournaledIndexedObjectSoupDatabase* db) {
  next_ = first;
  tagChooser_ = tagChooser;
  charset_ = charset;
  db_ = db;
}

GuiListRow fNewsFeeds::call() {
  while (next_ && !feedHasVisibleTag(*next_, tagChooser_, charset_)) next_ = next_->nextLoadedFeed;
  GuiListRow row;
  if (!next_) return row;
  newsFeed& feed = *next_;
  row.label = Str(feedListRowText(feed, charset_));
  row.style = feedListRowStyle(feed);
  row.dataBox = newBoxPTR(&feed);
  next_ = feed.nextLoadedFeed;
  return row;
}

void rebuildTagChooser(cGuiList& tagList, newsRoot& root, const cEncoding* charset) {
  fillTagChooser(root, charset, [&](fGuiListEntries& source) { tagList.addEntries(source); });
}

void refreshTagChooser(cGuiList& tagList, newsRoot& root, const cEncoding* charset) {
  fillTagChooser(root, charset, [&](fGuiListEntries& source) { tagList.updateF(source); });
}

void refreshTagChooserAndFeedList(cGuiList& feedList, cGuiList& tagList, cJournaledIndexedObjectSoupDatabase& db,
                                  const cEncoding* charset, newsRoot& root) {
  refreshTagChooser(tagList, root, charset);
  fNewsFeeds source(root.firstLoadedFeed, &tagList, charset, &db);
  feedList.updateF(source);
}

namespace {
int32_t chooserBits(const newsFeed& feed) {
  return (feed.hasNewItems ? kTagHasNewItems : 0) | (feed.infoHasUnseen() ? kTagHasUnseen : 0);
}
}  // namespace

void FeedListRefresh::changed(newsFeed* feed) {
  if (feed && std::find(changed_.begin(), changed_.end(), feed) == changed_.end()) changed_.push_back(feed);
}

void FeedListRefresh::whole() {
  refreshTagChooserAndFeedList(feedList_, tagList_, db_, charset_, root_);
  rank_.clear();
  tagBits_.clear();
  rowSeen_.clear();
  for (int32_t i = 0; i < feedList_.infoCount(); i++) {
    if (const newsFeed* feed = feedOfListEntry(feedList_.infoEntryAt(i)->dataBox.get())) rowSeen_[feed] = i;
  }
  int32_t rank = 0;
  for (newsFeed* feed = root_.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
    rank_[feed] = rank++;
    tagBits_[feed] = chooserBits(*feed);
    lastFeed_ = feed;
  }
  wholeDone_ = true;
}

void FeedListRefresh::refresh() {
  if (!wholeDone_ || changed_.size() > 1) {
    changed_.clear();
    return whole();
  }
  // The chooser's rows are ORs of bits over the feeds with a tag: they can
  // change only with a changed feed's own bits.
  bool chooser = false;
  for (newsFeed* feed : changed_) {
    const int32_t bits = chooserBits(*feed);
    chooser = chooser || (!feed->tags.isNil() && bits != tagBits_[feed]);
    tagBits_[feed] = bits;
  }
  if (chooser)
    refreshTagChooser(tagList_, root_, charset_);
  else
    tagList_.marked_clear();
  for (newsFeed* feed : changed_) renewRow(*feed);
  feedList_.marked_clear();
  // The whole refresh leaves the chooser's cursor where the tag test of the
  // chain's last feed left it.
  if (lastFeed_) feedHasVisibleTag(*lastFeed_, &tagList_, charset_);
  changed_.clear();
}

// The index of the feed's row, -1 when it has none: where it was last seen
// when the row is still there (an update seldom moves a row), else by a
// walk over the rows.
int32_t FeedListRefresh::rowOf(const newsFeed& feed) {
  const auto seen = rowSeen_.find(&feed);
  if (seen != rowSeen_.end()) {
    const cGuiList::Row* row = feedList_.infoEntryAt(seen->second);
    if (row && feedOfListEntry(row->dataBox.get()) == &feed) return seen->second;
  }
  for (int32_t i = 0; i < feedList_.infoCount(); i++) {
    if (feedOfListEntry(feedList_.infoEntryAt(i)->dataBox.get()) == &feed) return rowSeen_[&feed] = i;
  }
  return -1;
}

void FeedListRefresh::renewRow(newsFeed& feed) {
  const int32_t index = rowOf(feed);
  GuiListRow row;
  if (feedHasVisibleTag(feed, &tagList_, charset_)) {
    row.label = Str(feedListRowText(feed, charset_));
    row.style = feedListRowStyle(feed);
    row.dataBox = newBoxPTR(&feed);
  }
  // A row that shows what it showed stays as it is (the marks are cleared
  // after).
  if (const cGuiList::Row* old = feedList_.infoEntryAt(index);
      old && !row.label.isNil() && old->label.view() == row.label.view() && old->style == row.style && old->data == 0)
    return;
  const int32_t rank = rank_[&feed];
  feedList_.updateOneEntry(index, std::move(row), [&](const cGuiList::Row& other) {
    auto at = rank_.find(feedOfListEntry(other.dataBox.get()));
    return at != rank_.end() && rank < at->second;
  });
}

// The row is made from its own feed, not through the tag filter: a row
// already in the list stays what it shows until the next refresh.
void refreshFeedListEntry(cGuiList& feedList, cGuiList& tagList, cJournaledIndexedObjectSoupDatabase& db,
                          const cEncoding* charset, newsRoot& root, int32_t labelMove, bool setLabel) {
  (void)db;
  if (newsFeed* feed = feedOfListEntry(feedList.cursor_getDataBox())) {
    feedList.cursor_setStyle(feedListRowStyle(*feed));
    if (setLabel) feedList.cursor_setLabel(Str(feedListRowText(*feed, charset)), labelMove);
  }
  refreshTagChooser(tagList, root, charset);
}

// The saved selection lives in the root's fifth text.
bool restoreTagSelection(cGuiList& tagList, newsRoot& root) {
  tagList.markAll();
  tagList.marked_setState(false);
  tagList.marked_clear();
  if (root.rootText5.isNil()) return false;
  bool fromNext = false;
  for (const Str& tag : splitString(root.rootText5, ",").chain) {
    // Each search goes on after the previous hit: a tag no longer there
    // leaves the search at the list's end, so no later tag is found.
    if (!tagList.cursor_findLabel(tag, true, 0, fromNext)) break;
    tagList.cursor_setMarked(true);
    fromNext = true;
  }
  tagList.marked_setState(true);
  tagList.marked_clear();
  return true;
}

void unifyTagSpelling(Text tagText, newsFeed* editedFeed, cStringSpace& oldTagSpace,
                      cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, const cEncoding* charset) {
  if (tagText.isNil() || tagText.length() == 0) return;
  cEncodingUTF storedEncoding;  // stored feed texts are UTF-8
  storedEncoding.load("UTF-8");
  SoupTransaction transaction(db.infoBlockFile());
  for (const Str& piece : splitString(tagText, ",").chain) {
    StringSpaceEntry known = oldTagSpace.get(piece);
    if (known.key && known.key->view() != piece.view())
      renameFeedTag(*known.key, piece, db, root, *charset, storedEncoding, editedFeed);
  }
  transaction.finish();
}

void showFeedOptions(cJournaledIndexedObjectSoupDatabase& db, newsItem* shownNewsItem, cGuiList& feedList,
                     cGuiTick* summaryTick, cGuiTick* updatesTick, cGuiString* filterString,
                     cGuiTick* downloadDateTick) {
  newsFeed* selected = nullptr;
  if (feedList.infoSelectionCount() == 1) {
    if (!feedList.cursor_gotoFirstSelected()) raise("BUG", "gui(); selection count is 1 but cursor failed");
    selected = feedOfListEntry(feedList.cursor_getDataBox());
  }
  if (filterString) {
    filterString->setState(selected && !selected->filter.isNil() ? Text(selected->filter) : Text(""));
    filterString->setDisabled(!selected);
  }
  if (downloadDateTick) {
    downloadDateTick->setState(selected && selected->useDownloadDate);
    downloadDateTick->setDisabled(!selected);
  }
  newsFeed* feed = shownNewsItem ? shownNewsItem->infoFeed(&db) : selected;
  const bool isTwitter = feed && beginsWith(feed->type, "Twitter");
  const bool isFacebook = feed && beginsWith(feed->type, "Facebook");
  if (summaryTick) {
    summaryTick->setState(feed && feed->summaryIsContents);
    summaryTick->setDisabled(!feed || isTwitter || isFacebook);
  }
  if (updatesTick) {
    updatesTick->setState(feed && feed->notUpdates);
    updatesTick->setDisabled(!feed || !isTwitter);
  }
}

}  // namespace bw
