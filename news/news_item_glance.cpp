// news/news_item_glance.cpp - glancing at stored items.
#include "news/news_item_glance.h"

#include <string_view>
#include <utility>

#include "core/exception.h"
#include "database/journal_format.h"  // the big-endian codec
#include "news/news_load.h"
#include "platform/restore_stream.h"

namespace bw {
namespace {

// Enough for an item record of ordinary texts; a longer one is read whole
// through its restore.
constexpr int32_t kGlanceBytes = 1024;

const char kNoRecord[] = "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index";

// A record's bytes, read as the restore transfers read them; each step
// answers FALSE when its value is not there or not plain, and then the
// cursor is not to be used again.
class RecordCursor {
 public:
  RecordCursor(const uint8_t* bytes, size_t size) : at_(bytes), end_(bytes + size) {}

  bool skip(size_t n) {
    if (static_cast<size_t>(end_ - at_) < n) return false;
    at_ += n;
    return true;
  }
  const uint8_t* at() const { return at_; }
  // A compact value of at most five bytes (a longer one is left to the
  // restore, which drops its bits past 31).
  bool compact(int32_t& value) {
    const int n = decodeCompactValue(at_, static_cast<size_t>(end_ - at_), &value);
    at_ += n;
    return n > 0;
  }
  // A NIL or version 1 string record with restoreSTRING's checks.
  bool string(RecordString& s) {
    s = RecordString{};
    if (at_ == end_) return false;
    const uint8_t version = *at_++;
    if (version == 0xFF) return true;
    int32_t length = 0;
    if (version != 1 || !compact(s.capacity) || !compact(length) || s.capacity < 0 || length < 0 ||
        length > s.capacity || end_ - at_ < length) {
      return false;
    }
    s.nil = false;
    s.text = std::string_view(reinterpret_cast<const char*>(at_), static_cast<size_t>(length));
    at_ += length;
    return true;
  }

