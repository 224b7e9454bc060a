// social/facebook_downloader_test.cpp - downloads against the fake Graph
// API: the addresses byte for byte, the refusals and the one sign-in, the
// failure kinds, the own-timeline filters, the bounded paging links, the
// account names, and a feed added and updated through the factory.
#include "social/facebook_downloader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "platform/dos_env.h"
#include "platform/spawn_test_support.h"
#include "social/facebook_friends.h"
#include "social/facebook_records.h"
#include "social/facebook_test_support.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

constexpr const char* kFields = "id,message,permalink_url,name,description,type,link,created_time,updated_time";
constexpr const char* kComments = ",comments.filter(stream).order(reverse_chronological)&limit=100";

std::string post(const std::string& id, const std::string& from, bool commented = false) {
  return R"({"id":")" + id + R"(","from":{"id":")" + from + R"(","name":"N)" + from + R"("},"message":"Post )" + id +
         "\"" + (commented ? R"(,"comments":{"data":[{"id":"c1","message":"Hi"}]})" : "") + "}";
}

class FacebookTest : public testing_social::FacebookFixture {
 protected:
  struct Download {
    int32_t openFailed = 0;
    DownloadStep last;
    FeedDocument document;
  };
  // One download driven as the update drives it.
  Download download(const char* userID, bool isGroup = false, bool anyoneElse = false, bigTime since = 0,
                    bigTime until = 0, bigTime olderThan = 0) {
    downloadFacebook d(root->facebookAccessToken, root->facebookUserID);
    Download out;
    out.openFailed = d.open(userID, isGroup, anyoneElse, since, until, nullptr, false, olderThan).failed;
    if (out.openFailed != 0) return out;
    d.saveInit(true, nullptr, kFeedBufferSize);
    for (bool first = true;; first = false) {
      if (cHTTP* http = d.infoHTTP()) http->isReady(1000);
      out.last = d.saveAppend(first, nullptr);
      if (out.last.failed != 0 || out.last.finished) break;
    }
    if (out.last.failed == 0) {
      d.updateFeedInfo(*db, *root);
      out.document = d.getDocument(false);
    }
    d.close();
    return out;
  }
  std::vector<std::string> targetsAfter(size_t from) {
    std::vector<std::string> all = fake->targets();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
  }
  static std::string member(const FeedDocument& d, std::string_view root, const char* name) {
    const webDataNode* node = d.document ? d.document->findNode(root, nullptr, nullptr, nullptr) : nullptr;
    if (!node) return "<none>";
    Str text = twitterMemberText(node, name, false);
    return text ? text.str() : "NIL";
  }
  static std::string postIDs(const FeedDocument& d) {
    const webDataNode* page = d.document ? d.document->findNode(kFacebookTimelineRoot, nullptr, nullptr, nullptr) : nullptr;
    const webDataNode* data = page ? page->findChild("data", nullptr, nullptr, nullptr) : nullptr;
    std::string out;
    for (const webDataNode* p = data ? data->getFirstChild() : nullptr; p; p = p->getNext()) {
      out += twitterMemberText(p, "id", true).str() + (p->findChild("from", nullptr, nullptr, nullptr) ? "+from " : " ");
    }
    return out;
  }

};

