// news/news_records.cpp - restore of the four news classes (both directions)
// and the backup dump's object records.
#include <cstring>
#include <memory>

#include "core/exception.h"
#include "core/string_procs.h"
#include "database/journal_format.h"  // the big-endian codec
#include "database/soup_stream.h"
#include "news/item_body_record.h"
#include "news/news_load.h"
#include "news/news_objects.h"

namespace bw {
namespace {

// The database a record is read through, NIL for streams of no soup.
cJournaledIndexedObjectSoupDatabase* databaseOf(cRestoreStreamBase& stream) {
  if (!stream.isOfClass(cRestoreStream_any_cFile_Soup::kClassName)) return nullptr;
  cJournaledIndexedObjectSoup* soup = static_cast<cRestoreStream_any_cFile_Soup&>(stream).infoSoup();
  if (!soup || !soup->isOfClass(cJournaledIndexedObjectSoupDatabase::kClassName)) return nullptr;
  return static_cast<cJournaledIndexedObjectSoupDatabase*>(soup);
}

// The record's version: the class's own when storing, else the one read,
// refused above newest.
int32_t transferVersion(cRestoreStreamBase& stream, bool storing, int32_t newest, const char* tooNew) {
  int32_t version = transferValue(stream, storing, newest);
  if (!storing && version > newest) raise("VER", tooNew);
  return version;
}

// A string field, stored as it stands or read into place.
void transferString(cRestoreStreamBase& s, bool storing, Str& field) {
  if (storing) {
    storeSTRING(s, field);
  } else {
    field = restoreSTRING(s, false, field);
  }
}

// Field helpers: transferred when the record's version holds them, else the
// default for an older record.
void stringFrom(cRestoreStreamBase& s, bool storing, int32_t version, int32_t from, Str& field) {
  if (version >= from) {
    transferString(s, storing, field);
  } else {
    field = Str();
  }
}
bool boolFrom(cRestoreStreamBase& s, bool storing, int32_t version, int32_t from, bool value) {
  return version >= from ? transferBool(s, storing, value) != 0 : false;
}
int64_t bigFrom(cRestoreStreamBase& s, bool storing, int32_t version, int32_t from, int64_t value,
                int64_t fallback) {
  return version >= from ? transferBigValue(s, storing, value) : fallback;
}

const char kStoredWithoutTexts[] = "newsItem.restore(); an item read without its texts cannot be stored";

// Which texts of a record a read that keeps only some keeps.
enum TextKind { kKeyText, kOtherText };
// A field every record holds, even one whose version is damaged to below 0.
constexpr int32_t kEveryVersion = INT32_MIN;

}  // namespace

void newsRoot::restore(cRestoreStreamBase& s, bool storing) {
  int32_t v = transferVersion(s, storing, kNewsRootVersion,
                              "newsRoot.restore(); soup contains unsupported object version");
  version = v;
  stringFrom(s, storing, v, 3, twitterToken);
  stringFrom(s, storing, v, 4, twitterTokenSecret);
  stringFrom(s, storing, v, 5, facebookAccessToken);
  stringFrom(s, storing, v, 6, facebookUserID);
  stringFrom(s, storing, v, 7, rootText5);
  rootValue64 = bigFrom(s, storing, v, 8, rootValue64, 0);
  if (!storing) {
    if (cJournaledIndexedObjectSoupDatabase* db = databaseOf(s)) soup = db;
  }
  feedListIndex = transferValue(s, storing, feedListIndex);
}

void newsFeed::restore(cRestoreStreamBase& s, bool storing, bool skipHeader) {
  if (!skipHeader) cIndexedObjectNode::restore(s, storing);
  int32_t v = transferVersion(s, storing, kNewsFeedVersion,
                              "newsFeed.restore(); soup contains unsupported future object version");
  version = v;
  transferString(s, storing, title);
  transferString(s, storing, url);
  transferString(s, storing, uniqueID);
  transferString(s, storing, type);
  if (!storing) docFormat = feedTypeToDocFormat(type);
  disabled = boolFrom(s, storing, v, 7, disabled);
  selectedInList = boolFrom(s, storing, v, 12, selectedInList);
  seenUpToTime = bigFrom(s, storing, v, 5, seenUpToTime, kDateUnset);
  noOlderItems = boolFrom(s, storing, v, 13, noOlderItems);
  twitterUpdateCredit = v >= 11 ? transferCompactValue(s, storing, twitterUpdateCredit) : 0;
  transferString(s, storing, updatedText);
  transferString(s, storing, imageURL);
  transferString(s, storing, language);
  transferString(s, storing, subtitle);
  transferString(s, storing, rights);
  transferString(s, storing, generator);
  downloadLength = bigFrom(s, storing, v, 6, downloadLength, -1);
  stringFrom(s, storing, v, 3, userName);
  stringFrom(s, storing, v, 4, tags);
  summaryIsContents = boolFrom(s, storing, v, 2, summaryIsContents);
  notUpdates = boolFrom(s, storing, v, 10, notUpdates);
  stringFrom(s, storing, v, 9, filter);
  if (!storing) filterTerms = filter.isNil() ? StrChain() : splitString(filter, ",").chain;
  useDownloadDate = boolFrom(s, storing, v, 8, useDownloadDate);
  if (!storing) {
    previousSeenUpToTime = kDateUnset;
    newestItemTime = kDateUnset;
    downloadFailed = false;
    hasNewItems = false;
    nameCache = Str();
    tagsCache = Str();
    if (cJournaledIndexedObjectSoupDatabase* db = databaseOf(s)) soup = db;
  }
  if (!skipHeader) itemListIndex = transferValue(s, storing, itemListIndex);
}

namespace {

// The item record, its fields in stored order, each with the first record
// version that holds it. The node header, feed index and body index are the
// header: the backup form leaves them out. Link and uniqueID are the keys,
// the texts a glance keeps; a read through the dates ends after updated.
template <class Fields>
void itemRecord(Fields& f, newsItem& item) {
  f.links(item);
  const int32_t v = f.version(item.version, kNewsItemVersion,
                              "newsItem.restore(); soup contains unsupported future object version");
  f.headerValue(v, 5, item.feedIndex);
  f.text(v, 0, kOtherText, item.title);
  f.byte(item.titleFormat);
  f.text(v, 0, kKeyText, item.link);
  f.text(v, 7, kOtherText, item.statedLink);
  f.text(v, 0, kKeyText, item.uniqueID);
  f.date(v, 2, item.published);
  f.date(v, 2, item.updated);
  if (f.stopsAfterDates()) return;
  f.date(v, 6, item.downloaded);
  f.compact(v, 8, item.olderDuplicateItemIndex);
  f.compact(v, 8, item.newestDuplicateItemIndex);
  f.text(v, 9, kOtherText, item.tags);
  f.flag(v, 3, item.seen);
  f.flag(v, 4, item.secondMark);
  f.headerValue(v, kEveryVersion, item.bodyIndex);
}

// The body record (no header); Body is a newsItemBody or the views of
// ItemBodyTexts.
template <class Fields, class Body>
void bodyRecord(Fields& f, Body& body, int32_t& version) {
  const int32_t v = f.version(version, kNewsItemBodyVersion,
                              "newsItemBody.restore(); soup contains unsupported future object version");
  if (v < kNewsItemBodyVersion) raise("VER", "newsItemBody.restore(); soup contains unsupported old object version");
  f.text(v, 0, kOtherText, body.encoding);
  f.text(v, 0, kOtherText, body.statedEncoding);
  f.text(v, 0, kOtherText, body.publishedText);
  f.text(v, 0, kOtherText, body.updatedText);
  f.text(v, 0, kOtherText, body.author);
  f.text(v, 0, kOtherText, body.imageURL);
  f.text(v, 0, kOtherText, body.summary);
  f.byte(body.summaryFormat);
  f.text(v, 0, kOtherText, body.content);
  f.byte(body.contentFormat);
}

// A record read or stored value by value through the stream's transfers.
class TransferFields {
 public:
  TransferFields(cRestoreStreamBase& stream, bool storing, bool skipHeader, newsItem::Texts texts)
      : s_(stream),
        storing_(storing),
        skipHeader_(skipHeader),
        skipOthers_(!storing && texts != newsItem::Texts::kAll),
        skipKeys_(!storing && texts == newsItem::Texts::kNone),
        stopsAfterDates_(!storing && texts == newsItem::Texts::kKeysAndDates) {}

