// news/news_item_glance_test_support.h - the fields a glance gives, as one
// value, for the tests and the fuzz target that hold a glance against a load,
// and how an item's read ended, for those that hold a straight read against
// the transfers.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "core/exception.h"
#include "news/news_format.h"
#include "news/news_objects.h"
#include "platform/memory_restore_stream.h"

namespace bw::testing_news {

inline auto glanceFields(const newsItem& i) {
  return std::tuple(i.infoNextIndex(), i.infoPrevIndex(), i.version, i.feedIndex, i.titleFormat, i.link.isNil(),
                    i.link.str(), i.link.capacity(), i.uniqueID.isNil(), i.uniqueID.str(), i.uniqueID.capacity(),
                    i.published, i.updated, i.downloaded, i.olderDuplicateItemIndex, i.newestDuplicateItemIndex,
                    i.seen, i.secondMark, i.bodyIndex);
}

// How an item's read ended: where, with which version and fields (stored
// again, texts with their capacities), or why it failed.
struct ItemRead {
  std::string failure;
  int64_t remaining = 0;
  int32_t version = 0;
  std::vector<uint8_t> fields;
  bool operator==(const ItemRead&) const = default;
};

// record read keeping texts, from a memory stream that shows its bytes
// ahead or not.
inline ItemRead readItem(const std::vector<uint8_t>& record, newsItem::Texts texts, bool showAhead) {
  cRestoreStream_memory stream;
  stream.setInput(record.data(), record.size(), showAhead);
  ItemRead r;
  newsItem item;
  item.textsRead = texts;
  try {
    restoreRecord(item, stream, false, false);
    r.remaining = stream.infoRemaining();
    r.version = item.version;
    item.textsRead = newsItem::Texts::kAll;
    r.fields = recordOf(item);
  } catch (const eException& e) {
    r.failure = e.code() + " " + e.message();
  }
  return r;
}

}  // namespace bw::testing_news