TEST_F(FacebookTest, AddressesByteForByte) {
  const std::string F = kFields;
  struct Case {
    const char* userID;
    bool isGroup, anyoneElse;
    bigTime since, until;
    std::string first;
  } cases[] = {
      {nullptr, false, false, 0, 0, "/v2.8/me/feed/?fields=from," + F + kComments + "&access_token=T"},
      {"1000", false, false, 0, 0, "/v2.8/me/feed/?fields=from," + F + kComments + "&access_token=T"},
      {"123", true, false, 0, 0, "/v2.8/123/feed/?fields=from," + F + kComments + "&access_token=T"},
      {"55", false, false, 1, 0, "/v2.8/55/posts/?fields=" + F + kComments + "&__previous=1&since=946684801&access_token=T"},
      {"55", false, true, 0, 1, "/v2.8/55/feed/?fields=from," + F + kComments + "&until=946684800&access_token=T"},
  };
  for (const Case& c : cases) {
    const size_t before = fake->targets().size();
    Download d = download(c.userID, c.isGroup, c.anyoneElse, c.since, c.until);
    ASSERT_EQ(d.last.failed, 0);
    std::vector<std::string> sent = targetsAfter(before);
    ASSERT_FALSE(sent.empty());
    if (sent[0] == "/v2.8/me?access_token=T") sent.erase(sent.begin());
    EXPECT_EQ(sent[0], c.first);
  }
  EXPECT_EQ(fake->targets()[0], "/v2.8/me?access_token=T");
  EXPECT_EQ(root->facebookUserID.view(), "1000");

  // The older page, then the information of a group.
  const size_t before = fake->targets().size();
  Download group = download("123", true, false, 0, 0, 100);
  ASSERT_EQ(group.last.failed, 0);
  std::vector<std::string> sent = targetsAfter(before);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1], "/v2.8/123/feed/?fields=from," + F + "&limit=100&until=946684899&access_token=T");
  EXPECT_EQ(sent[2], "/v2.8/123/?fields=id,name,link,description,owner&access_token=T");
  EXPECT_NE(group.document.document->findNode(kFacebookOlderTimelineRoot, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(member(group.document, kFacebookInfoRoot, "name"), "Some Page (group)");
  EXPECT_EQ(member(group.document, kFacebookInfoRoot, "link"), "https://www.facebook.com/groups/123");
  Download page = download("55");
  EXPECT_EQ(fake->targets().back(), "/v2.8/55/?fields=id,name,link,about&access_token=T");
  EXPECT_EQ(member(page.document, kFacebookInfoRoot, "name"), "Some Page");
}

TEST_F(FacebookTest, RefusedTokens) {
  // 400 on "me": one sign-in, "me" again with the new token; refused again: 6.
  root->facebookAccessToken = Str("old");
  newToken = "never";
  acceptNew = false;
  Download twice = download("55");
  EXPECT_EQ(twice.openFailed, kFeedAuthFailed);
  EXPECT_EQ(signIns, 1);
  EXPECT_EQ(targetsAfter(0), (std::vector<std::string>{"/v2.8/me?access_token=old", "/v2.8/me?access_token=never"}));

  // Error 190 in a 200 answer is a refusal too; the repeat succeeds and the
  // new token is written back.
  fake->settings().refuseWith190 = true;
  root->facebookAccessToken = Str("old");
  root->facebookUserID = Str();
  newToken = "T3";
  acceptNew = true;
  Download renewed = download("55");
  EXPECT_EQ(renewed.last.failed, 0);
  EXPECT_EQ(signIns, 2);
  EXPECT_EQ(root->facebookAccessToken.view(), "T3");

  // A refused information request or paging link ends with 6, without a
  // sign-in; so does a sign-in without a token, and shell mode.
  fake->settings().refuseWith190 = false;
  fake->script("info", 400, "{}");
  EXPECT_EQ(download("55").last.failed, kFeedAuthFailed);
  fake->script("timeline", 200, R"({"data":[],"paging":{"next":"{base}/page/1?access_token=T"}})");
  fake->script("link", 400, "{}");
  EXPECT_EQ(download("55").last.failed, kFeedAuthFailed);
  EXPECT_EQ(signIns, 2);
  newToken = nullptr;
  fake->script("timeline", 400, "{}");
  EXPECT_EQ(download("55").last.failed, kFeedAuthFailed);
  EXPECT_EQ(signIns, 3);
  dos::setShellMode(true);
  fake->script("timeline", 400, "{}");
  EXPECT_EQ(download("55").last.failed, kFeedAuthFailed);
  dos::setShellMode(false);
  EXPECT_EQ(signIns, 3);
}

TEST_F(FacebookTest, FailureKinds) {
  fake->script("timeline", 429, "{}");
  EXPECT_EQ(download("55").last.failed, kFeedBlocked);
  fake->script("timeline", 500, "{}");
  EXPECT_EQ(download("55").last.failed, kFeedNoBody);
  // The information at 500: the download goes without it.
  fake->script("info", 500, "{}");
  Download noInfo = download("55");
  EXPECT_EQ(noInfo.last.failed, 0);
  EXPECT_EQ(noInfo.document.kind, kFeedOk);
  EXPECT_EQ(member(noInfo.document, kFacebookInfoRoot, "name"), "<none>");
  // Not JSON: kind 4 with the raw text.
  fake->script("timeline", 200, "{broken");
  downloadFacebook d(root->facebookAccessToken, Str("1000"));
  ASSERT_EQ(d.open(Text("55"), false, false, 0, 0, nullptr, true, 0).failed, 0);
  FacebookAnswer a = d.downloadNow(false);
  EXPECT_EQ(a.kind, kFeedParseFailed);
  EXPECT_EQ(d.infoParseFailure().text.view(), "{broken");
  // A "me" answer without an id: 5, and nothing opened.
  root->facebookUserID = Str();
  fake->script("me", 200, R"({"name":"Me"})");
  Download noID = download(nullptr);
  EXPECT_EQ(noID.openFailed, kFeedNoBody);
}

TEST_F(FacebookTest, OwnTimelineFiltersAndPagingLinks) {
  root->facebookUserID = Str("1000");
  fake->setPosts({post("1", "1000"), post("2", "1000", true), post("3", "7")});
  Download own = download(nullptr);
  ASSERT_EQ(own.last.failed, 0);
  // Own uncommented posts go; own commented ones lose their author, as the
  // owner's posts of any anyone-else feed.
  EXPECT_EQ(postIDs(own.document), "2 3+from ");
  EXPECT_EQ(member(own.document, kFacebookInfoRoot, "name"), "anyone posting on your Timeline");
  EXPECT_EQ(member(own.document, kFacebookInfoRoot, "link"), "https://www.facebook.com/me/");

  // A page emptied by the filter follows its link.
  fake->script("timeline", 200, R"({"data":[)" + post("4", "1000") + R"(],"paging":{"next":"{base}/page/x?access_token=T"}})");
  fake->script("link", 200, R"({"data":[)" + post("5", "8") + "]}");
  EXPECT_EQ(postIDs(download(nullptr).document), "5+from ");

  // Eleven chained empty pages: ten links followed, then the last page is
  // kept although it names another. A link elsewhere (another port) is not followed.
  fake->script("timeline", 200, R"({"data":[],"paging":{"next":"{base}/page/0?access_token=T"}})");
  for (int i = 1; i <= 10; ++i) {
    fake->script("link", 200, R"({"data":[],"paging":{"next":"{base}/page/)" + std::to_string(i) + "?access_token=T\"}}");
  }
  const size_t before = fake->targets().size();
  Download chained = download("55");
  EXPECT_EQ(chained.last.failed, 0);
  std::vector<std::string> sent = targetsAfter(before);
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& t) { return t.starts_with("/page/"); }), 10);
  EXPECT_EQ(postIDs(chained.document), "");
  test::FakeGraphApi elsewhere;
  elsewhere.acceptToken("T");
  fake->script("timeline", 200, R"({"data":[],"paging":{"next":")" + elsewhere.origin() + R"(/page/1?access_token=T"}})");
  EXPECT_EQ(download("55").last.failed, 0);
  EXPECT_TRUE(elsewhere.targets().empty());
}

