// social/social_merge_test.cpp - the merge stage: a page's new items in
// date order.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "news/news_orderings.h"
#include "news/news_test_support.h"
#include "news/short_links.h"
#include "social/social_merge.h"

namespace bw {
namespace {

class SocialMergeTest : public testing_news::NewsTest {
 protected:
  std::mt19937 rng{29};
};

// The keyed sort of a page's items orders them as the list sort by
// published date does: lists of every length to 40 and longer ones, with
// many equal dates, unset and invalid ones among them.
TEST_F(SocialMergeTest, NewestPublishedFirstOrdersAsTheListSort) {
  const bigTime dates[] = {kDateUnset, kDateInvalid, 0, 1, 2, 1000000, 1000060, INT64_MAX};
  for (size_t n : {0, 1, 2, 3, 5, 8, 13, 21, 34, 40, 300, 3200}) {
    std::vector<std::unique_ptr<newsItem>> held;
    std::vector<newsItem*> items;
    cMegaList_class list{false, nullptr, false};
    for (size_t i = 0; i < n; ++i) {
      held.push_back(std::make_unique<newsItem>());
      // Many dates: some equal, some across the whole range (negative ones too).
      const uint64_t r = rng();
      held.back()->published = n <= 40  ? dates[r % std::size(dates)]
                               : r % 3 ? static_cast<bigTime>(r % (n / 4))
                                        : static_cast<bigTime>((r << 32) ^ rng());
      items.push_back(held.back().get());
      list.infoPastEnd()->beforeInsert(list.makeFloating(items.back()));
    }
    if (n > 0) list.sort(gCompareNewsItem_PublishedDate);
    EXPECT_TRUE(newestPublishedFirst(items) == newsItemsOf(list)) << n;
  }
}

}  // namespace
}  // namespace bw