 private:
  const uint8_t* at_;
  const uint8_t* end_;
};

// A key as restoreSTRING gives it, reusing the text's room.
void setKey(Str& field, const RecordString& s) {
  if (s.nil) {
    field = Str();
    return;
  }
  if (field.isNil()) field = Str::withCapacity(s.capacity);
  field.setCapacity(s.capacity);
  field.assign(s.text);
}

// glanceItemRecord without the keys: link and uniqueID are left in link
// and uniqueID.
bool readItemRecord(const uint8_t* bytes, size_t size, newsItem& into, RecordString& link, RecordString& uniqueID) {
  if (size < 16 || static_cast<int32_t>(getBig32(bytes + 8)) != kNewsItemVersion) return false;
  RecordCursor r(bytes + 16, size - 16);
  RecordString title, statedLink, tags;
  if (!r.string(title) || !r.skip(1)) return false;
  const uint8_t titleFormat = r.at()[-1];
  if (!r.string(link) || !r.string(statedLink) || !r.string(uniqueID) || !r.skip(24)) return false;
  const uint8_t* dates = r.at() - 24;
  int32_t older = 0, newest = 0;
  if (!r.compact(older) || !r.compact(newest) || !r.string(tags) || !r.skip(6)) return false;
  const uint8_t* last = r.at() - 6;
  into.setNodeHeader(static_cast<int32_t>(getBig32(bytes)), static_cast<int32_t>(getBig32(bytes + 4)));
  into.version = kNewsItemVersion;
  into.feedIndex = static_cast<int32_t>(getBig32(bytes + 12));
  into.titleFormat = titleFormat;
  into.published = getBig64(dates);
  into.updated = getBig64(dates + 8);
  into.downloaded = getBig64(dates + 16);
  into.olderDuplicateItemIndex = older;
  into.newestDuplicateItemIndex = newest;
  into.seen = last[0] != 0;
  into.secondMark = last[1] != 0;
  into.bodyIndex = static_cast<int32_t>(getBig32(last + 2));
  return true;
}

// What readItemRecord read into item, link and uniqueID from the record at
// bytes.
GlancedFields glancedFields(const newsItem& item, const uint8_t* bytes, const RecordString& link,
                            const RecordString& uniqueID) {
  const auto text = [&](const RecordString& s) {
    if (s.nil) return GlancedFields::Text{};
    return GlancedFields::Text{false, static_cast<uint32_t>(reinterpret_cast<const uint8_t*>(s.text.data()) - bytes),
                               static_cast<uint32_t>(s.text.size()), s.capacity};
  };
  return {item.published,
          item.updated,
          item.downloaded,
          item.infoNextIndex(),
          item.infoPrevIndex(),
          item.feedIndex,
          item.olderDuplicateItemIndex,
          item.newestDuplicateItemIndex,
          item.bodyIndex,
          item.titleFormat,
          item.seen,
          item.secondMark,
          text(link),
          text(uniqueID)};
}

// readItemRecord of the record at bytes again, from what it read there.
void takeGlancedFields(const GlancedFields& f, const uint8_t* bytes, newsItem& into, RecordString& link,
                       RecordString& uniqueID) {
  const auto text = [&](const GlancedFields::Text& t) {
    if (t.nil) return RecordString{};
    return RecordString{false, std::string_view(reinterpret_cast<const char*>(bytes) + t.at, t.length), t.capacity};
  };
  link = text(f.link);
  uniqueID = text(f.uniqueID);
  into.setNodeHeader(f.nextIndex, f.prevIndex);
  into.version = kNewsItemVersion;
  into.feedIndex = f.feedIndex;
  into.titleFormat = f.titleFormat;
  into.published = f.published;
  into.updated = f.updated;
  into.downloaded = f.downloaded;
  into.olderDuplicateItemIndex = f.older;
  into.newestDuplicateItemIndex = f.newest;
  into.seen = f.seen;
  into.secondMark = f.secondMark;
  into.bodyIndex = f.bodyIndex;
}

}  // namespace

bool glanceItemRecord(const uint8_t* bytes, size_t size, newsItem& into, bool keys) {
  RecordString link, uniqueID;
  if (!readItemRecord(bytes, size, into, link, uniqueID)) return false;
  if (keys) {
    setKey(into.link, link);
    setKey(into.uniqueID, uniqueID);
  }
  return true;
}

bool ItemGlance::decode(const uint8_t* bytes, size_t size) {
  if (!readItemRecord(bytes, size, *read_, link_, uniqueID_)) return false;
  keyless_ = true;
  if (keys_ == Keys::kNow) keys();
  return true;
}

const newsItem* ItemGlance::look(int32_t index) {
  clear();
  countNewsItemLoad();
  db_.requireOpen("loadObject");
  if (index <= 0) return nullptr;
  const GlanceMemo::Kept* kept = nullptr;
  if (memo_ && use_ == Memo::kTake && memo_->next_ < memo_->kept_.size() &&
      memo_->kept_[memo_->next_].index == index) {
    kept = &memo_->kept_[memo_->next_++];
  }
  if (cIndexedObject* loaded = db_.findLoadedObject(index, 1)) {
    if (!loaded->isOfClass(newsItem::kClassName)) {
      db_.unloadObject(loaded);
      return nullptr;
    }
    hold(static_cast<newsItem*>(loaded));
    return item_;
  }
  if (!read_) {
    read_ = std::make_unique<newsItem>();
    read_->textsRead = newsItem::Texts::kKeys;
  }
  if (kept) {
    // What decode read from the kept bytes, read again.
    db_.nameOutsideObject(index, *read_);
    takeGlancedFields(kept->fields, memo_->bytes_.data() + kept->at, *read_, link_, uniqueID_);
    keyless_ = true;
    if (keys_ == Keys::kNow) keys();
    item_ = read_.get();
    return item_;
  }
  try {
    db_.readRecordBytes(index, *read_, kGlanceBytes, bytes_);
    if (decode(bytes_.data(), bytes_.size())) {
      if (memo_ && use_ == Memo::kKeep) {
        memo_->kept_.push_back(
            {index, memo_->bytes_.size(), bytes_.size(), glancedFields(*read_, bytes_.data(), link_, uniqueID_)});
        memo_->bytes_.insert(memo_->bytes_.end(), bytes_.begin(), bytes_.end());
      }
    } else {
      db_.readRecordInto(index, *read_);
    }
  } catch (const eException& e) {
    if (e.code() == "EMU" && e.message() == kNoRecord) return nullptr;
    throw;
  }
  item_ = read_.get();
  return item_;
}

const newsItem* ItemGlance::keys() {
  if (keyless_) {
    setKey(read_->link, link_);
    setKey(read_->uniqueID, uniqueID_);
    keyless_ = false;
  }
  return item_;
}

ItemGlance::KeyTexts ItemGlance::keyTexts() const {
  if (keyless_) return {link_.text, uniqueID_.text};
  return {item_->link.view(), item_->uniqueID.view()};
}

newsItem& ItemGlance::lend(newsFeed* feed) {
  newsItem& item = loaded_ ? *loaded_ : *read_;
  if (!item.cachedFeed()) item.setFeed(feed);
  return item;
}

void ItemGlance::relinked(int32_t nextIndex, int32_t prevIndex) {
  if (item_ && !loaded_) read_->setNodeHeader(nextIndex, prevIndex);
}

void ItemGlance::hold(newsItem* loaded) {
  clear();
  loaded_ = loaded;
  item_ = loaded;
}

void ItemGlance::load(newsFeed* feed) {
  if (!item_ || loaded_) return;
  if (newsItem* item = loadObject_newsItem2(db_, item_->infoSoupIndex(), feed)) hold(item);
}

void ItemGlance::clear() {
  item_ = nullptr;
  keyless_ = false;
  if (newsItem* loaded = std::exchange(loaded_, nullptr)) db_.unloadObject(loaded);
}

}  // namespace bw
