// news/item_body_record.h - an item body's stored record written from texts
// that live elsewhere: a parser that stores a body and lets it go at once
// needs no newsItemBody with copies of texts its document already holds.
//
// Invariants:
//   1. storeItemBodyRecord writes the bytes newsItemBody stores for fields
//      with the same texts, capacities and NILs.
//   2. A newsItemBodyRecord is only ever stored: its texts must stay valid
//      until the soup has stored it; reading one raises "BUG".
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/str.h"
#include "database/indexed_object.h"
#include "news/news_objects.h"

namespace bw {

// A record's string of text as Str(text) would hold it: capacity
// max(length, 1).
inline RecordString recordStringOf(std::string_view text) {
  return {false, text, text.empty() ? 1 : static_cast<int32_t>(text.size())};
}
// A view of s (valid while s is).
inline RecordString recordStringOf(const Str& s) { return {s.isNil(), s.view(), s.capacity()}; }

// The fields of a newsItemBody's record.
struct ItemBodyTexts {
  RecordString encoding, statedEncoding, publishedText, updatedText, author, imageURL, summary;
  uint8_t summaryFormat = kFormatDetect;
  RecordString content;
  uint8_t contentFormat = kFormatDetect;
};

// Stores the record of a body with these fields.
void storeItemBodyRecord(cRestoreStreamBase& stream, const ItemBodyTexts& texts);

// A body stored from views (invariant 2), for createdAndUnloadObject. A
// text the document does not hold as it is stored goes into held, and its
// view into texts.
class newsItemBodyRecord : public cIndexedObject {
  BW_CLASS(newsItemBodyRecord, cIndexedObject)

 public:
  void restore(cRestoreStreamBase& stream, bool storing) override;

  ItemBodyTexts texts;
  // Texts converted for the record; a view into one stays valid as long as
  // this object, which does not move its members.
  std::array<Str, 3> held;
};

}  // namespace bw
