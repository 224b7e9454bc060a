// news/news_item_glance_test_support.h - the fields a glance gives, as one
// value, for the tests and the fuzz target that hold a glance against a load.
#pragma once

#include <string>
#include <tuple>

#include "news/news_objects.h"

namespace bw::testing_news {

inline auto glanceFields(const newsItem& i) {
  return std::tuple(i.infoNextIndex(), i.infoPrevIndex(), i.version, i.feedIndex, i.titleFormat, i.link.isNil(),
                    i.link.str(), i.link.capacity(), i.uniqueID.isNil(), i.uniqueID.str(), i.uniqueID.capacity(),
                    i.published, i.updated, i.downloaded, i.olderDuplicateItemIndex, i.newestDuplicateItemIndex,
                    i.seen, i.secondMark, i.bodyIndex);
}

}  // namespace bw::testing_news
