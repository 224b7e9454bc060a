// news/feed_tags_test.cpp - tag normalisation, visibility, the tag space and
// the rename, stored and reopened.
#include "news/feed_tags.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/exception.h"
#include "news/news_show_test_support.h"

namespace bw {
namespace {

using testing_news::FakeList;

class FeedTagsTest : public testing_news::NewsShowTest {
 protected:
  newsFeed* tagged(const char* tags) {
    newsFeed* feed = chainFeed();
    feed->setTags(*db, utf8, utf8, tags);
    return feed;
  }
  Str storedTags(int32_t index) {
    LoadedUse use(*db, loadObject_newsFeed(*db, index));
    return static_cast<newsFeed*>(db->findLoadedObject(index, 0))->tags;
  }
};

TEST(ParseTagText, NormalisesOrAnswersNil) {
  struct {
    const char* in;
    const char* want;  // NIL: unchanged
  } cases[] = {
      {" a , b,,A ,c\t", "a,b,c\t"},  // trimmed, empty and repeated (case ignored) pieces dropped
      {"a,b,c\t", nullptr},
      {"\ta\t,b", nullptr},  // tabs stay
      {"News,news", "News"},
      {"x,", "x"},
      {"", ""},
      {nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in ? c.in : "NIL");
    EXPECT_EQ(parseTagText(c.in), Str(c.want));
  }
}

TEST_F(FeedTagsTest, SetTagsStoresEnclosedTextAndVisibilityFollowsTheChooser) {
  newsFeed* feed = tagged("news,tech");
  newsFeed* bare = tagged("");
  EXPECT_EQ(feed->tags, "," "news,tech" ",");
  EXPECT_TRUE(bare->tags.isNil());
  EXPECT_EQ(bare->infoTags(&utf8), "");
  feed->clearTagsCache();
  EXPECT_EQ(feed->infoTags(&utf8), "news,tech");

  FakeList none, chooser;
  none.add("news", false);
  chooser.add("new", true).add("other", false).add("tech", true);
  FakeList prefixOnly;
  prefixOnly.add("new", true).add("ech", true);
  struct {
    newsFeed* feed;
    GuiListSelection* list;
    bool want;
  } cases[] = {
      {feed, nullptr, true}, {bare, nullptr, true},    {feed, &none, true},        {bare, &none, true},
      {bare, &chooser, false}, {feed, &chooser, true}, {feed, &prefixOnly, false},
  };
  for (const auto& c : cases) EXPECT_EQ(feedHasVisibleTag(*c.feed, c.list, &utf8), c.want);
}

TEST_F(FeedTagsTest, TagSpaceOrsFlagsUnderTheFirstSpelling) {
  newsFeed* unseen = tagged("News,shared");
  unseen->seenUpToTime = kNow - kDay;
  unseen->newestItemTime = kNow;
  newsFeed* fresh = tagged("news,shared,solo");
  fresh->hasNewItems = true;
  tagged("quiet");
  auto space = getAllFeedUserTags(*root, &utf8);
  std::map<std::string, int32_t> got;
  for (bool more = space->gotoFirst(); more; more = space->gotoNext()) {
    got[space->infoCurrent().key->str()] = static_cast<boxVALUE*>(space->infoCurrent().data)->value;
  }
  EXPECT_EQ(got, (std::map<std::string, int32_t>{{"News", 5}, {"shared", 5}, {"solo", 4}, {"quiet", 0}}));

  newsFeed* unreadable = chainFeed();
  unreadable->tags = Str(",x,");
  unreadable->docFormat.reset();
  expectRaise([&] { getAllFeedUserTags(*root, &utf8); }, "BUG", "getAllFeedUserTags(); visibleUserTags=NILS");
}

TEST_F(FeedTagsTest, RenameReplacesTheFirstWholeTagInEveryOtherFeed) {
  struct {
    const char* tags;
    const char* oldTag;
    const char* newTag;
    const char* want;
  } cases[] = {
      {"a,b,c", "b", "xy", ",a,xy,c,"},  // longer
      {"a,b,c", "b", "z", ",a,z,c,"},    // same length, in place
      {"b,x,b", "b", "z", ",z,x,b,"},    // first occurrence only
      {"bb,B", "b", "z", ",bb,B,"},      // whole tags, letter case counts
      // A new name of several tags: split at the commas, trimmed, empty
      // ones and repeats dropped.
      {"a,b,c", "b", "x,y ,  , z", ",a,x,y,z,c,"},
      {"a,b,c", "b", " A ", ",a,c,"},
      {"b", "b", " , ", ""},  // no tag left: NIL
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    root->firstLoadedFeed = nullptr;
    newsFeed* feed = tagged(c.tags);
    newsFeed* skipped = tagged(c.tags);
    feed->infoTags(&utf8);
    renameFeedTag(c.oldTag, c.newTag, *db, *root, utf8, utf8, skipped);
    const Str stored = storedTags(feed->infoSoupIndex());
    EXPECT_EQ(stored.isNil() ? std::string() : stored.str(), c.want);
    EXPECT_EQ(stored.isNil(), *c.want == 0);
    EXPECT_EQ(skipped->tags, "," + std::string(c.tags) + ",");
    EXPECT_EQ(feed->tagsCache.isNil(), skipped->tags != c.want);  // dropped only when renamed
  }
}

TEST_F(FeedTagsTest, FailedRenameChangesNoFeed) {
  int32_t first = tagged("a,b")->infoSoupIndex();
  newsFeed* unstored = new newsFeed;  // cannot be saved: the rename fails after the first feed
  unstored->type = Str("Atom");
  unstored->docFormat = feedTypeToDocFormat(unstored->type);
  unstored->tags = Str(",b,");
  root->firstLoadedFeed->nextLoadedFeed = unstored;
  std::unique_ptr<newsFeed> owner(unstored);
  EXPECT_THROW(renameFeedTag("b", "c", *db, *root, utf8, utf8, nullptr), eException);
  reopenNews();
  EXPECT_EQ(storedTags(first), ",a,b,");
}

TEST_F(FeedTagsTest, SingleByteDisplayTextIsStoredAsUtf8) {
  cCharset latin1;
  ASSERT_TRUE(latin1.load("ISO-8859-1", false));
  newsFeed* feed = chainFeed();
  feed->setTags(*db, latin1, utf8, "caf\xE9,tea");
  EXPECT_EQ(feed->tags, ",caf\xC3\xA9,tea,");
  renameFeedTag("caf\xE9", "th\xE9", *db, *root, latin1, utf8, nullptr);
  EXPECT_EQ(storedTags(feed->infoSoupIndex()), ",th\xC3\xA9,tea,");
  EXPECT_EQ(feed->infoTags(&latin1), "th\xE9,tea");
}

}  // namespace
}  // namespace bw
