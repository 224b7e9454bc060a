// app/news_list.cpp - news rows, the newest-first merge that refills the
// news list, and the seen marking.
#include "app/news_list.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "app/feed_list.h"
#include "app/main_windows.h"
#include "app/update_feeds.h"
#include "core/box.h"
#include "core/exception.h"
#include "core/utf8.h"
#include "news/html_text.h"
#include "news/news_format.h"
#include "news/news_load.h"
#include "news/news_show.h"
#include "platform/time.h"

namespace bw {
namespace {

constexpr int32_t kFeedNameChars = 20;
constexpr int32_t kStyleNewSinceSeen = 1;
constexpr int32_t kStyleUnseen = 4;

// The first n characters of name: code points in UTF-8, else bytes.
std::string_view firstCharacters(std::string_view name, int32_t n, bool utf8) {
  if (!utf8 || name.size() <= static_cast<size_t>(n)) return name.substr(0, static_cast<size_t>(n));
  int32_t at = 0;
  const int32_t length = static_cast<int32_t>(name.size());
  for (int32_t i = 0; i < n && at < length; i++) at += convertUTF8charaToUnicode(name.data(), at, length, 0).size;
  return name.substr(0, static_cast<size_t>(at));
}

Str feedText(newsFeed& feed, const cEncoding* charset, const Str& text, bool noDecode, bool nilIfUnchanged) {
  if (!feed.docFormat) return nilIfUnchanged ? Str() : text;
  return convertFeedText(*feed.docFormat, charset, text, noDecode, nilIfUnchanged);
}

// The date a row carries in its data box, 0 for none.
bigTime rowDate(const cGuiList& list) {
  const cGuiList::Row* row = list.cursor_infoEntry();
  if (!row || !row->dataBox || !row->dataBox->isOfClass(boxBIGVALUE::kClassName)) return 0;
  return static_cast<const boxBIGVALUE*>(row->dataBox.get())->value;
}

// The feeds in play: the feed list's selected rows, or all its rows.
template <class Visit>
void forFeedsInPlay(cGuiList& feedList, Visit visit) {
  if (feedList.infoSelectionCount() > 0) {
    for (bool on = feedList.cursor_gotoFirstSelected(); on; on = feedList.cursor_gotoNextSelected())
      if (newsFeed* feed = feedOfListEntry(feedList.cursor_getDataBox())) visit(*feed);
    return;
  }
  for (bool on = feedList.cursor_gotoStart(); on; on = feedList.cursor_gotoNext(1) == 1)
    if (newsFeed* feed = feedOfListEntry(feedList.cursor_getDataBox())) visit(*feed);
}

}  // namespace

NewsLineMaker::NewsLineMaker(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset)
    : db_(db), charset_(charset), utf8_(charset && isUtf8Encoding(*charset)) {}

std::string_view NewsLineMaker::dateColumn(bigTime date) {
  if (date == kDateUnset) return " ";
  if (date == kDateInvalid) return " invalid date";
  // The date alone depends only on the day (days split by floor division).
  const int64_t day = date / 86400 - (date % 86400 < 0 ? 1 : 0);
  if (!haveDay_ || day != day_) {
    pTime::formatBigTime(dayText_, date, false, false);
    day_ = day;
    haveDay_ = true;
  }
  return dayText_.view();
}

std::string_view NewsLineMaker::title(newsItem& item, newsFeed& feed) {
  HeldItem oldest(db_);
  newsItem* source = &item;
  if (item.infoIsDuplicate() && feed.type.view().substr(0, 8) == "Facebook") {
    if (int32_t index = item.infoOldestDuplicateItemIndex(db_).oldest) {
      oldest.reset(loadObject_newsItem2(db_, index, &feed));
      if (oldest) source = oldest.get();
    }
  }
  // A title that may hold markup is read as its format says; any other
  // that the feed's decoding leaves as it is (most) is tidied in the buffer
  // of the row before, copied without a new allocation.
  newsFeed& sourceFeed = *source->infoFeed(&db_);
  if (sourceFeed.docFormat && source->titleFormat != kFormatPlainText && !source->title.isNil() &&
      source->title.view().find_first_of("&<") != std::string_view::npos) {
    title_ = feedTextForDisplay(*sourceFeed.docFormat, charset_, source->title, source->titleFormat, false);
    return title_.view();
  }
  Str decoded = feedText(sourceFeed, charset_, source->title, false, true);
  if (decoded.isNil() && !source->title.isNil()) {
    title_ = source->title;
    decoded = std::move(title_);
  }
  title_ = prepareTextForDisplay(std::move(decoded), source->titleFormat, false, utf8_);
  return title_.view();
}

std::string_view NewsLineMaker::feedName(newsFeed& feed) {
  auto [at, added] = names_.try_emplace(&feed);
  if (added) at->second = firstCharacters(feed.infoName(charset_).view(), kFeedNameChars, utf8_);
  return at->second;
}

NewsItemLine NewsLineMaker::make(newsItem& item) {
  newsFeed& feed = *item.infoFeed(&db_);
  const bigTime date = item.infoPublishedDate();
  line_.clear();
  line_ += dateColumn(date);
  line_ += '\t';
  line_ += feedName(feed);
  line_ += '\t';
  if (item.infoIsDuplicate()) line_ += "* ";
  line_ += title(item, feed);
  line_ += '\t';
  if (!item.tags.isNil()) {
    Str tags = feedText(feed, charset_, item.tags, true, true);
    line_ += (tags.isNil() ? item.tags : tags).view();
  }
  NewsItemLine result;
  result.line = Str(line_);
  result.style = (item.seen ? 0 : kStyleUnseen) |
                 (isValidDate(feed.seenUpToTime) && date >= feed.seenUpToTime ? kStyleNewSinceSeen : 0);
  result.date32 = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(date)));
  return result;
}

