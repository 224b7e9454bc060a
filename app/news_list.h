// app/news_list.h - the main window's news list: an item's row, the refill
// that merges the feeds' item lists newest first, and what seeing an item
// does to the items' styles and the feeds' seen-up-to times.
//
// Invariants:
//   1. A row is "Date\tFeed\tTitle\tTags" in the display charset; style 4
//      while the item is unseen, 1 while its date is not before its feed's
//      valid seen-up-to time; data = the item's index; its data box a
//      boxBIGVALUE of the low 32 bits of the date taken as signed (the list
//      orders rows by it: dates outside 1932-2067 wrap, as they always
//      have).
//   2. The merge holds at most one loaded item per feed in play; turning an
//      item into a row may load one more (a Facebook chain's oldest), given
//      back at once. Every item the merge holds is given back by the end.
//   3. Seeing an item changes stored objects only inside one transaction
//      (the item's own seen flag is stored before it, as a plain save).
#pragma once

#include <cstdint>
#include <queue>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/charset.h"
#include "core/gui_list_functions.h"
#include "database/soup_database.h"
#include "gui/gui_list.h"
#include "news/news_objects.h"

namespace bw {

struct NewsItemLine {
  Str line;
  int32_t style = 0;
  int32_t date32 = 0;  // the low 32 bits of the date, signed
};

// Makes the rows of items whose feeds are loaded. A refill makes 400,000
// rows with one maker: it formats each day's date and cuts each feed's name
// once, and builds every line and tidies every title in buffers it reuses.
// The feeds' names must not change while it lives.
class NewsLineMaker {
 public:
  NewsLineMaker(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset);
  NewsItemLine make(newsItem& item);

 private:
  std::string_view dateColumn(bigTime date);
  // Item's title as shown (a Facebook chain's oldest post's), valid until
  // the next call.
  std::string_view title(newsItem& item, newsFeed& feed);
  std::string_view feedName(newsFeed& feed);

  cJournaledIndexedObjectSoupDatabase& db_;
  const cEncoding* charset_;
  bool utf8_;
  int64_t day_ = 0;  // the day whose text dayText_ holds, when haveDay_
  bool haveDay_ = false;
  Str dayText_ = Str::withCapacity(19);
  std::unordered_map<const newsFeed*, std::string> names_;
  Str title_;
  std::string line_;
};

// The row of item (whose feed is loaded).
NewsItemLine makeNewsItemLine(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, newsItem& item);
// The list's cursor row gets item's line and style.
void setNewsItemLine(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, cGuiList& list,
                     newsItem& item);
// setNewsItemLine on the selected row, when there is one.
void updateNewsItemLine(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, cGuiList& list,
                        newsItem& item);

// The news list's row source: a k-way merge of the seeded feeds' shown
// items (isNewsItemShown), newest first.
class fAllNewsItems : public fGuiListEntries {
  BW_CLASS(fAllNewsItems, fGuiListEntries)

 public:
  fAllNewsItems(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, newsRoot& root)
      : db_(db), charset_(charset), root_(root), lines_(db, charset) {}
  ~fAllNewsItems() override;
  fAllNewsItems(const fAllNewsItems&) = delete;
  fAllNewsItems& operator=(const fAllNewsItems&) = delete;

  // The feed's first shown item joins the merge.
  void seed(newsFeed& feed);
  GuiListRow call() override;
  // The rows yielded so far.
  int32_t infoCount() const { return count_; }

 private:
  // An item with its date and index beside it: the heap compares without
  // touching the items, and hands equal dates out as the list orders them
  // (the larger index first), so that the rows arrive in the list's order.
  struct Held {
    bigTime published;
    int32_t index;
    newsItem* item;
  };
  struct Newer {
    bool operator()(const Held& a, const Held& b) const {
      return a.published != b.published ? a.published < b.published : a.index < b.index;
    }
  };
  void hold(newsItem* item);

  cJournaledIndexedObjectSoupDatabase& db_;
  const cEncoding* charset_;
  newsRoot& root_;
  std::priority_queue<Held, std::vector<Held>, Newer> merge_;
  // The items given rows: a damaged item list that comes back to one raises
  // link damage instead of yielding rows for ever.
  std::unordered_set<int32_t> yielded_;
  NewsLineMaker lines_;
  int32_t count_ = 0;
};

// Refills the news list from the feeds in play: every loaded feed without a
// feed list, else the selected feeds, or every listed feed when none is
// selected; sets the root's show-unseen flag from the Show cycle (NIL or
// state 0) and shows "%ld news items shown". With a feed list the rows are
// merged (updateF: the cursor's row stays), else added.
void fillNewsItemList(cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, newsRoot& root,
                      cGuiList* feedList, cGuiList& newsList, cGuiText* statusText, cGuiCycleChoice* showCycle);

// After the user has seen item: unless its feed's seen-up-to time is not
// valid or later than the item's date D, every feed in play whose time was
// not later than D moves it to D + 1 when it still has rows newer than D,
// else to no date (its feed row renewed); the time replaced becomes the
// feed's previous one ("Undo seen"); the rows whose style changed are
// renewed. One transaction.
void markDuplicateItemsSeen(newsItem& item, cGuiList& newsList, cGuiList& feedList, cGuiList& tagChooser,
                            cGuiButton* undoButton, cJournaledIndexedObjectSoupDatabase& db,
                            const cEncoding* charset, newsRoot& root);
// When item is unseen: sets and stores its seen flag, renews its row, then
// markDuplicateItemsSeen.
void markNewsItemSeen(newsItem& item, cGuiList& newsList, cGuiList& feedList, cGuiList& tagChooser,
                      cGuiButton* undoButton, cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset,
                      newsRoot& root);

}  // namespace bw