  bool stopsAfterDates() const { return stopsAfterDates_; }

  void links(newsItem& item) {
    if (!skipHeader_) item.cIndexedObjectNode::restore(s_, storing_);
  }
  int32_t version(int32_t& field, int32_t newest, const char* tooNew) {
    return field = transferVersion(s_, storing_, newest, tooNew);
  }
  void headerValue(int32_t v, int32_t from, int32_t& field) {
    if (!skipHeader_) field = v >= from ? transferValue(s_, storing_, field) : 0;
  }
  void text(int32_t v, int32_t from, TextKind kind, Str& field) {
    if ((kind == kKeyText ? skipKeys_ : skipOthers_) && v >= from) {
      skipSTRING(s_);
    } else {
      stringFrom(s_, storing_, v, from, field);
    }
  }
  void byte(uint8_t& field) { field = static_cast<uint8_t>(transferUnsignedByte(s_, storing_, field)); }
  void date(int32_t v, int32_t from, int64_t& field) { field = bigFrom(s_, storing_, v, from, field, kDateUnset); }
  void compact(int32_t v, int32_t from, int32_t& field) {
    field = v >= from ? transferCompactValue(s_, storing_, field) : 0;
  }
  void flag(int32_t v, int32_t from, bool& field) { field = boolFrom(s_, storing_, v, from, field); }

