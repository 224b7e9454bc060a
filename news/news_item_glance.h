// news/news_item_glance.h - a look at a stored item for the walks that need
// only its links, dates, chain fields, link and uniqueID (the update's walk
// along the item list, the social parsers' scans, the chain walks, the feed
// delete), cheaper than a load: the item read enters no table.
//
// Invariants:
//   1. A glance answers the loaded item when there is one (holding one use
//      until the next look), else an item of the glance's own that enters no
//      table: its record is read by newsItem::restore with the textsRead the
//      glance was made with (kKeys, or kKeysAndDates for the walks that need
//      no field after the dates), so the fields it reads are those a load
//      gives and damage among them fails as a load does.
//   2. Glances count with the loads (infoNewsItemLoads). The item looked at
//      must not be changed or saved.
#pragma once

#include <cstdint>
#include <memory>

#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

class ItemGlance {
 public:
  // reads: kKeys or kKeysAndDates (newsItem::textsRead).
  explicit ItemGlance(cJournaledIndexedObjectSoupDatabase& db, newsItem::Texts reads = newsItem::Texts::kKeys)
      : db_(db), reads_(reads) {}
  ItemGlance(const ItemGlance&) = delete;
  ItemGlance& operator=(const ItemGlance&) = delete;
  ~ItemGlance() { clear(); }
  // The item at index; NIL where loadObject_newsItem answers NIL (index 0,
  // an index without a record, an object of another class loaded there).
  const newsItem* look(int32_t index);
  // Takes over a use of a loaded item as the item looked at.
  void hold(newsItem* loaded);
  // Loads the item looked at (borrowing feed) unless it is loaded already;
  // it stays as it is when the load answers NIL.
  void load(newsFeed* feed);
  const newsItem* get() const { return item_; }
  // The item looked at got these list links in the file (its node header
  // written): a glance's own item takes them; a loaded one has them already.
  void relinked(int32_t nextIndex, int32_t prevIndex);
  void clear();

 private:
  cJournaledIndexedObjectSoupDatabase& db_;
  newsItem::Texts reads_;
  std::unique_ptr<newsItem> read_;
  newsItem* loaded_ = nullptr;
  const newsItem* item_ = nullptr;
};

}  // namespace bw
