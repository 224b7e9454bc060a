// news/news_dump_test.cpp - the news model as text: one small model against
// its golden lines.
#include <gtest/gtest.h>

#include "news/news_dump.h"
#include "news/news_test_support.h"

namespace bw {
namespace {

class NewsDumpTest : public testing_news::NewsTest {};

TEST_F(NewsDumpTest, OneLinePerObject) {
  auto* root = new newsRoot;
  root->init(db.get());
  root->twitterToken = Str("t\"k\n");
  db->setRootValue(db->createdObject(root));
  newsFeed* feed = makeFeed("Atom");
  feed->title = Str("Feed");
  feed->seenUpToTime = pTime::DateTimeToBigTime(2024, 2, 29, 23, 59, 58);
  db->saveChangesToObject(feed);
  root->feedList->insertAtTail(feed->infoSoupIndex());
  int32_t a = addItem(feed, "A"), b = addItem(feed, "B");
  newsItem* itemA = item(a, feed);
  newsItem* itemB = item(b, feed);
  itemA->published = kDateInvalid, itemA->updated = 0, itemA->downloaded = kDateUnset;
  itemA->addAsNewestDuplicate(*db, itemB);
  db->unloadObject(itemB);
  db->unloadObject(itemA);
  db->unloadObject(feed);
  db->unloadObject(root);
  reopen();
  EXPECT_EQ(dumpNewsModel(*db),
            "root 2 feedList=1 twitterToken=\"t\\\"k\\x0A\" twitterTokenSecret=NIL facebookAccessToken=NIL "
            "facebookUserID=NIL rootText5=NIL rootValue64=0\n"
            "feed 4 type=\"Atom\" title=\"Feed\" url=NIL uniqueID=NIL userName=NIL tags=NIL filter=NIL disabled=0 "
            "selected=0 seenUpTo=2024-02-29 23:59:58 noOlderItems=0 credit=0 downloadLength=0 "
            "summaryIsContents=0 notUpdates=0 useDownloadDate=0 items=2\n"
            "item 6 published=invalid updated=2000-01-01 00:00:00 downloaded=unset uniqueID=NIL title=\"A\" "
            "older=0 newest=8 seen=0\n"
            "item 8 published=2000-01-01 00:00:00 updated=2000-01-01 00:00:00 downloaded=2000-01-01 00:00:00 "
            "uniqueID=NIL title=\"B\" older=6 newest=0 seen=0\n");
  EXPECT_EQ(dumpDate(-1), "1999-12-31 23:59:59");
  EXPECT_EQ(dumpDate(INT64_MAX), "9223372036854775807");
}

}  // namespace
}  // namespace bw