 private:
  cRestoreStreamBase& s_;
  bool storing_, skipHeader_, skipOthers_, skipKeys_, stopsAfterDates_;
};

// A record stored in the version the class writes; its texts may be views
// (ItemBodyTexts).
class StoreFields {
 public:
  explicit StoreFields(cRestoreStreamBase& stream) : s_(stream) {}
  bool stopsAfterDates() const { return false; }
  void links(newsItem& item) { item.cIndexedObjectNode::restore(s_, true); }
  int32_t version(int32_t& field, int32_t newest, const char*) {
    transferValue(s_, true, field = newest);
    return newest;
  }
  void headerValue(int32_t, int32_t, int32_t& field) { transferValue(s_, true, field); }
  template <class Text>
  void text(int32_t, int32_t, TextKind, const Text& field) {
    storeSTRING(s_, field);
  }
  void byte(uint8_t field) { transferUnsignedByte(s_, true, field); }
  void date(int32_t, int32_t, int64_t field) { transferBigValue(s_, true, field); }
  void compact(int32_t, int32_t, int32_t field) { transferCompactValue(s_, true, field); }
  void flag(int32_t, int32_t, bool field) { transferBool(s_, true, field); }

 private:
  cRestoreStreamBase& s_;
};

// A record read straight from the bytes a stream has ahead, as the
// transfers read it, for records of NIL and version 1 strings whose values
// all lie there. Any other stops the read (ok() FALSE, the fields read so
// far set): the transfers then read the record again, with their checks
// and messages.
class AheadFields {
 public:
  AheadFields(std::span<const uint8_t> bytes, newsItem::Texts texts)
      : at_(bytes.data()),
        begin_(bytes.data()),
        end_(bytes.data() + bytes.size()),
        skipOthers_(texts != newsItem::Texts::kAll),
        skipKeys_(texts == newsItem::Texts::kNone),
        stopsAfterDates_(texts == newsItem::Texts::kKeysAndDates) {}

  bool ok() const { return ok_; }
  bool stopsAfterDates() const { return stopsAfterDates_; }
  size_t used() const { return static_cast<size_t>(at_ - begin_); }

  void links(newsItem& item) {
    int32_t next = 0, prev = 0;
    value(next);
    value(prev);
    if (ok_) item.setNodeHeader(next, prev);
  }
  int32_t version(int32_t& field, int32_t newest, const char*) {
    int32_t v = 0;
    value(v);
    if (v > newest) ok_ = false;
    if (!ok_) return newest;
    return field = v;
  }
  void headerValue(int32_t v, int32_t from, int32_t& field) {
    if (v < from) {
      field = 0;
    } else {
      value(field);
    }
  }
  void text(int32_t v, int32_t from, TextKind kind, Str& field) {
    if (v < from) {
      field = Str();
      return;
    }
    if (!ok_ || at_ == end_) return stop();
    const uint8_t version = *at_++;
    if (version == 0xFF) {
      if (!(kind == kKeyText ? skipKeys_ : skipOthers_)) field = Str();
      return;
    }
    int32_t capacity = 0, length = 0;
    if (version != 1 || !compactValue(capacity) || !compactValue(length) || capacity < 0 || length < 0 ||
        length > capacity || end_ - at_ < length) {
      return stop();
    }
    const std::string_view text(reinterpret_cast<const char*>(at_), static_cast<size_t>(length));
    at_ += length;
    if (kind == kKeyText ? skipKeys_ : skipOthers_) return;
    // The field's room is kept: a glance reads into the same item again
    // and again.
    if (field.isNil()) field = Str::withCapacity(capacity);
    field.setCapacity(capacity);
    field.assign(text);
  }
  void byte(uint8_t& field) {
    if (room(1)) field = *at_++;
  }
  void date(int32_t v, int32_t from, int64_t& field) {
    if (v < from) {
      field = kDateUnset;
    } else if (room(8)) {
      field = static_cast<int64_t>(getBig64(at_));
      at_ += 8;
    }
  }
  void compact(int32_t v, int32_t from, int32_t& field) {
    if (v < from) {
      field = 0;
    } else {
      compactValue(field);
    }
  }
  void flag(int32_t v, int32_t from, bool& field) {
    if (v < from) {
      field = false;
    } else if (room(1)) {
      field = *at_++ != 0;
    }
  }

