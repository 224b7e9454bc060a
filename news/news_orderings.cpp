// news/news_orderings.cpp - date orderings, the news-list row order, the tag
// row source and the news module.
#include "news/news_orderings.h"

#include "core/exception.h"
#include "news/news_objects.h"

namespace bw {

fCompareMegaNodes_newsFeed_itemHeadDate* gCompareNewsFeed_itemHeadDate = nullptr;
fCompareMegaNodes_newsItem_PublishedDate* gCompareNewsItem_PublishedDate = nullptr;
fCompareMegaNodes_newsItem_UpdatedElsePublishedDate* gCompareNewsItem_UpdatedElsePublishedDate = nullptr;
fCompareMegaNodes_newsItem_latestDate* gCompareNewsItem_latestDate = nullptr;
fCompareNewsItems* gCompareNewsItems = nullptr;
iterateFilterTagList* gIterateFilterTagList = nullptr;

namespace {

template <class T>
int32_t sign(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

template <class T>
T* objectOf(MegaNode* node) {
  return static_cast<T*>(cMegaMiniList_class::getData(node));
}

template <class Key>
int32_t compareItems(MegaNode* a, MegaNode* b, Key key) {
  return sign(key(*objectOf<newsItem>(a)), key(*objectOf<newsItem>(b)));
}

}  // namespace

int32_t fCompareMegaNodes_newsFeed_itemHeadDate::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  return sign(objectOf<newsFeed>(a)->newestItemTime, objectOf<newsFeed>(b)->newestItemTime);
}

int32_t fCompareMegaNodes_newsItem_PublishedDate::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  return compareItems(a, b, [](newsItem& i) { return i.published; });
}

int32_t fCompareMegaNodes_newsItem_UpdatedElsePublishedDate::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  return compareItems(a, b, [](newsItem& i) { return i.updated != kDateUnset ? i.updated : i.published; });
}

int32_t fCompareMegaNodes_newsItem_latestDate::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  return compareItems(a, b, [](newsItem& i) { return i.infoUpdatedElsePublishedDate(false); });
}

int32_t fCompareNewsItems::call(const Str&, const Str&, int32_t data1, int32_t data2, const box* dataBox1,
                                const box* dataBox2) {
  for (const box* b : {dataBox1, dataBox2}) {
    if (!b || !b->isOfClass(boxBIGVALUE::kClassName)) raise("BUG", "fCompareNewsItems(); a DataBox=NIL");
  }
  int32_t byDate = sign(static_cast<const boxBIGVALUE*>(dataBox1)->value,
                        static_cast<const boxBIGVALUE*>(dataBox2)->value);
  return byDate != 0 ? byDate : sign(data1, data2);
}

void iterateFilterTagList::set(cStringSpace* tags) {
  tags_ = tags;
  atEnd_ = !tags_ || !tags_->gotoFirst();
}

GuiListRow iterateFilterTagList::call() {
  GuiListRow row;
  if (atEnd_) return row;
  StringSpaceEntry entry = tags_->infoCurrent();
  row.label = Str(entry.key ? entry.key->view() : std::string_view());
  if (entry.data && entry.data->isOfClass(boxVALUE::kClassName)) row.style = static_cast<boxVALUE*>(entry.data)->value;
  atEnd_ = !tags_->gotoNext();
  return row;
}

void initNewsModule() {
  gCompareNewsFeed_itemHeadDate = new fCompareMegaNodes_newsFeed_itemHeadDate;
  gCompareNewsItem_PublishedDate = new fCompareMegaNodes_newsItem_PublishedDate;
  gCompareNewsItem_UpdatedElsePublishedDate = new fCompareMegaNodes_newsItem_UpdatedElsePublishedDate;
  gCompareNewsItem_latestDate = new fCompareMegaNodes_newsItem_latestDate;
  gCompareNewsItems = new fCompareNewsItems;
  gIterateFilterTagList = new iterateFilterTagList;
}

void endNewsModule() {
  delete gIterateFilterTagList;
  delete gCompareNewsItems;
  delete gCompareNewsItem_latestDate;
  delete gCompareNewsItem_UpdatedElsePublishedDate;
  delete gCompareNewsItem_PublishedDate;
  delete gCompareNewsFeed_itemHeadDate;
  gIterateFilterTagList = nullptr;
  gCompareNewsItems = nullptr;
  gCompareNewsItem_latestDate = nullptr;
  gCompareNewsItem_UpdatedElsePublishedDate = nullptr;
  gCompareNewsItem_PublishedDate = nullptr;
  gCompareNewsFeed_itemHeadDate = nullptr;
}

}  // namespace bw
