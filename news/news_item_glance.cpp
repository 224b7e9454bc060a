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

// The values of a record's bytes, read as the restore transfers read them;
// ok() turns FALSE at the first value that is not there or not plain.
class RecordBytes {
 public:
  RecordBytes(const uint8_t* bytes, size_t size) : at_(bytes), end_(bytes + size) {}
  bool ok() const { return ok_; }

  int32_t value() { return take(4) ? static_cast<int32_t>(getBig32(at_ - 4)) : 0; }
  int64_t big() { return take(8) ? static_cast<int64_t>(getBig64(at_ - 8)) : 0; }
  uint8_t byte() { return take(1) ? at_[-1] : 0; }
  // A compact value of at most five bytes (a longer one is left to the
  // restore, which drops its bits past 31).
  int32_t compact() {
    int32_t value = 0;
    const int n = ok_ ? decodeCompactValue(at_, static_cast<size_t>(end_ - at_), &value) : 0;
    return n > 0 && take(n) ? value : fail();
  }
  // A NIL or version 1 string record with restoreSTRING's checks: nil, or
  // its text and capacity.
  struct String {
    bool nil = true;
    std::string_view text;
    int32_t capacity = 0;
  };
  String string() {
    String s;
    const uint8_t version = byte();
    if (!ok_ || version == 0xFF) return s;
    if (version != 1) return fail(), s;
    s.capacity = compact();
    const int32_t length = compact();
    if (!ok_ || s.capacity < 0 || length < 0 || length > s.capacity || !take(length)) return fail(), s;
    s.nil = false;
    s.text = std::string_view(reinterpret_cast<const char*>(at_ - length), static_cast<size_t>(length));
    return s;
  }

 private:
  bool take(int64_t n) {
    if (end_ - at_ < n || !ok_) return fail();
    at_ += n;
    return true;
  }
  int fail() {
    ok_ = false;
    return 0;
  }

  const uint8_t* at_;
  const uint8_t* end_;
  bool ok_ = true;
};

// A key as restoreSTRING gives it, reusing the text's room.
void setKey(Str& field, const RecordBytes::String& s) {
  if (s.nil) {
    field = Str();
    return;
  }
  if (field.isNil()) field = Str::withCapacity(s.capacity);
  field.setCapacity(s.capacity);
  field.assign(s.text);
}

}  // namespace

bool glanceItemRecord(const uint8_t* bytes, size_t size, newsItem& into, bool keys) {
  RecordBytes r(bytes, size);
  const int32_t next = r.value();
  const int32_t prev = r.value();
  if (r.value() != kNewsItemVersion || !r.ok()) return false;
  into.setNodeHeader(next, prev);
  into.version = kNewsItemVersion;
  into.feedIndex = r.value();
  r.string();
  into.titleFormat = r.byte();
  const RecordBytes::String link = r.string();
  r.string();
  const RecordBytes::String uniqueID = r.string();
  into.published = r.big();
  into.updated = r.big();
  into.downloaded = r.big();
  into.olderDuplicateItemIndex = r.compact();
  into.newestDuplicateItemIndex = r.compact();
  r.string();
  into.seen = r.byte() != 0;
  into.secondMark = r.byte() != 0;
  into.bodyIndex = r.value();
  if (!r.ok()) return false;
  if (keys) {
    setKey(into.link, link);
    setKey(into.uniqueID, uniqueID);
  }
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
  const bool keys = keys_ == Keys::kNow;
  if (kept) {
    db_.nameOutsideObject(index, *read_);
    const uint8_t* bytes = memo_->bytes_.data() + kept->at;
    if (glanceItemRecord(bytes, kept->size, *read_, keys)) {
      if (!keys) keyless_ = bytes, keylessSize_ = kept->size;
      item_ = read_.get();
      return item_;
    }
  }
  try {
    db_.readRecordBytes(index, *read_, kGlanceBytes, bytes_);
    if (glanceItemRecord(bytes_.data(), bytes_.size(), *read_, keys)) {
      if (!keys) keyless_ = bytes_.data(), keylessSize_ = bytes_.size();
      if (memo_ && use_ == Memo::kKeep) {
        memo_->kept_.push_back({index, memo_->bytes_.size(), bytes_.size()});
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
  // The bytes decoded once already: the second decode answers as the first.
  if (keyless_) glanceItemRecord(keyless_, keylessSize_, *read_, true);
  keyless_ = nullptr;
  return item_;
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
  keyless_ = nullptr;
  if (newsItem* loaded = std::exchange(loaded_, nullptr)) db_.unloadObject(loaded);
}

void ItemGlance::swap(ItemGlance& other) noexcept {
  std::swap(memo_, other.memo_);
  std::swap(use_, other.use_);
  std::swap(keys_, other.keys_);
  std::swap(keyless_, other.keyless_);
  std::swap(keylessSize_, other.keylessSize_);
  std::swap(read_, other.read_);
  std::swap(bytes_, other.bytes_);
  std::swap(loaded_, other.loaded_);
  std::swap(item_, other.item_);
}

}  // namespace bw