NewsItemLine makeNewsItemLine(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, newsItem& item) {
  return NewsLineMaker(db, charset).make(item);
}

void setNewsItemLine(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, cGuiList& list,
                     newsItem& item) {
  NewsItemLine made = makeNewsItemLine(db, charset, item);
  list.cursor_setStyle(made.style);
  list.cursor_setLabel(std::move(made.line));
}

void updateNewsItemLine(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, cGuiList& list,
                        newsItem& item) {
  if (list.cursor_gotoFirstSelected()) setNewsItemLine(db, charset, list, item);
}

fAllNewsItems::~fAllNewsItems() {
  while (!merge_.empty()) {
    db_.unloadObject(merge_.top().item);
    merge_.pop();
  }
}

void fAllNewsItems::hold(newsItem* item) {
  try {
    merge_.push({item->published, item->infoSoupIndex(), item});
  } catch (...) {
    db_.unloadObject(item);
    throw;
  }
}

void fAllNewsItems::seed(newsFeed& feed) {
  if (!feed.itemList) return;
  if (newsItem* first = isNewsItemShown(db_, feed.itemList->infoHeadIndex(), feed, &root_)) hold(first);
}

GuiListRow fAllNewsItems::call() {
  GuiListRow row;
  if (merge_.empty()) return row;
  HeldItem item(db_, merge_.top().item);
  merge_.pop();
  count_++;
  NewsItemLine made = lines_.make(*item.get());
  row.label = std::move(made.line);
  row.style = made.style;
  row.data = item->infoSoupIndex();
  yielded_.insert(row.data);
  row.dataBox = newBoxBIGVALUE(static_cast<int64_t>(made.date32));
  newsFeed& feed = *item->infoFeed(&db_);
  const int32_t next = item->infoNextIndex();
  item.reset(nullptr);
  if (newsItem* following = isNewsItemShown(db_, next, feed, &root_)) {
    // An item comes twice only from a list that runs in a circle.
    if (yielded_.contains(following->infoSoupIndex())) {
      db_.unloadObject(following);
      raiseLinkDamage("fAllNewsItems(); an item list comes back to an item it went through");
    }
    hold(following);
  }
  return row;
}

