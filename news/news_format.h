// news/news_format.h - the stored records of the news objects: the dates and
// format codes every record uses, the object versions, and restoreSTRING.
//
// Values go through the store/restore transfers, big-endian:
//   BOOL transferBool (TRUE = FF, any non-zero byte reads TRUE)
//   BYTE transferUnsignedByte      LONG transferValue (4 bytes)
//   BIG  transferBigValue (8)      COMPACT transferCompactValue (1-5 bytes)
//   STRING restoreSTRING: one version byte, then
//     FF   NIL (written for every NIL string)
//     01   COMPACT capacity, COMPACT length, length bytes (written otherwise)
//     00   read only: LONG capacity, bytes up to and including a zero byte
//
// Records (FROM = first version holding the field; an older record reads the
// default in brackets; [h] = only when skipHeader is FALSE):
//   newsRoot v8:  LONG version, STRING twitterToken (3), twitterTokenSecret
//     (4), facebookAccessToken (5), facebookUserID (6), rootText5 (7), BIG
//     rootValue64 (8, 0), LONG feedListIndex.
//   newsFeed v13: [h] LONG next, LONG prev; LONG version; STRING title, url,
//     uniqueID, type; BOOL disabled (7), selectedInList (12); BIG seenUpToTime
//     (5, unset); BOOL noOlderItems (13); COMPACT twitterUpdateCredit (11);
//     STRING updatedText, imageURL, language, subtitle, rights, generator; BIG
//     downloadLength (6, -1); STRING userName (3), tags (4); BOOL
//     summaryIsContents (2), notUpdates (10); STRING filter (9); BOOL
//     useDownloadDate (8); [h] LONG itemListIndex.
//   newsItem v9:  [h] LONG next, LONG prev; LONG version; LONG feedIndex (5,
//     0; [h]); STRING title; BYTE titleFormat; STRING link, statedLink (7),
//     uniqueID; BIG published (2, unset), updated (2, unset), downloaded (6,
//     unset); COMPACT olderDuplicateItemIndex (8), newestDuplicateItemIndex
//     (8); STRING tags (9); BOOL seen (3), secondMark (4); [h] LONG bodyIndex.
//   newsItemBody v5 only: LONG version; STRING encoding, statedEncoding,
//     publishedText, updatedText, author, imageURL, summary; BYTE
//     summaryFormat; STRING content; BYTE contentFormat.
//   Backup dump: BOOL isNil, then (when FALSE) the record with skipHeader.
//
// Invariants:
//   1. A newer version than the class writes raises "VER" (a body below 5
//      too); nothing is read past a failed field.
//   2. restoreSTRING keeps the capacity: a string read back carries its
//      stored capacity, so an unchanged object rewrites identical bytes.
//   3. A damaged string record never makes restoreSTRING allocate more than
//      the bytes it reads (see below).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/str.h"
#include "platform/memory_restore_stream.h"
#include "platform/restore_stream.h"
#include "platform/time.h"

namespace bw {

// Dates are bigTime: seconds since 2000-01-01 00:00:00, signed 64-bit.
// A date that was never set (high word -1, low word 0x80000000).
inline constexpr bigTime kDateUnset = -2147483648LL;
// A date text that could not be read (high word -1, low word 0x80000001).
inline constexpr bigTime kDateInvalid = -2147483647LL;
// Valid dates are those above the invalid date (signed 64-bit).
inline constexpr bool isValidDate(bigTime date) { return date > kDateInvalid; }

// Format codes of stored titles and body texts.
inline constexpr uint8_t kFormatDetect = 0;
inline constexpr uint8_t kFormatPlainText = 1;
inline constexpr uint8_t kFormatHTML = 2;
inline constexpr uint8_t kFormatXHTML = 3;

// The versions each class writes.
inline constexpr int32_t kNewsRootVersion = 8;
inline constexpr int32_t kNewsFeedVersion = 13;
inline constexpr int32_t kNewsItemVersion = 9;
inline constexpr int32_t kNewsItemBodyVersion = 5;

// Writes s and returns it, or reads and returns a new string (the s passed
// in is then ignored). Reading raises "BUG" "restoreSTRING(); unknown
// version" for a version byte other than FF, 00, 01, and "BUG"
// "restoreSTRING(); damaged string record" for a negative capacity or
// length, a length above the capacity, a length above the bytes left in a
// bounded stream (the soup's record stream, the memory stream), or a
// version 0 text without its zero within capacity + 1 bytes.
Str restoreSTRING(cRestoreStreamBase& stream, bool storing, const Str& s);
// A string of a record as storeSTRING writes it: nil, or its text and
// capacity.
struct RecordString {
  bool nil = true;
  std::string_view text;
  int32_t capacity = 0;
};
// restoreSTRING's store, without a copy of s to give back.
void storeSTRING(cRestoreStreamBase& stream, const Str& s);
// The same of a text that lives elsewhere.
void storeSTRING(cRestoreStreamBase& stream, const RecordString& s);
// Reads past a string record with restoreSTRING's checks and messages,
// keeping none of its bytes.
void skipSTRING(cRestoreStreamBase& stream);

// Transfers an object's record through stream: with skipHeader the backup
// form (a class without that form, the root, has only the one).
template <class T>
void restoreRecord(T& object, cRestoreStreamBase& stream, bool storing, bool skipHeader) {
  if constexpr (requires { object.restore(stream, storing, skipHeader); }) {
    object.restore(stream, storing, skipHeader);
  } else {
    object.restore(stream, storing);
  }
}
// The bytes of an object's record.
template <class T>
std::vector<uint8_t> recordOf(T& object, bool skipHeader = false) {
  cRestoreStream_memory stream;
  restoreRecord(object, stream, true, skipHeader);
  return stream.infoOutput();
}

}  // namespace bw
