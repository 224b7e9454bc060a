// news/news_item_glance.cpp - glancing at stored items.
#include "news/news_item_glance.h"

#include <utility>

#include "core/exception.h"
#include "news/news_load.h"

namespace bw {
namespace {

const char kNoRecord[] = "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index";

}  // namespace

const newsItem* ItemGlance::look(int32_t index) {
  clear();
  countNewsItemLoad();
  db_.requireOpen("loadObject");
  if (index <= 0) return nullptr;
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
    read_->textsRead = reads_;
  }
  try {
    db_.readRecordInto(index, *read_);
  } catch (const eException& e) {
    if (e.code() == "EMU" && e.message() == kNoRecord) return nullptr;
    throw;
  }
  item_ = read_.get();
  return item_;
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
  if (newsItem* loaded = std::exchange(loaded_, nullptr)) db_.unloadObject(loaded);
}

}  // namespace bw