void fillNewsItemList(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, newsRoot& root,
                      cGuiList* feedList, cGuiList& newsList, cGuiText* statusText, cGuiCycleChoice* showCycle) {
  root.showUnseen = !showCycle || showCycle->getState() == 0;
  fAllNewsItems merge(db, charset, root);
  if (!feedList) {
    for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) merge.seed(*feed);
    newsList.addEntries(merge);
  } else {
    forFeedsInPlay(*feedList, [&](newsFeed& feed) { merge.seed(feed); });
    newsList.updateF(merge);
  }
  showNewsItemCountStatus(statusText, merge.infoCount());
}

void markDuplicateItemsSeen(newsItem& item, cGuiList& newsList, cGuiList& feedList, cGuiList& tagChooser,
                            cGuiButton* undoButton, cJournaledIndexedObjectSoupDatabase& db,
                            const cEncoding* charset, newsRoot& root) {
  newsFeed& itemFeed = *item.infoFeed(&db);
  const bigTime seen = item.infoPublishedDate();
  if (!isValidDate(itemFeed.seenUpToTime) || itemFeed.seenUpToTime > seen) return;
  SoupTransaction transaction(db.infoBlockFile());

  // The feeds that still have rows newer than the item, down to the first
  // row not newer, or until every feed in play has been met.
  std::unordered_set<const newsFeed*> newer;
  bool onRow = newsList.cursor_gotoStart();
  int32_t inPlay = feedList.infoSelectionCount() > 0 ? feedList.infoSelectionCount() : feedList.infoSize();
  while (onRow && inPlay > 0 && rowDate(newsList) > seen) {
    HeldItem row(db, loadObject_newsItem2(db, newsList.cursor_getData(), nullptr));
    if (row) {
      if (newer.insert(row->infoFeed(&db)).second) inPlay--;
    }
    onRow = newsList.cursor_gotoNext(1) == 1;
  }
  while (onRow && rowDate(newsList) > seen) onRow = newsList.cursor_gotoNext(1) == 1;

  for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) feed->previousSeenUpToTime = kDateUnset;
  bigTime oldest = kDateUnset;  // the oldest seen-up-to time replaced
  forFeedsInPlay(feedList, [&](newsFeed& feed) {
    const bigTime time = feed.seenUpToTime;
    if (time > seen || time == kDateUnset) return;
    if (isValidDate(time)) {
      oldest = oldest == kDateUnset ? time : std::min(oldest, time);
      feed.previousSeenUpToTime = time;
    }
    if (newer.count(&feed) != 0) {
      feed.seenUpToTime = seen + 1;
    } else {
      feed.seenUpToTime = kDateUnset;
      refreshFeedListEntry(feedList, tagChooser, db, charset, root, 0, false);
    }
    db.saveChangesToObject(&feed);
  });
  UndoSeenGuiButton undo;
  undo.button = undoButton;
  updateOldestSeenTime(root, &feedList, &undo, false);

  // Renew the rows whose style may have changed: down to the oldest time
  // replaced.
  if (onRow && oldest != kDateUnset) {
    do {
      if (rowDate(newsList) < oldest) break;
      HeldItem row(db, loadObject_newsItem2(db, newsList.cursor_getData(), nullptr));
      if (row) setNewsItemLine(db, charset, newsList, *row.get());
    } while (newsList.cursor_gotoNext(1) == 1);
  }
  transaction.finish();
}

void markNewsItemSeen(newsItem& item, cGuiList& newsList, cGuiList& feedList, cGuiList& tagChooser,
                      cGuiButton* undoButton, cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset,
                      newsRoot& root) {
  if (item.seen) return;
  item.seen = true;
  db.saveChangesToObject(&item);
  updateNewsItemLine(db, charset, newsList, item);
  markDuplicateItemsSeen(item, newsList, feedList, tagChooser, undoButton, db, charset, root);
}

}  // namespace bw
