// news/news_orderings.h - the orderings of feeds and items and the tag
// chooser's row source, with the news module that makes their shared
// instances.
//
// Invariants:
//   1. Every comparator answers -1 when A's key is smaller, 1 when greater,
//      0 when equal, comparing signed 64-bit dates: unset < invalid < every
//      valid date. The list sort keeps A before B on 0 or 1, so a sorted
//      list starts with the newest date and keeps ties in input order.
//   2. The node comparators read the nodes' objects of a cMegaList_class:
//      feeds for the first, items for the others.
//   3. The shared instances exist between initNewsModule and endNewsModule
//      (NIL outside).
#pragma once

#include <cstdint>

#include "core/gui_list_functions.h"
#include "core/mega_list_family.h"
#include "core/ordering.h"
#include "core/string_space.h"

namespace bw {

// Feeds by newestItemTime.
class fCompareMegaNodes_newsFeed_itemHeadDate : public fCompareMegaNodes {
  BW_CLASS(fCompareMegaNodes_newsFeed_itemHeadDate, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;
};

// Items by the stored published date.
class fCompareMegaNodes_newsItem_PublishedDate : public fCompareMegaNodes {
  BW_CLASS(fCompareMegaNodes_newsItem_PublishedDate, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;
};

// Items by updated, or published while updated is unset (stored fields).
class fCompareMegaNodes_newsItem_UpdatedElsePublishedDate : public fCompareMegaNodes {
  BW_CLASS(fCompareMegaNodes_newsItem_UpdatedElsePublishedDate, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;
};

// Items by infoUpdatedElsePublishedDate(FALSE): follows useDownloadDate.
class fCompareMegaNodes_newsItem_latestDate : public fCompareMegaNodes {
  BW_CLASS(fCompareMegaNodes_newsItem_latestDate, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;
};

// News-list rows by their data boxes (boxBIGVALUE dates), then by their data
// words (signed 32-bit). A missing box (or one of another kind) raises "BUG"
// "fCompareNewsItems(); a DataBox=NIL".
class fCompareNewsItems : public fGuiListSort {
  BW_CLASS(fCompareNewsItems, fGuiListSort)
 public:
  int32_t call(const Str& label1, const Str& label2, int32_t data1, int32_t data2, const box* dataBox1,
               const box* dataBox2) override;
};

// The tag chooser's rows: one per entry of a tag space, label = the tag,
// style = the entry's flags (a boxVALUE). set() positions it on the first
// entry; each call yields the current entry and steps on; NIL at the end
// (at once for an empty space). The space must outlive the rows' filling.
class iterateFilterTagList : public fGuiListEntries {
  BW_CLASS(iterateFilterTagList, fGuiListEntries)
 public:
  void set(cStringSpace* tags);
  GuiListRow call() override;

 private:
  cStringSpace* tags_ = nullptr;
  bool atEnd_ = true;
};

extern fCompareMegaNodes_newsFeed_itemHeadDate* gCompareNewsFeed_itemHeadDate;
extern fCompareMegaNodes_newsItem_PublishedDate* gCompareNewsItem_PublishedDate;
extern fCompareMegaNodes_newsItem_UpdatedElsePublishedDate* gCompareNewsItem_UpdatedElsePublishedDate;
extern fCompareMegaNodes_newsItem_latestDate* gCompareNewsItem_latestDate;
extern fCompareNewsItems* gCompareNewsItems;
extern iterateFilterTagList* gIterateFilterTagList;

void initNewsModule();
void endNewsModule();

}  // namespace bw