 private:
  void stop() { ok_ = false; }
  bool room(size_t n) {
    if (ok_ && static_cast<size_t>(end_ - at_) >= n) return true;
    stop();
    return false;
  }
  void value(int32_t& field) {
    if (!room(4)) return;
    field = static_cast<int32_t>(getBig32(at_));
    at_ += 4;
  }
  bool compactValue(int32_t& field) {
    const int n = ok_ ? decodeCompactValue(at_, static_cast<size_t>(end_ - at_), &field) : 0;
    if (n == 0) stop();
    at_ += n;
    return n > 0;
  }

  const uint8_t* at_;
  const uint8_t* begin_;
  const uint8_t* end_;
  bool skipOthers_, skipKeys_, stopsAfterDates_;
  bool ok_ = true;
};

}  // namespace

void newsItem::restore(cRestoreStreamBase& s, bool storing, bool skipHeader) {
  if (storing && textsRead != Texts::kAll) raise("BUG", kStoredWithoutTexts);
  if (storing && !skipHeader) {
    storeRecord(s);
    return;
  }
  if (!storing && !skipHeader) {
    AheadFields ahead(s.ahead(), textsRead);
    itemRecord(ahead, *this);
    if (ahead.ok()) {
      s.skipAhead(ahead.used());
      return;
    }
  }
  TransferFields fields(s, storing, skipHeader, textsRead);
  itemRecord(fields, *this);
}

void newsItem::storeRecord(cRestoreStreamBase& s) {
  StoreFields fields(s);
  itemRecord(fields, *this);
}

void storeItemBodyRecord(cRestoreStreamBase& s, const ItemBodyTexts& t) {
  StoreFields fields(s);
  int32_t version = kNewsItemBodyVersion;
  bodyRecord(fields, t, version);
}

void newsItemBody::storeRecord(cRestoreStreamBase& s) {
  version = kNewsItemBodyVersion;
  auto of = [](const Str& text) { return recordStringOf(text); };
  storeItemBodyRecord(s, {of(encoding), of(statedEncoding), of(publishedText), of(updatedText), of(author),
                          of(imageURL), of(summary), summaryFormat, of(content), contentFormat});
}

void newsItemBodyRecord::restore(cRestoreStreamBase& s, bool storing) {
  if (!storing) raise("BUG", "newsItemBodyRecord.restore(); a body record is only stored");
  storeItemBodyRecord(s, texts);
}

void newsItemBody::restore(cRestoreStreamBase& s, bool storing, bool skipHeader) {
  if (storing && !skipHeader) {
    storeRecord(s);
    return;
  }
  TransferFields fields(s, storing, skipHeader, newsItem::Texts::kAll);
  bodyRecord(fields, *this, version);
}

namespace {

template <class T>
std::unique_ptr<T> restoreObject(cRestoreStreamBase& stream, bool storing, T* object) {
  bool isNil = transferBool(stream, storing, storing && object == nullptr) != 0;
  if (storing) {
    if (object) object->restore(stream, true, true);
    return nullptr;
  }
  if (isNil) return nullptr;
  auto made = std::make_unique<T>();
  made->restore(stream, false, true);
  return made;
}

}  // namespace

std::unique_ptr<newsFeed> restoreObject_newsFeed(cRestoreStreamBase& stream, bool storing, newsFeed* object) {
  return restoreObject(stream, storing, object);
}
std::unique_ptr<newsItem> restoreObject_newsItem(cRestoreStreamBase& stream, bool storing, newsItem* object) {
  return restoreObject(stream, storing, object);
}
std::unique_ptr<newsItemBody> restoreObject_newsItemBody(cRestoreStreamBase& stream, bool storing,
                                                         newsItemBody* object) {
  return restoreObject(stream, storing, object);
}

}  // namespace bw
