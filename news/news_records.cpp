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

// A record's values gathered into one buffer and put together, the bytes
// the field transfers put one call each: the soup stores an item or a body
// at every create and save.
class RecordOut {
 public:
  explicit RecordOut(cRestoreStreamBase& stream) : stream_(stream) {}
  RecordOut(const RecordOut&) = delete;
  RecordOut& operator=(const RecordOut&) = delete;

  void value(int32_t v) {
    putBig32(room(4), static_cast<uint32_t>(v));
    n_ += 4;
  }
  void big(int64_t v) {
    putBig64(room(8), static_cast<uint64_t>(v));
    n_ += 8;
  }
  void byte(int32_t v) {
    *room(1) = static_cast<uint8_t>(v);
    n_ += 1;
  }
  // A C++ bool as transferBool stores it: true as -1.
  void flag(bool b) { byte(b ? -1 : 0); }
  void compact(int32_t v) { n_ += static_cast<size_t>(compactAt(v, room(5))); }
  // storeSTRING's bytes: the mark, capacity, length and text, in place when
  // the buffer has room for them all.
  [[gnu::always_inline]] void string(const RecordString& s) {
    if (s.nil) return byte(-1);
    const size_t length = s.text.size();
    if (sizeof buffer_ - n_ < 11 + length) return stringInParts(s);
    uint8_t* p = buffer_ + n_;
    *p++ = 1;
    p += compactAt(s.capacity, p);
    p += compactAt(static_cast<int32_t>(length), p);
    if (length > 0) std::memcpy(p, s.text.data(), length);
    n_ = static_cast<size_t>(p + length - buffer_);
  }
  [[gnu::always_inline]] void string(const Str& s) { string(recordStringOf(s)); }
  void flush() {
    if (n_ > 0) stream_.put(buffer_, static_cast<int32_t>(n_));
    n_ = 0;
  }

 private:
  // Most compact values (string lengths) fit one byte: 0-63 with the last
  // byte's mark.
  static int compactAt(int32_t v, uint8_t* out) {
    if (static_cast<uint32_t>(v) >= 64) return encodeCompactValue(v, out);
    *out = static_cast<uint8_t>(v | 0x80);
    return 1;
  }
  void stringInParts(const RecordString& s) {
    const size_t length = s.text.size();
    byte(1);
    compact(s.capacity);
    compact(static_cast<int32_t>(length));
    if (length <= sizeof buffer_ - n_) {
      if (length > 0) std::memcpy(buffer_ + n_, s.text.data(), length);
      n_ += length;
    } else {
      flush();
      stream_.put(s.text.data(), static_cast<int32_t>(length));
    }
  }
  uint8_t* room(size_t k) {
    if (sizeof buffer_ - n_ < k) flush();
    return buffer_ + n_;
  }

  cRestoreStreamBase& stream_;
  uint8_t buffer_[512];
  size_t n_ = 0;
};

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

void newsItem::restore(cRestoreStreamBase& s, bool storing, bool skipHeader) {
  if (storing && !skipHeader) {
    storeRecord(s);
    return;
  }
  if (!skipHeader) cIndexedObjectNode::restore(s, storing);
  int32_t v = transferVersion(s, storing, kNewsItemVersion,
                              "newsItem.restore(); soup contains unsupported future object version");
  version = v;
  if (!skipHeader) feedIndex = v >= 5 ? transferValue(s, storing, feedIndex) : 0;
  if (storing && textsRead != Texts::kAll) {
    raise("BUG", kStoredWithoutTexts);
  }
  const bool skipOthers = !storing && textsRead != Texts::kAll;
  const bool skipKeys = !storing && textsRead == Texts::kNone;
  auto text = [&](int32_t from, Str& field, bool skip) {
    if (skip && v >= from) {
      skipSTRING(s);
    } else {
      stringFrom(s, storing, v, from, field);
    }
  };
  text(0, title, skipOthers);
  titleFormat = static_cast<uint8_t>(transferUnsignedByte(s, storing, titleFormat));
  text(0, link, skipKeys);
  text(7, statedLink, skipOthers);
  text(0, uniqueID, skipKeys);
  published = bigFrom(s, storing, v, 2, published, kDateUnset);
  updated = bigFrom(s, storing, v, 2, updated, kDateUnset);
  downloaded = bigFrom(s, storing, v, 6, downloaded, kDateUnset);
  olderDuplicateItemIndex = v >= 8 ? transferCompactValue(s, storing, olderDuplicateItemIndex) : 0;
  newestDuplicateItemIndex = v >= 8 ? transferCompactValue(s, storing, newestDuplicateItemIndex) : 0;
  text(9, tags, skipOthers);
  seen = boolFrom(s, storing, v, 3, seen);
  secondMark = boolFrom(s, storing, v, 4, secondMark);
  if (!skipHeader) bodyIndex = transferValue(s, storing, bodyIndex);
}

// The stored record as the field transfers above write it (the backup
// dump's road, skipHeader, keeps them), in one buffer.
void newsItem::storeRecord(cRestoreStreamBase& s) {
  RecordOut out(s);
  out.value(infoNextIndex());
  out.value(infoPrevIndex());
  version = kNewsItemVersion;
  out.value(version);
  out.value(feedIndex);
  if (textsRead != Texts::kAll) raise("BUG", kStoredWithoutTexts);
  out.string(title);
  out.byte(titleFormat);
  out.string(link);
  out.string(statedLink);
  out.string(uniqueID);
  out.big(published);
  out.big(updated);
  out.big(downloaded);
  out.compact(olderDuplicateItemIndex);
  out.compact(newestDuplicateItemIndex);
  out.string(tags);
  out.flag(seen);
  out.flag(secondMark);
  out.value(bodyIndex);
  out.flush();
}

void storeItemBodyRecord(cRestoreStreamBase& s, const ItemBodyTexts& t) {
  RecordOut out(s);
  out.value(kNewsItemBodyVersion);
  out.string(t.encoding);
  out.string(t.statedEncoding);
  out.string(t.publishedText);
  out.string(t.updatedText);
  out.string(t.author);
  out.string(t.imageURL);
  out.string(t.summary);
  out.byte(t.summaryFormat);
  out.string(t.content);
  out.byte(t.contentFormat);
  out.flush();
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
  int32_t v = transferVersion(s, storing, kNewsItemBodyVersion,
                              "newsItemBody.restore(); soup contains unsupported future object version");
  if (v < kNewsItemBodyVersion) raise("VER", "newsItemBody.restore(); soup contains unsupported old object version");
  version = v;
  transferString(s, storing, encoding);
  transferString(s, storing, statedEncoding);
  transferString(s, storing, publishedText);
  transferString(s, storing, updatedText);
  transferString(s, storing, author);
  transferString(s, storing, imageURL);
  transferString(s, storing, summary);
  summaryFormat = static_cast<uint8_t>(transferUnsignedByte(s, storing, summaryFormat));
  transferString(s, storing, content);
  contentFormat = static_cast<uint8_t>(transferUnsignedByte(s, storing, contentFormat));
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
