// news/news_item_glance.h - a look at a stored item for the walks that need
// only its links, dates, chain fields, link and uniqueID (the update's walk
// along the item list, the social parsers' scans), cheaper than a load.
//
// Invariants:
//   1. A glance answers the loaded item when there is one (holding one use
//      until the next look), else an item of the glance's own that enters no
//      table: its fields are those a load with textsRead kKeys gives.
//   2. A record of the current version with version 1 or NIL strings is
//      read straight from its bytes (glanceItemRecord); any other record is
//      read through newsItem::restore, so a damaged one fails as a load does.
//   3. Glances count with the loads (infoNewsItemLoads). The item looked at
//      must not be changed or saved.
//   4. A glance made with Keys kLater leaves link and uniqueID of a record
//      read straight as the last look left them (every other field is set)
//      until keys() is asked: walks that seldom need them skip their copy.
//      keyTexts() gives their texts without setting them.
//   5. A glance that keeps into a GlanceMemo leaves there the bytes of each
//      record it read straight (invariant 2) and the fields it read from
//      them, in the order it read them; a glance that takes from one takes
//      the next kept record's fields instead of reading it again when that
//      record is of the index it looks at and the item is not loaded (each
//      kept record serves once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// A string record as restoreSTRING reads it: nil, or its text and capacity.
struct RecordString {
  bool nil = true;
  std::string_view text;
  int32_t capacity = 0;
};

// Fills into's links and fields from an item record of the current version
// whose strings are NIL or version 1 (title, statedLink and tags read past
// and left as they are), as restore with textsRead kKeys does. FALSE, into
// left as it was, for any record it does not read whole this way (an
// older version, a version 0 or damaged string, bytes ending early). keys
// FALSE: link and uniqueID are left as they are.
bool glanceItemRecord(const uint8_t* bytes, size_t size, newsItem& into, bool keys = true);

// The fields a glance read straight from a record (invariant 2), with
// where the texts of link and uniqueID lie in the record's bytes (a NIL
// text lies nowhere).
struct GlancedFields {
  struct Text {
    bool nil = true;
    uint32_t at = 0, length = 0;
    int32_t capacity = 0;
  };
  int64_t published = 0, updated = 0, downloaded = 0;
  int32_t nextIndex = 0, prevIndex = 0, feedIndex = 0, older = 0, newest = 0, bodyIndex = 0;
  uint8_t titleFormat = 0;
  bool seen = false, secondMark = false;
  Text link, uniqueID;
};

// The records one walk read, kept for one later walk over the same list
// (the social merge's scan, then the walk that adds the new items). The
// owner keeps a record only while nothing changed its item's list links,
// dates, uniqueID or link since it was read; its chain links may have
// changed, so the later walk must not read those from it.
class GlanceMemo {
 public:
  // Room for records of an ordinary size, so that keeping them copies each
  // once.
  void reserve(size_t records) {
    kept_.reserve(records);
    bytes_.reserve(records * kOrdinaryRecord);
  }

 private:
  static constexpr size_t kOrdinaryRecord = 256;
  friend class ItemGlance;
  struct Kept {
    int32_t index;
    size_t at, size;
    GlancedFields fields;
  };
  std::vector<uint8_t> bytes_;
  std::vector<Kept> kept_;
  size_t next_ = 0;  // the record the next take may answer
};

class ItemGlance {
 public:
  enum class Memo { kKeep, kTake };
  enum class Keys { kNow, kLater };
  explicit ItemGlance(cJournaledIndexedObjectSoupDatabase& db, Keys keys = Keys::kNow) : db_(db), keys_(keys) {}
  // memo NIL: as without one.
  ItemGlance(cJournaledIndexedObjectSoupDatabase& db, GlanceMemo* memo, Memo use, Keys keys = Keys::kNow)
      : db_(db), memo_(memo), use_(use), keys_(keys) {}
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
  // TRUE when the item looked at is a loaded one (held).
  bool holdsLoaded() const { return loaded_ != nullptr; }
  // The item looked at with its link and uniqueID (see invariant 4); NIL
  // when there is none.
  const newsItem* keys();
  // The texts of the link and uniqueID of the item looked at (empty for
  // NIL) without setting them: views of its record's bytes or of its
  // fields, valid until the next look. There must be an item.
  struct KeyTexts {
    std::string_view link, uniqueID;
  };
  KeyTexts keyTexts() const;
  // The item looked at, for a caller that only reads it but needs it as a
  // loaded item (a chain walk): an item without a feed borrows feed, as a
  // load would give it. There must be an item.
  newsItem& lend(newsFeed* feed);
  // The item looked at got these list links in the file (its node header
  // written): a glance's own item takes them; a loaded one has them already.
  void relinked(int32_t nextIndex, int32_t prevIndex);
  void clear();

 private:
  cJournaledIndexedObjectSoupDatabase& db_;
  GlanceMemo* memo_ = nullptr;
  Memo use_ = Memo::kKeep;
  Keys keys_ = Keys::kNow;
  // Decodes the record at bytes into read_, its keys as keys_ says; FALSE
  // as glanceItemRecord.
  bool decode(const uint8_t* bytes, size_t size);

  // read_ lacks the keys of its record, which lie in link_ and uniqueID_
  // (in bytes_ or in the memo, whichever holds the record until the next
  // look).
  bool keyless_ = false;
  RecordString link_, uniqueID_;
  std::unique_ptr<newsItem> read_;
  std::vector<uint8_t> bytes_;
  newsItem* loaded_ = nullptr;
  const newsItem* item_ = nullptr;
};

}  // namespace bw