TEST_F(FacebookTest, NamesAndFriends) {
  struct Case {
    const char* userID;
    bool isGroup, anyoneElse;
    const char* served;
    const char* name;
  } cases[] = {
      {"55", false, true, "Page", "Page (and anyone else)"},
      {"55", false, false, "Page (and anyone else) (group)", "Page"},
      {"55", false, false, "Page (group)", "Page"},
      {"123", true, false, "Club", "Club (group)"},
  };
  for (const Case& c : cases) {
    fake->script("info", 200, std::string(R"({"id":"x","name":")") + c.served + "\"}");
    Download d = download(c.userID, c.isGroup, c.anyoneElse);
    EXPECT_EQ(member(d.document, kFacebookInfoRoot, "name"), c.name) << c.served;
  }
  // The friends: pairs in order, entries without id or name skipped; an
  // empty "data" is an empty list; no "data" is no list.
  downloadFacebook d(Str("T"), Str("1000"));
  fake->script("friends", 200, R"({"data":[{"id":"1","name":"Ann"},{"name":"No id"},{"id":"2","name":"Bo"}]})");
  FacebookFriends friends = facebookFetchFriends(d);
  EXPECT_EQ(fake->targets().back(), "/v2.8/me/friends?access_token=T");
  ASSERT_TRUE(friends.friends.has_value());
  ASSERT_EQ(friends.friends->size(), 2u);
  EXPECT_EQ((*friends.friends)[1].key.view(), "2");
  EXPECT_EQ((*friends.friends)[1].value.view(), "Bo");
  fake->script("friends", 200, R"({"data":[]})");
  FacebookFriends none = facebookFetchFriends(d);
  EXPECT_TRUE(none.friends.has_value() && none.friends->empty() && none.error == 0);
  fake->script("friends", 200, R"({"error":{"code":1}})");
  EXPECT_FALSE(facebookFetchFriends(d).friends.has_value());
  fake->script("friends", 500, "{}");
  EXPECT_EQ(facebookFetchFriends(d).error, kFeedNoBody);
}

TEST_F(FacebookTest, FeedAddedByItsAddressAndUpdated) {
  root->facebookUserID = Str("1000");
  fake->setPosts({R"({"id":"55_1","message":"First","created_time":"2017-06-01T10:00:00+0000"})"});
  AddUpdateResult added = add("https://www.facebook.com/SomePage");
  ASSERT_NE(added.feed, nullptr) << (reports().empty() ? "" : reports()[0]);
  EXPECT_EQ(added.feed->type.view(), "Facebook v2.8");
  EXPECT_EQ(added.feed->uniqueID.view(), "somepage");
  EXPECT_EQ(fake->targets().front(), "/v2.8/somepage?access_token=T");
  // The next update asks only for what is newer than the kept items.
  const size_t before = fake->targets().size();
  AddUpdateResult updated = update(added.feed);
  EXPECT_EQ(updated.feed, added.feed);
  ASSERT_GT(fake->targets().size(), before);
  EXPECT_NE(fake->targets()[before].find("/v2.8/somepage/posts/?fields="), std::string::npos);
  EXPECT_NE(fake->targets()[before].find("&__previous=1&since="), std::string::npos);
  // A refused sign-in fails the update (the feed is marked), and the add
  // of an address, whose open answers kind 6 for the add dialog to tell.
  newToken = nullptr;
  fake->script("timeline", 400, "{}");
  EXPECT_EQ(update(added.feed).feed, nullptr);
  EXPECT_TRUE(added.feed->downloadFailed);
  root->facebookAccessToken = Str("refused");
  root->facebookUserID = Str();
  DownloaderMade refused = createDownloaderForURL(*root, "https://www.facebook.com/OtherPage", nullptr, nullptr);
  EXPECT_EQ(refused.downloader, nullptr);
  EXPECT_EQ(refused.failed, kFeedAuthFailed);
}

}  // namespace
}  // namespace bw
